#include "transfer/AcceptItDialog.h"
#include "transfer/FAExistsDialog.h"
#include "transfer/WindowPromptsUi.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <optional>

// The transfer questions as windows: controls, the typed-name filter, and how every way of
// leaving a dialog maps to the answer the transfer side gets.
class TestDialogs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void acceptItControls();
    void acceptItAnswers_data();
    void acceptItAnswers();
    void fileNameFilter_data();
    void fileNameFilter();
    void faExistsAnswers_data();
    void faExistsAnswers();
    void withdrawnQuestionsCloseSilently();
};

namespace {

QString text(QWidget* parent, const char* name)
{
    if (auto* l = parent->findChild<QLabel*>(QLatin1String(name)))
        return l->text();
    if (auto* b = parent->findChild<QAbstractButton*>(QLatin1String(name)))
        return b->text();
    return QStringLiteral("<missing %1>").arg(QLatin1String(name));
}

// A click on an option button's round indicator (the middle of a wide one is no hit).
void clickOption(QRadioButton* b)
{
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
}

void closeByCloseBox(QWidget* w)
{
    QCloseEvent ev; // what the window manager's close box delivers
    QApplication::sendEvent(w, &ev);
}

} // namespace

void TestDialogs::acceptItControls()
{
    WindowPrompts prompts(nullptr);
    Prompts::AcceptRequest rq;
    rq.fileName = QStringLiteral("a-rather-long-file-name-here.zip"); // 32 characters
    rq.sizeText = QStringLiteral("1234");
    rq.from = QStringLiteral("Somebody With A Long Name"); // 25
    rq.folder = QStringLiteral("/home/someone/download/");
    const Prompts::Id id = prompts.askAccept(rq, [](const Prompts::AcceptReply&) {});
    QWidget* w = prompts.window(id);
    QVERIFY(w);
    QCOMPARE(w->objectName(), QStringLiteral("AcceptIt"));
    QCOMPARE(w->windowTitle(), QStringLiteral("Accept File?"));
    QVERIFY(!w->isModal());
    QCOMPARE(text(w, "FileNameLabel"), QStringLiteral("...") + rq.fileName.right(21));
    QCOMPARE(text(w, "SizeLabel"), QStringLiteral("1234"));
    QCOMPARE(text(w, "FromLabel"), QStringLiteral("...") + rq.from.right(17));
    QCOMPARE(text(w, "DirectoryLabel"), QStringLiteral("...") + rq.folder.right(17));
    QCOMPARE(text(w, "FolderBrowsButton"), QStringLiteral("..."));
    QCOMPARE(text(w, "AutoAcceptCheck"), QStringLiteral("Auto Accept Files From Now On"));
    QCOMPARE(text(w, "AcceptButton"), QStringLiteral("Accept It!"));
    QCOMPARE(text(w, "DeclineButton"), QStringLiteral("Decline!"));
    QCOMPARE(text(w, "HelpButton"), QStringLiteral("Help"));
    QCOMPARE(AcceptItDialog::shortenFront(QStringLiteral("exactly-twenty-chars"), 20), QStringLiteral("exactly-twenty-chars"));
}

void TestDialogs::acceptItAnswers_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("tick");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("accept") << "AcceptButton" << false << true;
    QTest::newRow("accept, auto from now on") << "AcceptButton" << true << true;
    QTest::newRow("decline") << "DeclineButton" << false << false;
    QTest::newRow("decline keeps the auto box") << "DeclineButton" << true << false;
    QTest::newRow("close box declines") << "close" << true << false;
    QTest::newRow("Esc declines") << "escape" << false << false;
}

void TestDialogs::acceptItAnswers()
{
    QFETCH(QString, how);
    QFETCH(bool, tick);
    QFETCH(bool, accepted);
    WindowPrompts prompts(nullptr);
    Prompts::AcceptRequest rq;
    rq.fileName = QStringLiteral("f.txt");
    rq.folder = QStringLiteral("/tmp/in/");
    int calls = 0;
    Prompts::AcceptReply got;
    const Prompts::Id id = prompts.askAccept(rq, [&](const Prompts::AcceptReply& r) {
        ++calls;
        got = r;
    });
    QPointer<QWidget> w = prompts.window(id);
    QVERIFY(w);
    w->findChild<QCheckBox*>(QStringLiteral("AutoAcceptCheck"))->setChecked(tick);
    if (how == QLatin1String("close"))
        closeByCloseBox(w);
    else if (how == QLatin1String("escape"))
        QTest::keyClick(w, Qt::Key_Escape);
    else
        QTest::mouseClick(w->findChild<QPushButton*>(how), Qt::LeftButton);
    QCOMPARE(calls, 1);
    QCOMPARE(got.accepted, accepted);
    QCOMPARE(got.autoAccept, tick);
    QCOMPARE(got.folder, rq.folder);
    QTRY_VERIFY_WITH_TIMEOUT(w.isNull(), 2000);
    QVERIFY(!prompts.window(id));
}

void TestDialogs::fileNameFilter_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    for (QChar c : FAExistsDialog::forbiddenCharacters)
        QTest::newRow(qPrintable(QStringLiteral("discards %1").arg(c))) << QString(c) << QString();
    QTest::newRow("nine characters, letters pass")
        << QStringLiteral("a\\b/c:d*e?f\"g<h>i|j") << QStringLiteral("abcdefghij");
    QTest::newRow("dots and spaces pass") << QStringLiteral("my file.v2.txt") << QStringLiteral("my file.v2.txt");
}

void TestDialogs::fileNameFilter()
{
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    FAExistsDialog d(QStringLiteral("x.bin"));
    d.show();
    auto* edit = d.findChild<QLineEdit*>(QStringLiteral("FileNameText"));
    QVERIFY(!edit->isEnabled());
    clickOption(d.option(3));
    QVERIFY(edit->isEnabled());
    edit->clear();
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), expected);
    // Pasting a path is refused whole: the name cannot leave the target folder.
    edit->clear();
    QApplication::clipboard()->setText(QStringLiteral("../") + expected);
    edit->paste();
    QVERIFY(!edit->text().contains('/'));
}

void TestDialogs::faExistsAnswers_data()
{
    QTest::addColumn<int>("option"); // -1 leaves the initial one
    QTest::addColumn<bool>("tick");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("choice");
    QTest::addColumn<bool>("always");
    QTest::addColumn<QString>("newName");
    QTest::addColumn<QString>("alwaysText");
    QTest::newRow("initial overwrite") << -1 << false << "" << "OkButton" << 1 << false << "" << "Always Overwrite From Now On";
    QTest::newRow("overwrite always") << 0 << true << "" << "OkButton" << 1 << true << "" << "Always Overwrite From Now On";
    QTest::newRow("resume") << 1 << false << "" << "OkButton" << 2 << false << "" << "Always Resume From Now On";
    QTest::newRow("resume always") << 1 << true << "" << "OkButton" << 2 << true << "" << "Always Resume From Now On";
    QTest::newRow("numbered always") << 2 << true << "" << "OkButton" << 3 << true << "" << "Always Rename From Now On";
    QTest::newRow("typed name, never always") << 3 << true << "new.bin" << "OkButton" << 4 << false << "new.bin" << "";
    QTest::newRow("typed then other option") << 3 << false << "new.bin" << "opt1" << 2 << false << "" << "Always Resume From Now On";
    QTest::newRow("cancel") << 1 << true << "" << "CancelButton" << 5 << false << "" << "Always Resume From Now On";
    QTest::newRow("close box cancels") << 0 << false << "" << "close" << 5 << false << "" << "Always Overwrite From Now On";
    QTest::newRow("empty typed name is not taken") << 3 << false << "" << "OkButton" << 0 << false << "" << "";
}

void TestDialogs::faExistsAnswers()
{
    QFETCH(int, option);
    QFETCH(bool, tick);
    QFETCH(QString, typed);
    QFETCH(QString, how);
    QFETCH(int, choice);
    QFETCH(bool, always);
    QFETCH(QString, newName);
    QFETCH(QString, alwaysText);
    WindowPrompts prompts(nullptr);
    std::optional<Prompts::ExistsReply> got;
    int calls = 0;
    const Prompts::Id id = prompts.askExisting({QStringLiteral("old.bin")}, [&](const Prompts::ExistsReply& r) {
        ++calls;
        got = r;
    });
    QPointer<QWidget> w = prompts.window(id);
    QVERIFY(w);
    QCOMPARE(w->objectName(), QStringLiteral("FAExists"));
    QCOMPARE(w->windowTitle(), QStringLiteral("File Already Exists"));
    const auto options = w->findChildren<QRadioButton*>(QStringLiteral("Option1"));
    QCOMPARE(options.size(), 4);
    QCOMPARE(options[1]->text(), QStringLiteral("Resume "));
    QCOMPARE(options[2]->text(), QStringLiteral("QV Rename "));
    QVERIFY(options[0]->isChecked());
    auto* check = w->findChild<QCheckBox*>(QStringLiteral("AlwaysCheck"));
    auto* edit = w->findChild<QLineEdit*>(QStringLiteral("FileNameText"));
    QCOMPARE(edit->text(), QStringLiteral("old.bin"));
    if (option >= 0)
        clickOption(options[option]);
    if (option == 3) {
        QVERIFY(!check->isEnabled());
        QCOMPARE(edit->text(), QStringLiteral("old.bin"));
        edit->setText(typed);
    }
    if (check->isEnabled())
        check->setChecked(tick);
    if (how == QLatin1String("opt1")) {
        clickOption(options[1]);
        QVERIFY(!edit->isEnabled());
        how = QStringLiteral("OkButton");
    }
    QCOMPARE(check->text(), alwaysText);
    if (how == QLatin1String("close"))
        closeByCloseBox(w);
    else
        QTest::mouseClick(w->findChild<QPushButton*>(how), Qt::LeftButton);
    if (choice == 0) {
        QCOMPARE(calls, 0);
        QVERIFY(w);
        return;
    }
    QCOMPARE(calls, 1);
    QCOMPARE(got->choice, choice);
    QCOMPARE(got->always, always);
    QCOMPARE(got->newName, newName);
    QTRY_VERIFY_WITH_TIMEOUT(w.isNull(), 2000);
}

void TestDialogs::withdrawnQuestionsCloseSilently()
{
    auto owner = std::make_unique<QWidget>();
    WindowPrompts prompts(owner.get());
    int calls = 0;
    const Prompts::Id a = prompts.askAccept({}, [&](const Prompts::AcceptReply&) { ++calls; });
    const Prompts::Id e = prompts.askExisting({QStringLiteral("n")}, [&](const Prompts::ExistsReply&) { ++calls; });
    const Prompts::Id y = prompts.askYesNo({QStringLiteral("Cancel Send?"), QStringLiteral("Sure?")}, [&](bool) { ++calls; });
    QCOMPARE(QSet<Prompts::Id>({a, e, y}).size(), 3);
    auto* box = qobject_cast<QMessageBox*>(prompts.window(y));
    QVERIFY(box);
    QCOMPARE(box->windowTitle(), QStringLiteral("Cancel Send?"));
    QVERIFY(!box->isModal());
    QList<QPointer<QWidget>> windows = {prompts.window(a), prompts.window(e), box};
    for (Prompts::Id id : {a, e, y})
        prompts.withdraw(id);
    prompts.withdraw(a); // a second time is ignored
    for (const auto& w : windows)
        QTRY_VERIFY_WITH_TIMEOUT(w.isNull() || !w->isVisible(), 2000);
    QCOMPARE(calls, 0);
    // The close box of the Yes/No box answers No.
    std::optional<bool> yes;
    const Prompts::Id y2 = prompts.askYesNo({QStringLiteral("t"), QStringLiteral("q")}, [&](bool v) { yes = v; });
    closeByCloseBox(prompts.window(y2));
    QCOMPARE(yes, std::optional<bool>(false));
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
