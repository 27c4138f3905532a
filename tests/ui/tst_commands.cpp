#include "ui/MainWindow.h"
#include "ui/SvrList.h"
#include "ui/TranscriptPane.h"
#include "ui/TransferUi.h"
#include "ui/TrayIcon.h"
#include "ui/WindowPromptsUi.h"
#include "session/Session.h"
#include "config/Options.h"
#include "ui/TwipsUi.h"
#include <QMessageBox>
#include <QPushButton>
#include "support/Harness.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

namespace {

QAction* act(MainWindow& w, const QString& name)
{
    return w.findChild<QAction*>(name);
}

// A visible window of the program with this object name.
QWidget* shown(const QString& name)
{
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == name && top->isVisible())
            return top;
    return nullptr;
}

} // namespace

class TestCommands : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every entry of the menu bar, the popup and the toolbar runs its command: the window it
    // opens, the line it shows without a connection, or its effect on the panes.
    void entries_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("line");
        const QString none;
        QTest::newRow("quick connect") << QStringList{"mnu_Connect", "pop_conn", "Connect"} << "dlgConnect" << none;
        QTest::newRow("send") << QStringList{"mnu_sndfile", "pop_file", "Send"} << "SendType" << none;
        QTest::newRow("message") << QStringList{"mnu_msg", "pop_msg", "Msg"} << none << "*** Not Connected";
        QTest::newRow("remote info") << QStringList{"mnu_remui", "pop_remui"} << none << "*** Not Connected";
        QTest::newRow("ping") << QStringList{"mnu_Ping", "pop_ping", "Ping"} << none << "*** Not Connected";
        QTest::newRow("help") << QStringList{"mnu_Help2", "pop_help", "Help"} << "HelpWindow" << none;
        QTest::newRow("queue") << QStringList{"mnu_queue", "pop_queue"} << "queue" << none;
        QTest::newRow("catcher") << QStringList{"mnu_catcher", "pop_catcher"} << "Moniter" << none;
        QTest::newRow("exit") << QStringList{"mnu_exit", "mnu_trayexit"} << "exitQuestion" << none;
        QTest::newRow("site list") << QStringList{"mnu_svrlist", "pop_svrlist", "ServerList"} << "SvrList" << none;
        QTest::newRow("options") << QStringList{"mnu_Opt", "pop_opt", "Options"} << "Options" << none;
        QTest::newRow("local address") << QStringList{"mnu_getip", "pop_get", "GetIp"} << "LocIP" << none;
        QTest::newRow("about") << QStringList{"mnu_about"} << "AboutWindow" << none;
        QTest::newRow("clear") << QStringList{"mnu_clear", "pop_clear", "Clean"} << none << none;
    }
    void entries()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, window);
        QFETCH(QString, line);
        for (const QString& name : names) {
            TestPeer p;
            MainWindow w(*p.peer);
            InstallTransferUi(*p.peer, &w);
            InstallSiteList(w);
            w.show();
            p.ctx->AddText("before", StatusLine);
            QAction* a = act(w, name);
            QVERIFY2(a && a->isEnabled(), qPrintable(name));
            a->trigger();
            if (!window.isEmpty())
                QTRY_VERIFY2(shown(window) || (w.findChild<QWidget*>(window) && w.findChild<QWidget*>(window)->isVisible()),
                             qPrintable(name));
            if (!line.isEmpty())
                QVERIFY2(p.rec->contains(line), qPrintable(name));
            QCOMPARE(w.findChild<TranscriptPane*>("BothText")->toPlainText().contains("before") ||
                         w.findChild<TranscriptPane*>("StatusText")->toPlainText().contains("before"),
                     QTest::currentDataTag() != QByteArray("clear"));
            // The toggles name what the next choice does, in the menu and the popup alike.
            if (window == "queue" || window == "Moniter") {
                const QString hide = window == "queue" ? "Hide File Queue" : "Hi&de File Catcher";
                QCOMPARE(act(w, names[0])->text(), hide);
                QCOMPARE(act(w, names[1])->text(), hide);
            }
        }
    }

    // The tray and the blinking: a line of a kind whose blink option is on, while no window of
    // the program is in front, alternates the tray picture each tick until the program comes
    // to the front; minimizing ends a pending alert.
    void blinking_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("active");
        QTest::addColumn<bool>("blinks");
        QTest::newRow("message in the background") << int(MessageLine) << false << true;
        QTest::newRow("status, its blink off") << int(StatusLine) << false << false;
        QTest::newRow("message, another window in front") << int(MessageLine) << true << false;
    }
    void blinking()
    {
        QFETCH(int, kind);
        QFETCH(bool, active);
        QFETCH(bool, blinks);
        TestPeer p;
        p.ctx->options.MinToTray = true;
        p.ctx->options.MessageBlink = true;
        p.ctx->options.StatusBlink = false;
        MainWindow w(*p.peer);
        TrayIcon& tray = *w.tray();
        tray.available = true; // stands in for a desktop with a notification area
        bool front = false;
        w.programActive = [&front] { return front; };
        w.FlashTimer.setInterval(20);
        w.CheckActiveTimer.setInterval(10);
        w.show();
        w.setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY(tray.inTray());
        QVERIFY(!w.isVisible());
        // X11 reports the withdrawn window as no longer minimized: the icon must stay.
        w.setWindowState(Qt::WindowNoState);
        QVERIFY(tray.inTray());
        QCOMPARE(tray.toolTip(), "Zantiro");

        front = active;
        QTRY_COMPARE(w.ActiveThread, active);
        p.ctx->AddText("a line", kind);
        QCOMPARE(tray.notifications(), kind == MessageLine ? 1 : 0);
        QSignalSpy ticks(&w.FlashTimer, &QTimer::timeout);
        if (blinks) {
            QTRY_COMPARE(tray.picture(), 2);
            QTRY_COMPARE(tray.picture(), 1);
            QTRY_COMPARE(tray.picture(), 2);
            QVERIFY(w.NewMessage);
            front = true; // the program comes to the front: the alert ends
            QTRY_VERIFY(!w.NewMessage);
            QCOMPARE(tray.picture(), 1);
        } else {
            QTRY_VERIFY(ticks.count() >= 4);
            QCOMPARE(tray.picture(), 1);
            QVERIFY(!w.NewMessage);
        }

        // A double-click on the icon brings the window back and takes the icon away.
        Q_EMIT tray.doubleClicked();
        QVERIFY(w.isVisible());
        QVERIFY(!w.isMinimized());
        QVERIFY(!tray.inTray());
    }

    // Minimizing without the tray option, or where the desktop has no notification area,
    // keeps the window on the task bar; a pending alert ends either way.
    void minimizeWithoutTray_data()
    {
        QTest::addColumn<bool>("minToTray");
        QTest::addColumn<int>("notices");
        QTest::newRow("option off") << false << 0;
        QTest::newRow("no notification area") << true << 1;
    }
    void minimizeWithoutTray()
    {
        QFETCH(bool, minToTray);
        QFETCH(int, notices);
        TestPeer p;
        p.ctx->options.MinToTray = minToTray;
        MainWindow w(*p.peer);
        w.tray()->available = false;
        w.show();
        for (int i = 0; i < 2; ++i) {
            w.NewMessage = true;
            w.setWindowState(Qt::WindowMinimized);
            QVERIFY(!w.NewMessage);
            QCoreApplication::processEvents(); // the deferred hiding, had there been one
            QVERIFY(w.isVisible());
            QVERIFY(!w.tray()->inTray());
            w.setWindowState(Qt::WindowNoState);
        }
        QCOMPARE(p.rec->indexStarting("*** This desktop has no notification area") >= 0, notices == 1);
        QCOMPARE(p.rec->lines.filter("notification area").size(), notices);
    }

    // The title names the logged-in peer, its name shown as one line; the shortcuts; the
    // popup's text commands and Ctrl+C in a pane; Escape closes the small windows.
    void titleShortcutsAndText()
    {
        TestPeer server("server"), client("client");
        client.ctx->options.MyName = "Ann <b>\nX";
        MainWindow w(*server.peer);
        w.show();
        QCOMPARE(w.windowTitle(), "Zantiro");
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
        auto* exitBox = w.findChild<QDialog*>("exitQuestion");
        QVERIFY(exitBox && exitBox->isVisible());
        exitBox->reject(); // No: the program stays
        QVERIFY(connectPeers(server, client, freePortTriple()));
        QTRY_COMPARE(w.windowTitle(), "Zantiro - Ann <b>\\nX (127.0.0.1)");

        for (const char* name : {"mnu_remui", "mnu_msg", "mnu_Help2"}) {
            act(w, name)->trigger();
            QWidget* top = QApplication::activeModalWidget();
            for (QWidget* t : QApplication::topLevelWidgets())
                if (t->isVisible() && t != &w && (qobject_cast<QDialog*>(t) || t->objectName() == "HelpWindow"))
                    top = t;
            QVERIFY2(top, name);
            QTest::keyClick(top, Qt::Key_Escape);
            QTRY_VERIFY2(!top->isVisible(), name);
        }

        auto* both = w.findChild<TranscriptPane*>("BothText");
        Q_EMIT both->popupRequested(w.mapToGlobal(QPoint(10, 10)));
        act(w, "pop_selectall")->trigger();
        QVERIFY(both->textCursor().hasSelection());
        act(w, "pop_copy")->trigger();
        const QString all = both->toPlainText();
        QVERIFY(all.contains("*** User Authenticated"));
        QCOMPARE(QApplication::clipboard()->text(), both->textCursor().selectedText().replace(QChar::ParagraphSeparator, '\n'));
        QApplication::clipboard()->clear();
        QTest::keyClick(both, Qt::Key_C, Qt::ControlModifier);
        QVERIFY(QApplication::clipboard()->text().contains("*** User Authenticated"));
        w.findChild<QMenu*>("mnu_Pop")->hide();

        client.peer->session().Disconnect();
        QTRY_COMPARE(w.windowTitle(), "Zantiro");
    }

    // Leaving with the site list open keeps its new size: the windows close before the
    // options are saved.
    void exitKeepsSiteListSize()
    {
        TestPeer p;
        MainWindow w(*p.peer);
        InstallSiteList(w);
        QSignalSpy done(&w, &MainWindow::exitConfirmed);
        w.show();
        act(w, "mnu_svrlist")->trigger();
        QWidget* sites = shown("SvrList");
        QVERIFY(sites);
        sites->resize(sites->width() + 120, sites->height() + 60);
        const QString width = QString::number(pixelsToTwipsX(sites->width()));
        act(w, "mnu_exit")->trigger();
        auto* box = w.findChild<QMessageBox*>("exitQuestion");
        box->button(QMessageBox::Yes)->click();
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000);
        Options saved;
        QCOMPARE(ConfigFile::LoadConfig(p.ctx->configPath(), p.ctx->programFolder, saved), QString());
        QCOMPARE(saved.SitesWidth, width);
    }

    // The accept and existing-file questions count down to the sender's deadline.
    void answerClock()
    {
        QWidget owner;
        WindowPrompts prompts(&owner);
        Prompts::AcceptRequest accept;
        accept.fileName = "a.bin";
        accept.answerBy = QDeadlineTimer(42 * 1000 - 50);
        Prompts::ExistsRequest exists;
        exists.fileName = "b.bin";
        exists.answerBy = QDeadlineTimer(1500);
        QWidget* a = prompts.window(prompts.askAccept(accept, [](const Prompts::AcceptReply&) {}));
        QWidget* e = prompts.window(prompts.askExisting(exists, [](const Prompts::ExistsReply&) {}));
        QCOMPARE(a->findChild<QLabel*>("AnswerClock")->text(), "Answer within 0:42");
        QCOMPARE(e->findChild<QLabel*>("AnswerClock")->text(), "Answer within 0:02");
        QTRY_COMPARE_WITH_TIMEOUT(e->findChild<QLabel*>("AnswerClock")->text(), "Answer within 0:00", 3000);
    }
};

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
