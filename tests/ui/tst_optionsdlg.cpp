#include "ui/HelpWindow.h"
#include "ui/MainWindow.h"
#include "ui/OptionsDialog.h"
#include "ui/TranscriptPane.h"
#include "config/Scramble.h"
#include "platform/Ansi.h"
#include "support/RawPeer.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>

#include <variant>

namespace {

constexpr int kWait = 5000;

using Member = std::variant<QString Options::*, bool Options::*, int Options::*>;

const std::map<QString, Member>& members()
{
    static const std::map<QString, Member> m = {
        {"TimeStamp", &Options::TimeStamp},       {"ShowChatBar", &Options::ShowChatBar},
        {"MinToTray", &Options::MinToTray},       {"ConnectColor", &Options::ConnectColor},
        {"ErrorColor", &Options::ErrorColor},     {"StatusColor", &Options::StatusColor},
        {"MessageColor", &Options::MessageColor}, {"BoxLayout", &Options::BoxLayout},
        {"MessageBlink", &Options::MessageBlink}, {"ErrorBlink", &Options::ErrorBlink},
        {"StatusBlink", &Options::StatusBlink},   {"ConnectBlink", &Options::ConnectBlink},
        {"LogMode", &Options::LogMode},           {"LogDir", &Options::LogDir},
        {"MyName", &Options::MyName},             {"MyEmail", &Options::MyEmail},
        {"MyAge", &Options::MyAge},               {"MyHomePage", &Options::MyHomePage},
        {"AutoAccept", &Options::AutoAccept},     {"DownloadDir", &Options::DownloadDir},
        {"ExistsAlways", &Options::ExistsAlways}, {"AutoResend", &Options::AutoResend},
        {"AutoReconnect", &Options::AutoReconnect}, {"CatcherOnTop", &Options::CatcherOnTop},
        {"CatcherSmall", &Options::CatcherSmall},
    };
    return m;
}

// An option as text ("1"/"0" for a Boolean), and set from such a text.
QString get(const Options& o, const QString& name)
{
    const Member& m = members().at(name);
    if (auto t = std::get_if<QString Options::*>(&m))
        return o.**t;
    if (auto b = std::get_if<bool Options::*>(&m))
        return o.**b ? "1" : "0";
    return QString::number(o.*std::get<int Options::*>(m));
}
void set(Options& o, const QString& name, const QString& v)
{
    const Member& m = members().at(name);
    if (auto t = std::get_if<QString Options::*>(&m))
        o.**t = v;
    else if (auto b = std::get_if<bool Options::*>(&m))
        o.**b = v == "1";
    else
        o.*std::get<int Options::*>(m) = v.toInt();
}

// What a control shows: a box "1"/"0", a text, a colour as its decimal text, or for a row of
// option buttons (Name_0, Name_1, ...) the index selected.
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
    // A row of option buttons: the index selected, "none"; "-" when the row is disabled.
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
            QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
        if (b == d->LoggingCheck)
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
        QVERIFY(picker && picker->isVisible());
        QCOMPARE(picker->currentColor(), before);
        picker->setCurrentColor(MainWindow::colourOf(value));
        value == "cancel" ? picker->reject() : picker->accept();
        picker->setObjectName(QString()); // the next pick finds its own picker
    } else if (label) {
        const QString before = label->text();
        (control == "LogDirLabel" ? d->LogBrowseButton : d->BrowseButton)->click();
        auto* picker = d->findChild<QFileDialog*>("BrowseFolder");
        QVERIFY(picker && picker->isVisible());
        value == "cancel" ? picker->reject() : Q_EMIT picker->fileSelected(value);
        const bool refused = value.contains('[');
        QCOMPARE(bool(d->findChild<QMessageBox*>("folderMessage")), refused);
        if (value == "cancel" || refused)
            QCOMPARE(label->text(), before);
        else
            QVERIFY(label->toolTip() == value && label->text().endsWith(value.right(20)));
    } else {
        auto* r = d->findChild<QRadioButton*>(control + '_' + value);
        QVERIFY(r);
        QTest::mouseClick(r, Qt::LeftButton, {}, QPoint(6, r->height() / 2));
    }
}

// Leaves the dialog without OK: Cancel, Esc or the close box.
void leave(OptionsDialog* d, int how)
{
    if (how == 0)
        d->Command3->click();
    else if (how == 1)
        QTest::keyClick(d, Qt::Key_Escape);
    else {
        QCloseEvent ev;
        QApplication::sendEvent(d, &ev);
    }
}

OptionsDialog* openOptions(MainWindow& w, const char* command = "mnu_Opt")
{
    QAction* a = w.findChild<QAction*>(QLatin1String(command));
    if (!a || !a->isEnabled())
        return nullptr;
    a->trigger();
    return w.findChild<OptionsDialog*>();
}

// The page a control is on, by its tab caption.
QString pageOf(OptionsDialog* d, const QString& control)
{
    QWidget* c = d->findChild<QWidget*>(control);
    if (!c)
        c = d->findChild<QWidget*>(control + "_0"); // a row of option buttons
    for (int i = 0; c && i < d->TabStrip1->count(); ++i)
        if (d->TabStrip1->widget(i)->isAncestorOf(c))
            return d->TabStrip1->tabText(i);
    return "<none>";
}

// The control messages in what a peer received, unscrambled.
QStringList messagesIn(const QByteArray& wire)
{
    QStringList out;
    for (const QByteArray& m : wire.split('}'))
        if (m.endsWith("{\xBF"))
            out << Ansi::decode(DecryptText(m.chopped(2)));
    return out;
}

Options fileOptions(const Context& ctx)
{
    Options o;
    ConfigFile::LoadConfig(ctx.configPath(), ctx.programFolder, o);
    return o;
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
        for (const char* c : {"page", "control", "option", "before", "shows", "set", "after"})
            QTest::addColumn<QString>(c);
        QTest::addColumn<int>("leaving");
        const QString d40 = "/home/ann/Downloads/from-peers/zantiro40", d35 = "/home/ann/Downloads/from-peers/ab35",
                      d34 = "/home/ann/Downloads/from-peers/a34", l27 = "/home/ann/logs/zantiro/lo27",
                      l26 = "/home/ann/logs/zantiro/l26";
        const QList<QStringList> rows = {
            {"Display 1", "TimeStampCheck", "TimeStamp", "0", "0", "1", "1"},
            {"Display 1", "ChatBarCheck", "ShowChatBar", "1", "1", "0", "0"},
            {"Display 1", "MinToTrayCheck", "MinToTray", "0", "0", "1", "1"},
            {"Display 2", "ConnectColorLabel", "ConnectColor", "32768", "32768", "255", "255"},
            {"Display 2", "ErrorColorLabel", "ErrorColor", "128", "128", "16711680", "16711680"},
            {"Display 2", "StatusColorLabel", "StatusColor", "8421504", "8421504", "cancel", "8421504"},
            {"Display 2", "MsgColorLabel", "MessageColor", "0", "0", "12345678", "12345678"},
            {"Display 2", "BoxLayoutOption", "BoxLayout", "1", "1", "0", "0"},
            {"Display 2", "BoxLayoutOption", "BoxLayout", "0", "0", "1", "1"},
            {"Display 2", "BoxLayoutOption", "BoxLayout", "7", "1", "", "1"},
            {"Display 3", "MessageBlinkCheck", "MessageBlink", "1", "1", "0", "0"},
            {"Display 3", "ErrorBlinkCheck", "ErrorBlink", "0", "0", "1", "1"},
            {"Display 3", "StatusBlinkCheck", "StatusBlink", "0", "0", "1", "1"},
            {"Display 3", "ConnectBlinkCheck", "ConnectBlink", "1", "1", "0", "0"},
            {"Logging", "LogOption", "LogMode", "0", "0", "1", "2"},
            {"Logging", "LogOption", "LogMode", "2", "1", "2", "1"},
            {"Logging", "LogOption", "LogMode", "1", "2", "3", "3"},
            {"Logging", "LogOption", "LogMode", "3", "3", "0", "0"},
            {"Logging", "LogOption", "LogMode", "4", "3-", "", "4"},
            // Unticked, the four buttons are cleared and disabled; ticked, enabled with none
            // selected by that, so that OK keeps the mode.
            {"Logging", "LoggingCheck", "LogMode", "2", "1", "0", "4"},
            {"Logging", "LoggingCheck", "LogMode", "2", "1", "0|1", "2"},
            {"Logging", "LoggingCheck", "LogMode", "4", "0", "1", "3"},
            {"Logging", "LogDirLabel", "LogDir", l27, "...e/ann/logs/zantiro/lo27", l26, l26},
            {"Logging", "LogDirLabel", "LogDir", l26, l26, l27, l27},
            {"My Information", "NameText", "MyName", "Ann", "Ann", "Bea Kay", "Bea Kay"},
            {"My Information", "EmailText", "MyEmail", "a@b.c", "a@b.c", "bea@x.org", "bea@x.org"},
            {"My Information", "AgeCombo", "MyAge", "42", "42", "43", "43"},
            {"My Information", "AgeCombo", "MyAge", "##", "17", "", "17"},
            {"My Information", "AgeCombo", "MyAge", "150", "17", "", "17"},
            {"My Information", "HomePageText", "MyHomePage", "x", "x", "http://x.org/a;b", "http://x.org/a;b"},
            {"File Options", "AutoAcceptCheck", "AutoAccept", "0", "0", "1", "1"},
            {"File Options", "GetDirLabel", "DownloadDir", d40, "...Downloads/from-peers/zantiro40", d34, d34},
            {"File Options", "GetDirLabel", "DownloadDir", d35, ".../ann/Downloads/from-peers/ab35", "cancel", d35},
            {"File Options", "GetDirLabel", "DownloadDir", d34, d34, "/home/[x]", d34},
            {"File Options", "AutoOption", "ExistsAlways", "1", "0", "3", "0"},
            {"File Options", "AutoOption", "ExistsAlways", "2", "1", "0", "1"},
            {"File Options", "AutoOption", "ExistsAlways", "3", "2", "1", "2"},
            {"File Options", "AutoOption", "ExistsAlways", "0", "3", "2", "3"},
            {"File Options", "AutoOption", "ExistsAlways", "9", "none", "", "0"},
            {"File Options", "AutoResendCheck", "AutoResend", "0", "0", "1", "1"},
            {"File Options", "AutoReconnectCheck", "AutoReconnect", "1", "1", "0", "0"},
            {"File Catcher", "FCOTCheck", "CatcherOnTop", "1", "1", "0", "0"},
            {"File Catcher", "FCSWCheck", "CatcherSmall", "0", "0", "1", "1"},
        };
        for (int i = 0; i < rows.size(); ++i) {
            const QStringList& r = rows[i];
            QTest::addRow("%s %s->%s", qPrintable(r[1]), qPrintable(r[3].right(5)), qPrintable(r[5].right(5)))
                << r[0] << r[1] << r[2] << r[3] << r[4] << r[5] << r[6] << i % 3;
        }
    }
    void loadAndStore()
    {
        QFETCH(QString, page);
        QFETCH(QString, control);
        QFETCH(QString, option);
        QFETCH(QString, before);
        QFETCH(QString, shows);
        QFETCH(QString, set);
        QFETCH(QString, after);
        QFETCH(int, leaving);
        TestPeer p;
        p.ctx->options.MyAge = "30"; // a stored age, so that only the row's option changes
        ::set(p.ctx->options, option, before);
        const Options unchanged = p.ctx->options;
        Options expected = unchanged;
        ::set(expected, option, after);
        MainWindow w(*p.peer);
        for (bool ok : {false, true}) {
            OptionsDialog* d = openOptions(w);
            QVERIFY(d && d->isVisible());
            QCOMPARE(pageOf(d, control), page);
            QCOMPARE(shown(d, control), shows);
            for (const QString& step : set.split('|', Qt::SkipEmptyParts))
                change(d, control, step);
            ok ? d->Command2->click() : leave(d, leaving);
            QTRY_VERIFY(!w.findChild<OptionsDialog*>());
            if (!ok)
                QVERIFY(p.ctx->options == unchanged && !QFile::exists(p.ctx->configPath()));
        }
        QCOMPARE(get(p.ctx->options, option), after);
        QVERIFY(p.ctx->options == expected);
        QVERIFY(fileOptions(*p.ctx) == expected);
    }

    // Only the characters of each box's set get in, typed or pasted; what a box held already
    // stays.
    void keyFilters_data()
    {
        for (const char* c : {"box", "held", "input", "result"})
            QTest::addColumn<QString>(c);
        QTest::addColumn<bool>("paste");
        for (bool paste : {false, true}) {
            const char* how = paste ? "pasted" : "typed";
            QTest::addRow("name %s", how) << "NameText" << "" << "Ann Lee;[.~_1!" << "Ann Lee_1!" << paste;
            QTest::addRow("e-mail %s", how) << "EmailText" << "" << "a.b@c;d[,e" << "a.b@cde" << paste;
            QTest::addRow("home page %s", how)
                << "HomePageText" << "" << "http://x.org/~a?b=1;c[d" << "http://x.org/a?b1;cd" << paste;
            QTest::addRow("stored text kept %s", how) << "NameText" << "<No Name>" << ";x" << "<No Name>x" << paste;
            QTest::addRow("stored ; kept %s", how) << "EmailText" << "a;b" << "c;" << "a;bc" << paste;
        }
        QTest::newRow("tab, euro, beyond Windows-1252 pasted")
            << "HomePageText" << "" << QString::fromUtf8("a\xE2\x82\xAC\xC3\xA9\xC4\x9F\tb") << "ab" << true;
    }
    void keyFilters()
    {
        QFETCH(QString, box);
        QFETCH(QString, held);
        QFETCH(QString, input);
        QFETCH(QString, result);
        QFETCH(bool, paste);
        TestPeer p;
        set(p.ctx->options, box == "NameText" ? "MyName" : box == "EmailText" ? "MyEmail" : "MyHomePage", held);
        MainWindow w(*p.peer);
        OptionsDialog* d = openOptions(w);
        auto* e = d->findChild<QLineEdit*>(box);
        QCOMPARE(e->text(), held);
        e->end(false);
        if (paste) {
            QApplication::clipboard()->setText(input);
            QTest::keySequence(e, QKeySequence::Paste);
        } else {
            QTest::keyClicks(e, input);
        }
        QCOMPARE(e->text(), result);
    }

    // OK sends the user's record exactly when a field of it changed, as the peer reads it.
    void okSendsUserInfo_data()
    {
        for (const char* c : {"name", "age", "typedName", "typedHome", "sent"})
            QTest::addColumn<QString>(c);
        const QString tail = ";<No E-mail Specified>;";
        QTest::newRow("nothing changed") << "Me" << "30" << "" << "" << "";
        QTest::newRow("## shown as 17") << "Me" << "##" << "" << "" << "uinfo:Me" + tail + "17;<No Homepage Specified>";
        QTest::newRow("home page only") << "Me" << "30" << "" << "http://a.b/c;d" << "uinfo:Me" + tail + "30;http://a.b/c;d";
        QTest::newRow("name typed") << "Me" << "30" << "Ann" << "" << "uinfo:Ann" + tail + "30;<No Homepage Specified>";
        QTest::newRow("name typed back") << "Me" << "30" << "Me" << "" << "";
        QTest::newRow("; of an older file")
            << "A;B" << "##" << "" << "" << "uinfo:A,B" + tail + "17;<No Homepage Specified>";
    }
    void okSendsUserInfo()
    {
        QFETCH(QString, name);
        QFETCH(QString, age);
        QFETCH(QString, typedName);
        QFETCH(QString, typedHome);
        QFETCH(QString, sent);
        Letter peer; // our peer logged in to a raw one that records every byte
        QVERIFY(peer.start());
        Options& o = peer.me.ctx->options;
        o.MyName = name, o.MyAge = age;
        Session& s = peer.me.peer->session();
        // A mark before and after: what lies between is what OK sent.
        s.SendCtlMsg("msg:before");
        QTRY_VERIFY_WITH_TIMEOUT(peer.heard("msg:before"), kWait);
        const qsizetype from = peer.said.size();
        MainWindow w(*peer.me.peer);
        OptionsDialog* d = openOptions(w, "Options");
        QVERIFY(d);
        if (!typedName.isEmpty())
            change(d, "NameText", typedName);
        if (!typedHome.isEmpty())
            change(d, "HomePageText", typedHome);
        d->Command2->click();
        s.SendCtlMsg("msg:after");
        QTRY_VERIFY_WITH_TIMEOUT(peer.heard("msg:after"), kWait);
        QCOMPARE(messagesIn(peer.said.mid(from)), (sent.isEmpty() ? QStringList() : QStringList{sent}) << "msg:after");
    }

    // OK lays the main window out again; lines shown afterwards take the new colour and time
    // stamp setting while earlier lines keep theirs; a file that cannot be written is told.
    void okAppliesToLaterLines()
    {
        TestPeer p;
        p.ctx->options.TimeStamp = true;
        MainWindow w(*p.peer);
        w.show();
        auto* both = w.findChild<TranscriptPane*>("BothText");
        auto* status = w.findChild<TranscriptPane*>("StatusText");
        p.ctx->AddText(QString("earlier"), MessageLine);
        OptionsDialog* d = openOptions(w, "pop_opt");
        for (const auto& [control, value] : {std::pair{"BoxLayoutOption", "1"}, {"ChatBarCheck", "0"},
                                             {"TimeStampCheck", "0"}, {"MsgColorLabel", "255"}})
            change(d, control, value);
        QVERIFY(QDir().mkpath(p.ctx->configPath())); // a folder where the file should go
        d->Command2->click();
        QVERIFY(both->isHidden() && status->isVisible() && w.findChild<QLineEdit*>("ChatBar")->isHidden());
        auto* box = w.findChild<QMessageBox*>("saveConfigError");
        QVERIFY(box && box->text().startsWith("Close Config Error : "));
        p.ctx->AddText(QString("later"), MessageLine);
        const QTextBlock first = both->document()->firstBlock();
        QVERIFY2(first.text().endsWith("earlier") && first.text().startsWith('['), qPrintable(first.text()));
        QCOMPARE(first.begin().fragment().charFormat().foreground().color(), QColor(Qt::black));
        QCOMPARE(first.next().text(), "later");
        QCOMPARE(first.next().begin().fragment().charFormat().foreground().color(), QColor(255, 0, 0));
    }

    // The three commands open one dialog; the tabs, their pages and help topics; the
    // pictures follow their boxes.
    void pagesPicturesAndHelp()
    {
        TestPeer p;
        p.ctx->options.CatcherOnTop = false;
        MainWindow w(*p.peer);
        OptionsDialog* d = openOptions(w, "mnu_Opt");
        QVERIFY(d && d->windowTitle() == "Options" && d->objectName() == "Options");
        d->NameText->setText("typed");
        for (const char* command : {"pop_opt", "Options"})
            QCOMPARE(openOptions(w, command), d);
        QCOMPARE(w.findChildren<OptionsDialog*>().size(), 1);
        QCOMPARE(d->NameText->text(), "typed"); // brought up as it was

        const QStringList tabs = {"Display 1|Display Options (1 of 2)|Display1Frame|Display Options (1 of 3)",
                                  "Display 2|Display Options (2 of 2)|Display2Frame|Display Options (2 of 3)",
                                  "Display 3|Display Options (3 of 3)|Display3Frame|Display Options (3 of 3)",
                                  "Logging|Logging Options|LogFrame|Logging Options",
                                  "My Information|My Information|MyInfoFrame|My Information",
                                  "File Options|File Options|FileOptionsFrame|File Options",
                                  "File Catcher|File Catcher Options|FileCatcherFrame|File Catcher Options"};
        QCOMPARE(d->TabStrip1->count(), tabs.size());
        QCOMPARE(d->TabStrip1->currentIndex(), 0);
        for (int i = 0; i < tabs.size(); ++i) {
            const QStringList t = tabs[i].split('|');
            auto* frame = d->TabStrip1->widget(i)->findChild<QGroupBox*>(t[2]);
            QVERIFY2(frame, qPrintable(t[2]));
            QCOMPARE((QStringList{d->TabStrip1->tabText(i), d->TabStrip1->tabToolTip(i), t[2], frame->title()}), t);
            d->TabStrip1->setCurrentIndex(i);
            QVERIFY(frame->isVisible());
            d->HelpButton->click();
            auto* help = w.findChild<HelpWindow*>();
            QVERIFY(help && help->isVisible());
            QVERIFY(help->browser()->source().toString().endsWith(QString("topic%1.html").arg(12 + i)));
        }

        const QStringList names = {"MinTrayImg", "MinTaskImg", "OneBoxImg", "TwoBoxImg",
                                   "FCSWOTIMG",  "FCSWIMG",    "FCOTIMG",   "FCFCIMG"};
        QList<QImage> images;
        for (const QString& n : names) {
            images << OptionsDialog::picture(n).toImage();
            QVERIFY2(images.count(images.last()) == 1, qPrintable(n)); // every picture its own
        }
        auto shows = [&](QLabel* l) { return names.value(images.indexOf(l->pixmap().toImage())); };
        QCOMPARE(shows(d->MinToTrayImg), "MinTaskImg");
        change(d, "MinToTrayCheck", "1");
        QCOMPARE(shows(d->MinToTrayImg), "MinTrayImg");
        QCOMPARE(shows(d->BoxLayoutImg), "OneBoxImg");
        change(d, "BoxLayoutOption", "1");
        QCOMPARE(shows(d->BoxLayoutImg), "TwoBoxImg");
        QCOMPARE(shows(d->FCIMG), "FCFCIMG");
        const QList<std::pair<const char*, const char*>> catcher = {
            {"FCSWCheck", "FCSWIMG"}, {"FCOTCheck", "FCSWOTIMG"}, {"FCSWCheck", "FCOTIMG"}, {"FCOTCheck", "FCFCIMG"}};
        for (const auto& [box, picture] : catcher) {
            change(d, box, shown(d, box) == "1" ? "0" : "1");
            QCOMPARE(shows(d->FCIMG), picture);
        }
    }
};

QTEST_MAIN(TestOptionsDialog)
#include "tst_optionsdlg.moc"
