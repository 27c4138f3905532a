#include "support/RawPeer.h"
#include "ui/MainWindow.h"
#include "ui/OptionsDialog.h"
#include "ui/OptionsPages.h"
#include "ui/TranscriptArea.h"
#include "ui/TranscriptPane.h"
#include "ui/TypedTextFilter.h"
#include "ui/WindowTestTools.h"

#include <QCheckBox>
#include <QClipboard>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextBrowser>

#include <variant>

namespace {

// An option of the set, set from a text ("1"/"0" for a Boolean).
using Member = std::variant<QString Options::*, bool Options::*, int Options::*>;
void set(Options& o, const Member& m, const QString& v)
{
    std::visit(
        [&](auto p) {
            if constexpr (std::is_same_v<decltype(p), QString Options::*>)
                o.*p = v;
            else
                o.*p = std::is_same_v<decltype(p), bool Options::*> ? v == "1" : v.toInt();
        },
        m);
}

// What a control shows: a box "1"/"0", a text, a colour as its decimal text, or for a row of
// option buttons (Name_0, Name_1, ...) the index selected, "none"; "-" when the row is disabled.
QString shown(OptionsDialog* d, const QString& control)
{
    QWidget* c = d->findChild<QWidget*>(control);
    if (auto* b = qobject_cast<QCheckBox*>(c))
        return b->isChecked() ? "1" : "0";
    if (auto* e = qobject_cast<QLineEdit*>(c))
        return e->text();
    if (auto* k = qobject_cast<QComboBox*>(c))
        return k->currentText();
    if (auto* l = qobject_cast<QLabel*>(c))
        return control.endsWith("ColorLabel") ? OptionsDialog::colourText(d->labelColour(l)) : l->text();
    QString selected = "none", off;
    for (int i = 0; auto* r = d->findChild<QRadioButton*>(control + '_' + QString::number(i)); ++i) {
        if (r->isChecked())
            selected = QString::number(i);
        off = r->isEnabled() ? "" : "-";
    }
    return selected + off;
}

// Changes a control as the user would: clicks, types over a box, picks from the list, picks
// a colour or a folder in its picker ("cancel" cancels it).
void change(OptionsDialog* d, const QString& control, const QString& value)
{
    QWidget* c = d->findChild<QWidget*>(control);
    auto* label = qobject_cast<QLabel*>(c);
    if (auto* b = qobject_cast<QCheckBox*>(c)) {
        const QString selected = shown(d, "LogOption");
        if (b->isChecked() != (value == "1"))
            clickIndicator(b);
        // Unticked, the four buttons are cleared and disabled; ticked, enabled with none
        // selected by that, so that OK keeps the mode.
        if (b == d->pages->loggingCheck)
            QCOMPARE(shown(d, "LogOption"), value == "1" ? selected.chopped(selected.endsWith('-')) : "none-");
    } else if (auto* e = qobject_cast<QLineEdit*>(c)) {
        e->clear();
        QTest::keyClicks(e, value);
    } else if (auto* k = qobject_cast<QComboBox*>(c)) {
        k->setCurrentText(value);
    } else if (label && control.endsWith("ColorLabel")) {
        const QColor before = d->labelColour(label);
        QTest::mouseClick(label, Qt::LeftButton);
        auto* picker = d->findChild<QColorDialog*>("ColorPicker");
        QVERIFY(picker && picker->isVisible() && picker->currentColor() == before);
        picker->setCurrentColor(TranscriptArea::colourOf(value));
        value == "cancel" ? picker->reject() : picker->accept();
        picker->setObjectName(QString()); // the next pick finds its own picker
    } else if (label) {
        const QString before = label->text();
        (control == "LogDirLabel" ? d->pages->logBrowseButton : d->pages->downloadBrowseButton)->click();
        auto* picker = d->findChild<QFileDialog*>("BrowseFolder");
        QVERIFY(picker && picker->isVisible());
        value == "cancel" ? picker->reject() : Q_EMIT picker->fileSelected(value);
        const bool refused = value.contains('[');
        QCOMPARE(bool(d->findChild<QMessageBox*>("folderMessage")), refused);
        QVERIFY(label->text().endsWith(value == "cancel" || refused ? before : value.right(20)));
    } else {
        auto* r = d->findChild<QRadioButton*>(control + '_' + value);
        QVERIFY(r);
        clickIndicator(r);
    }
}

OptionsDialog* openOptions(MainWindow& w)
{
    act(&w, "mnu_Opt")->trigger();
    return w.findChild<OptionsDialog*>();
}

// One row of the load-and-store table: the option shown by control, as stored before, as
// shown on opening, the changes made ("|" between steps) and as stored after OK.
struct Row {
    const char* control;
    Member option;
    QString before, shows, set, after;
};
QList<Row> rows()
{
    const QString d40 = "/home/ann/Downloads/from-peers/zantiro40", d35 = "/home/ann/Downloads/from-peers/ab35",
                  d34 = "/home/ann/Downloads/from-peers/a34", l27 = "/home/ann/logs/zantiro/lo27",
                  l26 = "/home/ann/logs/zantiro/l26";
    return {
        {"TimeStampCheck", &Options::timeStamps, "0", "0", "1", "1"},
        {"ChatBarCheck", &Options::showChatBar, "1", "1", "0", "0"},
        {"MinToTrayCheck", &Options::minimizeToTray, "0", "0", "1", "1"},
        {"ConnectColorLabel", &Options::connectColor, "32768", "32768", "255", "255"},
        {"ErrorColorLabel", &Options::errorColor, "128", "128", "16711680", "16711680"},
        {"StatusColorLabel", &Options::statusColor, "8421504", "8421504", "cancel", "8421504"},
        {"MsgColorLabel", &Options::messageColor, "0", "0", "12345678", "12345678"},
        {"BoxLayoutOption", &Options::boxLayout, "1", "1", "0", "0"},
        {"BoxLayoutOption", &Options::boxLayout, "0", "0", "1", "1"},
        {"BoxLayoutOption", &Options::boxLayout, "7", "1", "", "1"},
        {"MessageBlinkCheck", &Options::messageBlink, "1", "1", "0", "0"},
        {"ErrorBlinkCheck", &Options::errorBlink, "0", "0", "1", "1"},
        {"StatusBlinkCheck", &Options::statusBlink, "0", "0", "1", "1"},
        {"ConnectBlinkCheck", &Options::connectBlink, "1", "1", "0", "0"},
        {"LogOption", &Options::logMode, "0", "0", "1", "2"},
        {"LogOption", &Options::logMode, "2", "1", "2", "1"},
        {"LogOption", &Options::logMode, "1", "2", "3", "3"},
        {"LogOption", &Options::logMode, "3", "3", "0", "0"},
        {"LogOption", &Options::logMode, "4", "3-", "", "4"},
        {"LoggingCheck", &Options::logMode, "2", "1", "0", "4"},
        {"LoggingCheck", &Options::logMode, "2", "1", "0|1", "2"},
        {"LoggingCheck", &Options::logMode, "4", "0", "1", "3"},
        {"LogDirLabel", &Options::logFolder, l27, "...e/ann/logs/zantiro/lo27", l26, l26},
        {"LogDirLabel", &Options::logFolder, l26, l26, l27, l27},
        {"NameText", &Options::myName, "Ann", "Ann", "Bea Kay", "Bea Kay"},
        {"EmailText", &Options::myEmail, "a@b.c", "a@b.c", "bea@x.org", "bea@x.org"},
        {"AgeCombo", &Options::myAge, "42", "42", "43", "43"},
        {"AgeCombo", &Options::myAge, "##", "17", "", "17"},
        {"AgeCombo", &Options::myAge, "150", "17", "", "17"},
        {"HomePageText", &Options::myHomePage, "x", "x", "http://x.org/a;b", "http://x.org/a;b"},
        {"AutoAcceptCheck", &Options::autoAccept, "0", "0", "1", "1"},
        {"GetDirLabel", &Options::downloadFolder, d40, "...Downloads/from-peers/zantiro40", d34, d34},
        {"GetDirLabel", &Options::downloadFolder, d35, ".../ann/Downloads/from-peers/ab35", "cancel", d35},
        {"GetDirLabel", &Options::downloadFolder, d34, d34, "/home/[x]", d34},
        {"AutoOption", &Options::existingFileDefault, "1", "0", "3", "0"},
        {"AutoOption", &Options::existingFileDefault, "2", "1", "0", "1"},
        {"AutoOption", &Options::existingFileDefault, "3", "2", "1", "2"},
        {"AutoOption", &Options::existingFileDefault, "0", "3", "2", "3"},
        {"AutoOption", &Options::existingFileDefault, "9", "none", "", "0"},
        {"AutoResendCheck", &Options::autoResend, "0", "0", "1", "1"},
        {"AutoReconnectCheck", &Options::autoReconnect, "1", "1", "0", "0"},
        {"FCOTCheck", &Options::catcherOnTop, "1", "1", "0", "0"},
        {"FCSWCheck", &Options::catcherSmall, "0", "0", "1", "1"},
    };
}

} // namespace

class TestOptionsDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Each control shows its option on opening. Changed and left by Cancel, Esc or the close
    // box, nothing changes and no file is written; changed again and confirmed by OK, the
    // option is stored, nothing else moves and the file on disk reads back as the option set.
    void loadAndStore_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; const Row& r : rows())
            QTest::addRow("%s %s->%s", r.control, qPrintable(r.before.right(5)), qPrintable(r.set.right(5))) << i++;
    }
    void loadAndStore()
    {
        QFETCH(int, row);
        const Row r = rows().at(row);
        TestPeer p;
        p.ctx->options.myAge = "30"; // a stored age, so that only the row's option changes
        set(p.ctx->options, r.option, r.before);
        const Options unchanged = p.ctx->options;
        Options expected = unchanged;
        set(expected, r.option, r.after);
        MainWindow w(*p.peer);
        for (bool ok : {false, true}) {
            OptionsDialog* d = openOptions(w);
            QVERIFY(d && d->isVisible());
            QCOMPARE(shown(d, r.control), r.shows);
            for (const QString& step : r.set.split('|', Qt::SkipEmptyParts))
                change(d, r.control, step);
            if (ok || row % 3 == 0)
                (ok ? d->okButton : d->cancelButton)->click();
            else // Esc or the close box
                row % 3 == 1 ? QTest::keyClick(d, Qt::Key_Escape) : void(d->close());
            QTRY_VERIFY(!w.findChild<OptionsDialog*>());
            if (!ok)
                QVERIFY(p.ctx->options == unchanged && !QFile::exists(p.ctx->configPath()));
        }
        QVERIFY(p.ctx->options == expected);
        Options stored;
        ConfigFile::load(p.ctx->configPath(), p.ctx->programFolder, stored);
        QVERIFY(stored == expected);
    }

    // Whatever the option file can hold gets in, typed or pasted; anything else is named in the
    // notice below the boxes; what a box held already stays.
    void keyFilters_data()
    {
        const QList<QStringList> rows = {
            {"name", "NameText", "", "Ann Lee;[.~_1!", "Ann Lee.~_1!", ";["},
            {"name beyond Windows-1252", "NameText", "", "Ann \u0141\u00f3d\u017a", "Ann \u00f3d", "\u0141\u017a"},
            {"e-mail", "EmailText", "", "a.b@c;d[,e", "a.b@cd,e", ";["},
            {"home page", "HomePageText", "", "http://x.org/~a?b=1&c;d[e#f%20", "http://x.org/~a?b=1&c;de#f%20", "["},
            {"stored text kept", "NameText", "<No Name>", ";x", "<No Name>x", ";"},
            {"stored ; kept", "EmailText", "a;b", "c;", "a;bc", ";"}};
        for (const char* c : {"box", "held", "input", "result", "refused"})
            QTest::addColumn<QString>(c);
        QTest::addColumn<bool>("paste");
        for (bool paste : {false, true})
            for (const QStringList& r : rows)
                QTest::addRow("%s %s", qPrintable(r[0]), paste ? "pasted" : "typed")
                    << r[1] << r[2] << r[3] << r[4] << r[5] << paste;
        QTest::newRow("tab, euro, beyond Windows-1252 pasted")
            << "HomePageText" << QString() << "a\u20ac\u00e9\u011f\tb"
            << "a\u20ac\u00e9b"
            << "\u011f\t" << true;
    }
    void keyFilters()
    {
        auto [box, held, input, result, refused, paste] = fetch<QString, QString, QString, QString, QString, bool>(
            "box", "held", "input", "result", "refused", "paste");
        TestPeer p;
        p.ctx->options.myName = p.ctx->options.myEmail = p.ctx->options.myHomePage = held;
        MainWindow w(*p.peer);
        QDialog* d = openOptions(w);
        auto* e = d->findChild<QLineEdit*>(box);
        auto* notice = d->findChild<QLabel*>("InfoNotice");
        QCOMPARE(e->text(), held);
        e->end(false);
        QApplication::clipboard()->setText(input);
        if (paste)
            QTest::keySequence(e, QKeySequence::Paste);
        else
            typeKeys(e, input);
        QCOMPARE(e->text(), result);
        const QString named = TypedTextFilter::refusal(refused, {}).chopped(1); // without the rule
        QVERIFY2(notice->text().startsWith(named), qPrintable(notice->text()));
    }

    // OK sends the user's record exactly when a field of it changed, as the peer reads it.
    void okSendsUserInfo_data()
    {
        const QString tail = ";<No E-mail Specified>;", noHome = ";<No Homepage Specified>";
        stringRows(
            {"name", "age", "typed", "sent"}, // typed: "control=text"
            {{"nothing changed", "Me", "30", "", ""},
             {"## shown as 17", "Me", "##", "", "uinfo:Me" + tail + "17" + noHome},
             {"home page only", "Me", "30", "HomePageText=http://a.b/c;d", "uinfo:Me" + tail + "30;http://a.b/c;d"},
             {"name typed", "Me", "30", "NameText=Ann", "uinfo:Ann" + tail + "30" + noHome},
             {"name typed back", "Me", "30", "NameText=Me", ""},
             {"; of an older file", "A;B", "##", "", "uinfo:A,B" + tail + "17" + noHome}});
    }
    void okSendsUserInfo()
    {
        auto [name, age, typed, sent] = fetch<QString, QString, QString, QString>("name", "age", "typed", "sent");
        StrictPeer peer; // our peer logged in to a raw one that records every byte
        peer.me.ctx->settings.privateMode = PrivateMode::Never; // the raw peer speaks plain text
        QVERIFY(peer.start());
        Options& o = peer.me.ctx->options;
        o.myName = name, o.myAge = age;
        Session& s = peer.me.peer->session();
        // A mark before and after: what lies between is what OK sent.
        s.sendControlMessage("msg:before");
        QTRY_VERIFY_WITH_TIMEOUT(peer.heard("msg:before"), 5000);
        const qsizetype from = peer.said.size();
        MainWindow w(*peer.me.peer);
        OptionsDialog* d = openOptions(w);
        if (!typed.isEmpty())
            change(d, typed.section('=', 0, 0), typed.section('=', 1));
        d->okButton->click();
        s.sendControlMessage("msg:after");
        QTRY_VERIFY_WITH_TIMEOUT(peer.heard("msg:after"), 5000);
        QCOMPARE(messagesIn(peer.said.mid(from)), (sent.isEmpty() ? QStringList() : QStringList{sent}) << "msg:after");
    }

    // OK lays the main window out again; lines shown afterwards take the new colour and time
    // stamp setting while earlier lines keep theirs; a file that cannot be written is told.
    void okAppliesToLaterLines()
    {
        TestPeer p;
        p.ctx->options.timeStamps = true;
        MainWindow w(*p.peer);
        w.show();
        auto* both = w.findChild<TranscriptPane*>("BothText");
        p.ctx->addText(QString("earlier"), LineKind::Message);
        OptionsDialog* d = openOptions(w);
        for (const auto& [control, value] : {std::pair{"BoxLayoutOption", "1"},
                                             {"ChatBarCheck", "0"},
                                             {"TimeStampCheck", "0"},
                                             {"MsgColorLabel", "255"}})
            change(d, control, value);
        QVERIFY(QDir().mkpath(p.ctx->configPath())); // a folder where the file should go
        d->okButton->click();
        QVERIFY(both->isHidden() && w.findChild<QLineEdit*>("ChatBar")->isHidden());
        auto* box = w.findChild<QMessageBox*>("saveConfigError");
        QVERIFY(box && box->text().startsWith("Close Config Error : "));
        p.ctx->addText(QString("later"), LineKind::Message);
        const QTextBlock first = both->document()->firstBlock();
        QVERIFY2(first.text().endsWith("earlier") && first.text().startsWith('['), qPrintable(first.text()));
        QCOMPARE(first.begin().fragment().charFormat().foreground().color(), QColor(Qt::black));
        QCOMPARE(first.next().text(), "later");
        QCOMPARE(first.next().begin().fragment().charFormat().foreground().color(), QColor(255, 0, 0));
    }

    // The Privacy page shows the setting and this installation's key code. Cancel changes
    // nothing; OK stores a changed setting in the settings file, which reads back the same,
    // and tells when the file cannot be written.
    void privacyPage_data()
    {
        columns<int, int>("before", "chosen");
        QTest::addColumn<QByteArray>("file"); // "<dir>": a folder in its place
        QTest::newRow("auto to always") << 0 << 1 << QByteArray("private-connections=always\n");
        QTest::newRow("always to never") << 1 << 2 << QByteArray("private-connections=never\n");
        QTest::newRow("never to auto") << 2 << 0 << QByteArray("private-connections=auto\n");
        QTest::newRow("unchanged: not written") << 1 << 1 << QByteArray("<missing>");
        QTest::newRow("cannot be written") << 0 << 2 << QByteArray("<dir>");
    }
    void privacyPage()
    {
        auto [before, chosen, file] = fetch<int, int, QByteArray>("before", "chosen", "file");
        const PrivateMode modes[3] = {PrivateMode::Auto, PrivateMode::Always, PrivateMode::Never};
        TestPeer p;
        const QString path = ProgramSettings::filePath(p.ctx->programFolder);
        QVERIFY(file != "<dir>" || QDir().mkpath(path));
        p.ctx->settings.privateMode = modes[before];
        MainWindow w(*p.peer);
        for (bool ok : {false, true}) {
            OptionsDialog* d = openOptions(w);
            QCOMPARE(shown(d, "PrivateOption"), QString::number(before));
            QCOMPARE(shown(d, "KeyCodeLabel"), Identity::loadOrCreate(p.ctx->programFolder).keyCode());
            change(d, "PrivateOption", QString::number(chosen));
            (ok ? d->okButton : d->cancelButton)->click();
            QTRY_VERIFY(!w.findChild<OptionsDialog*>());
            QCOMPARE(p.ctx->settings.privateMode, modes[ok ? chosen : before]);
        }
        QCOMPARE(bool(w.findChild<QMessageBox*>("saveSettingsError")), file == "<dir>");
        if (file == "<dir>")
            return;
        QCOMPARE(readFile(path), file);
        ProgramSettings read(p.ctx->programFolder);
        QVERIFY(read.load());
        QCOMPARE(read.privateMode, file == "<missing>" ? PrivateMode::Auto : modes[chosen]);
    }
};

QTEST_MAIN(TestOptionsDialog)
#include "tst_optionsdialog.moc"
