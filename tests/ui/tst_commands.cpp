#include "support/Harness.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowTray.h"
#include "ui/SiteListWindow.h"
#include "ui/TranscriptPane.h"
#include "ui/TransferUi.h"
#include "ui/TrayIcon.h"
#include "ui/WindowTestTools.h"

#include <QDialog>
#include <QSignalSpy>

class TestCommands : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every entry of the menu bar, the popup and the toolbar runs its command: the window it
    // opens (one, however often the command runs; a dialog or the help closes on Escape), the
    // line it shows without a connection, or its effect on the panes.
    void entries_data()
    {
        columns<QStringList, QString, QString>("names", "window", "line");
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
        auto [names, shownWindow, line] = fetch<QStringList, QString, QString>("names", "window", "line");
        const QString window = shownWindow; // a plain variable: the lambda below uses it
        const bool toggle = window == "queue" || window == "Moniter";
        for (const QString& name : names) {
            TestPeer p;
            MainWindow w(*p.peer);
            installTransferUi(*p.peer, &w);
            installSiteList(w);
            w.show();
            p.ctx->addText("before", LineKind::Status);
            QAction* a = act(&w, name);
            QVERIFY2(a && a->isEnabled(), qPrintable(name));
            a->trigger();
            if (!toggle)
                a->trigger();
            auto open = [&] {
                QWidgetList found = w.findChildren<QWidget*>(window);
                found.removeIf([](QWidget* c) { return !c->isVisible(); });
                return found;
            };
            if (!window.isEmpty()) {
                QTRY_COMPARE(open().size(), 1);
                QWidget* win = open().front();
                if (qobject_cast<QDialog*>(win) || window == "HelpWindow") {
                    QTest::keyClick(win, Qt::Key_Escape);
                    QTRY_VERIFY2(open().isEmpty(), qPrintable(name));
                }
            }
            if (!line.isEmpty()) // nothing opens without a connection
                QVERIFY2(p.rec->contains(line) && !w.findChild<QDialog*>(), qPrintable(name));
            QCOMPARE(w.findChild<TranscriptPane*>("StatusText")->toPlainText().contains("before"),
                     QTest::currentDataTag() != QByteArray("clear"));
        }
    }

    // Minimizing ends a pending alert. With the tray option on and a notification area the
    // window goes into the tray; a line of a kind whose blink option is on, while no window of
    // the program is in front, then alternates the tray picture each tick until the program
    // comes to the front, and a double-click on the icon brings the window back. Without the
    // option, or the area (said once), the window stays on the task bar.
    void trayAndBlinking_data()
    {
        columns<bool, bool, int, bool>("minToTray", "area", "kindNumber", "active");
        QTest::newRow("message in the background") << true << true << int(LineKind::Message) << false;
        QTest::newRow("status, its blink off") << true << true << int(LineKind::Status) << false;
        QTest::newRow("message, another window in front") << true << true << int(LineKind::Message) << true;
        QTest::newRow("tray option off") << false << true << int(LineKind::Message) << false;
        QTest::newRow("no notification area") << true << false << int(LineKind::Message) << false;
    }
    void trayAndBlinking()
    {
        auto [minToTray, area, kindNumber, active] =
            fetch<bool, bool, int, bool>("minToTray", "area", "kindNumber", "active");
        const auto kind = static_cast<LineKind>(kindNumber);
        TestPeer p;
        p.ctx->options.minimizeToTray = minToTray;
        p.ctx->options.messageBlink = true;
        p.ctx->options.statusBlink = false;
        MainWindow w(*p.peer);
        MainWindowTray& keeper = *w.tray();
        TrayIcon& tray = keeper.icon();
        tray.standIn = area; // stands in for a desktop with a notification area
        bool front = false;
        keeper.programActive = [&front] { return front; };
        keeper.flashTimer.setInterval(20);
        keeper.activeCheckTimer.setInterval(10);
        w.show();
        const bool toTray = minToTray && area;
        for (int i = 0; i < (toTray ? 1 : 2); ++i) {
            keeper.alertPending = true;
            w.setWindowState(Qt::WindowMinimized);
            QVERIFY(!keeper.alertPending);
            if (toTray)
                break;
            QCoreApplication::processEvents(); // the deferred hiding, had there been one
            QVERIFY(w.isVisible() && !tray.inTray());
            w.setWindowState(Qt::WindowNoState);
        }
        QCOMPARE(p.rec->lines.filter("*** This desktop has no notification area").size(), minToTray && !area ? 1 : 0);
        if (!toTray)
            return;
        QTRY_VERIFY(tray.inTray());
        QVERIFY(!w.isVisible());
        // X11 reports the withdrawn window as no longer minimized: the icon must stay.
        w.setWindowState(Qt::WindowNoState);
        QVERIFY(tray.inTray());

        front = active;
        QTRY_COMPARE(keeper.programInFront, active);
        // One notification per spell in the tray, its tags shown as text.
        p.ctx->addText("<Bob> a & b", kind);
        p.ctx->addText("<Bob> more", kind);
        QCOMPARE(tray.notices(), kind == LineKind::Message ? QStringList{"\u2039Bob\u203A a \uFF06 b"} : QStringList());
        QSignalSpy ticks(&keeper.flashTimer, &QTimer::timeout);
        if (kind == LineKind::Message && !active) {
            QTRY_COMPARE(tray.picture(), 2);
            QTRY_COMPARE(tray.picture(), 1);
            QTRY_COMPARE(tray.picture(), 2);
            QVERIFY(keeper.alertPending);
            front = true; // the program comes to the front: the alert ends
            QTRY_VERIFY(!keeper.alertPending);
            QCOMPARE(tray.picture(), 1);
        } else {
            QTRY_VERIFY(ticks.count() >= 4);
            QCOMPARE(tray.picture(), 1);
            QVERIFY(!keeper.alertPending);
        }
        Q_EMIT tray.doubleClicked();
        QVERIFY(w.isVisible() && !w.isMinimized() && !tray.inTray());
    }
};

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
