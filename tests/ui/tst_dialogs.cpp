#include "support/Harness.h"
#include "ui/AcceptOfferDialog.h"
#include "ui/ExistingFileDialog.h"
#include "ui/WindowPrompts.h"
#include "ui/WindowTestTools.h"

#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>

#include <optional>

namespace {

void leave(QWidget* w, const QString& how)
{
    if (how == QLatin1String("close"))
        closeByCloseBox(w);
    else if (how == QLatin1String("escape"))
        QTest::keyClick(w, Qt::Key_Escape);
    else
        QTest::mouseClick(w->findChild<QPushButton*>(how), Qt::LeftButton);
}

} // namespace

// The transfer questions as windows: controls, the typed-name filter, and how each way of
// leaving a dialog maps to the answer the transfer side gets.
class TestDialogs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void acceptIt_data()
    {
        columns<QString, bool, bool>("how", "tick", "accepted");
        QTest::newRow("accept, auto from now on") << "AcceptButton" << true << true;
        QTest::newRow("decline keeps the auto box") << "DeclineButton" << true << false;
        QTest::newRow("close box declines") << "close" << false << false;
        QTest::newRow("Esc declines") << "escape" << true << false;
    }

    void acceptIt()
    {
        auto [how, tick, accepted] = fetch<QString, bool, bool>("how", "tick", "accepted");
        WindowPrompts prompts(nullptr);
        // Texts from the peer show as one line, control characters escaped; a byte count as a size.
        Prompts::AcceptRequest rq{"a-rather-long-file-name\x1b[2J.zip", tick ? "3000000000" : "12\t4",
                                  "Somebody With A\nLong Name", "/home/someone/download/", false};
        rq.answerBy = QDeadlineTimer(42 * 1000 - 50);
        std::optional<Prompts::AcceptReply> got;
        const Prompts::Id id = prompts.askAccept(rq, [&](const Prompts::AcceptReply& r) { got = r; });
        QPointer<QWidget> w = prompts.window(id);
        QVERIFY(w);
        // Long texts are shortened from the front; the clock counts down to the sender's deadline.
        QCOMPARE((QStringList{labelText(w, "FileNameLabel"), labelText(w, "SizeLabel"), labelText(w, "FromLabel"),
                              labelText(w, "DirectoryLabel"), labelText(w, "AnswerClock")}),
                 (QStringList{"...-file-name\\x1b[2J.zip", tick ? "2.8 GiB" : "12\\t4", "...With A\\nLong Name",
                              "...someone/download/", "Answer within 0:42"}));

        w->findChild<QCheckBox*>(QStringLiteral("AutoAcceptCheck"))->setChecked(tick);
        leave(w, how);
        QVERIFY(got);
        QCOMPARE(got->accepted, accepted);
        QCOMPARE(got->autoAccept, tick);
        QCOMPARE(got->folder, rq.folder);
        QTRY_VERIFY_WITH_TIMEOUT(w.isNull(), 2000);
    }

    void faExists_data()
    {
        // The option clicked (-1 keeps the first), the name typed, how the dialog is left and
        // the choice answered (0: no answer yet).
        columns<int, QString, QString, int>("option", "typed", "how", "choice");
        const QString none, typed = "a\\b/c:d*e?f\"g<h>i|j k.v2"; // reads "abcdefghij k.v2" in the box
        QTest::newRow("overwrite") << -1 << none << "OkButton" << 1;
        QTest::newRow("resume") << 1 << none << "OkButton" << 2;
        QTest::newRow("numbered") << 2 << none << "OkButton" << 3;
        QTest::newRow("typed, never always") << 3 << typed << "OkButton" << 4;
        QTest::newRow("typed then resume") << 3 << typed << "resume" << 2;
        QTest::newRow("cancel") << 1 << none << "CancelButton" << 5;
        QTest::newRow("close box") << 0 << none << "close" << 5;
        QTest::newRow("empty typed name") << 3 << none << "OkButton" << 0;
    }

    void faExists()
    {
        auto [option, typed, how, choice] = fetch<int, QString, QString, int>("option", "typed", "how", "choice");
        WindowPrompts prompts(nullptr);
        std::optional<Prompts::ExistsReply> got;
        QTemporaryDir dir;
        const QString here = dir.filePath("old.bin");
        QFile file(here);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(2048, 'x')) == 2048 && file.flush());
        QVERIFY(file.setFileTime(QDateTime(QDate(2024, 3, 5), QTime(14, 7)), QFileDevice::FileModificationTime));
        file.close();
        const QLocale l;
        const Prompts::Id id = prompts.askExisting({"old\r.bin", QDeadlineTimer(1500), here, qint64(3) << 30},
                                                   [&](const Prompts::ExistsReply& r) { got = r; });
        QPointer<QWidget> w = prompts.window(id);
        QVERIFY(w);
        // Both files, to choose between them: size and date here, the offered size.
        QCOMPARE(w->findChild<QLabel*>("ExistingLabel")->text(),
                 "2.0 KiB (" + l.toString(2048) + " bytes), 2024-03-05 14:07");
        QCOMPARE(w->findChild<QLabel*>("OfferedLabel")->text(), "3.0 GiB (" + l.toString(qint64(3) << 30) + " bytes)");
        QCOMPARE(labelText(w, "AnswerClock"), "Answer within 0:02");
        const auto options = w->findChildren<QRadioButton*>(QStringLiteral("Option1"));
        QVERIFY(options.size() == 4 && options[0]->isChecked());
        auto* check = w->findChild<QCheckBox*>(QStringLiteral("AlwaysCheck"));
        auto* edit = w->findChild<QLineEdit*>(QStringLiteral("FileNameText"));
        QCOMPARE(edit->text(), QStringLiteral("old\\r.bin")); // the peer's name, as one line
        if (option >= 0)
            clickIndicator(options[option]);
        QCOMPARE(edit->isEnabled(), option == 3);
        if (option == 3) {
            // The escaped name is no usable name: it cannot be taken as it is.
            QVERIFY(!w->findChild<QPushButton*>(QStringLiteral("OkButton"))->isEnabled());
            // A pasted path is refused whole: the name cannot leave the target folder.
            edit->clear();
            QApplication::clipboard()->setText(QStringLiteral("../x.bin"));
            edit->paste();
            QVERIFY(!edit->text().contains('/'));
            edit->clear();
            QTest::keyClicks(edit, typed); // refused characters are dropped as they are typed
        }
        check->setChecked(true); // has no effect where the box is disabled
        if (how == QLatin1String("resume")) {
            clickIndicator(options[1]);
            QVERIFY(!edit->isEnabled());
            how = QStringLiteral("OkButton");
        }
        leave(w, how);
        if (!choice) {
            QVERIFY(!got && w);
            QTRY_COMPARE_WITH_TIMEOUT(labelText(w, "AnswerClock"), "Answer within 0:00", 3000);
            return;
        }
        QVERIFY(got);
        QCOMPARE(static_cast<int>(got->choice), choice);
        QCOMPARE(got->always, choice <= 3); // the box was ticked wherever it could be
        QCOMPARE(got->newName, choice == 4 ? QStringLiteral("abcdefghij k.v2") : QString());
        QTRY_VERIFY_WITH_TIMEOUT(w.isNull(), 2000);
    }

    void withdrawnQuestionsCloseSilently()
    {
        QWidget owner;
        WindowPrompts prompts(&owner);
        int calls = 0;
        const Prompts::Id a = prompts.askAccept({}, [&](const Prompts::AcceptReply&) { ++calls; });
        const Prompts::Id e = prompts.askExisting({"n"}, [&](const Prompts::ExistsReply&) { ++calls; });
        const Prompts::Id y = prompts.askYesNo({"Cancel Send?", "Sure?"}, [&](bool) { ++calls; });
        auto* box = qobject_cast<QMessageBox*>(prompts.window(y));
        QVERIFY(box);
        const QList<QPointer<QWidget>> windows = {prompts.window(a), prompts.window(e), box};
        for (Prompts::Id id : {a, e, y, a})
            prompts.withdraw(id);
        for (const auto& w : windows)
            QTRY_VERIFY_WITH_TIMEOUT(w.isNull() || !w->isVisible(), 2000);
        QCOMPARE(calls, 0);
        // The Yes/No box's close box answers No.
        std::optional<bool> yes;
        closeByCloseBox(prompts.window(prompts.askYesNo({"t", "q"}, [&](bool v) { yes = v; })));
        QCOMPARE(yes, std::optional<bool>(false));
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
