#include "session/Session.h"
#include "support/Harness.h"
#include "transfer/TransferManager.h"
#include "ui/ChangedIdentityDialog.h"
#include "ui/MainWindow.h"
#include "ui/PrivacyBadge.h"
#include "ui/QueueWindow.h"
#include "ui/QuickConnectDialog.h"
#include "ui/RemoteUserInfoDialog.h"
#include "ui/SiteListWindow.h"
#include "ui/SplashWindow.h"
#include "ui/TranscriptPane.h"
#include "ui/Twips.h"
#include "ui/WindowTestTools.h"

#include <QClipboard>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBlock>

namespace {

TranscriptPane* pane(MainWindow& w, const QString& name)
{
    return w.findChild<TranscriptPane*>(name);
}

QString stateText(MainWindow& w)
{
    return w.findChild<QLabel*>("SockState")->text();
}

void quickConnect(MainWindow& w, bool server, quint16 port)
{
    act(&w, "mnu_Connect")->trigger();
    auto* dlg = w.findChild<QuickConnectDialog*>("dlgConnect");
    QVERIFY(dlg && dlg->isVisible());
    (server ? dlg->serverModeOption : dlg->clientModeOption)->setChecked(true);
    (server ? dlg->serverPortEdit : dlg->clientPortEdit)->setText(QString::number(port));
    dlg->clientAddressEdit->setText("127.0.0.1");
    dlg->okButton->click();
}

void chat(MainWindow& w, const QString& line)
{
    auto* bar = w.findChild<QLineEdit*>("ChatBar");
    bar->setText(line);
    QTest::keyClick(bar, Qt::Key_Return);
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lineKinds_data()
    {
        columns<int, QString>("kindNumber", "layout");
        // Each kind in one of the two layouts: the pane and the colour follow the kind.
        QTest::newRow("message, two boxes") << 1 << "1";
        QTest::newRow("status, one box") << 2 << "0";
        QTest::newRow("error, two boxes") << 3 << "1";
        QTest::newRow("connect, one box") << 4 << "0";
    }
    void lineKinds()
    {
        auto [kindNumber, layout] = fetch<int, QString>("kindNumber", "layout");
        const auto kind = static_cast<LineKind>(kindNumber);
        const QString second = kind == LineKind::Message ? "MsgText" : "StatusText"; // the pane beside bothPane
        TestPeer p;
        Options& o = p.ctx->options;
        o.messageColor = "255", o.statusColor = "65280", o.errorColor = "16711680", o.connectColor = "8388736";
        o.boxLayout = layout;
        o.timeStamps = true;
        MainWindow w(*p.peer);
        w.applyLayout();
        p.ctx->addText(QStringLiteral("line"), kind);
        const QColor expected[] = {{}, Qt::red, QColor(0, 255, 0), Qt::blue, QColor(128, 0, 128)};
        QVERIFY(paneLines(pane(w, "BothText")).constLast().contains(QRegularExpression(R"(^\[\d{1,2}:\d\d\] line$)")));
        QCOMPARE(paneLines(pane(w, second)), paneLines(pane(w, "BothText")));
        QVERIFY(paneLines(pane(w, second == "MsgText" ? "StatusText" : "MsgText")).isEmpty());
        for (const QString& name : {QString("BothText"), second})
            QCOMPARE(pane(w, name)->document()->firstBlock().begin().fragment().charFormat().foreground().color(),
                     expected[kindNumber]);
        act(&w, "Clean")->trigger();
        for (const char* n : {"BothText", "StatusText", "MsgText"})
            QVERIFY(paneLines(pane(w, n)).isEmpty());
    }

    void chatBar_data()
    {
        columns<QString, QStringList, QString>("typed", "shown", "left");
        QTest::newRow("empty") << "" << QStringList{} << "";
        QTest::newRow("debug on") << "/debug" << QStringList{"QVDEBUG ACTIVATED"} << "";
        QTest::newRow("mixed case") << "/DeBuG" << QStringList{"QVDEBUG ACTIVATED"} << "";
        QTest::newRow("debug with blank: chat") << "/debug " << QStringList{"*** Not Connected"} << "/debug ";
    }
    void chatBar()
    {
        auto [typed, shown, left] = fetch<QString, QStringList, QString>("typed", "shown", "left");
        const bool debug = shown == QStringList{"QVDEBUG ACTIVATED"};
        TestPeer p;
        MainWindow w(*p.peer);
        auto* bar = w.findChild<QLineEdit*>("ChatBar");
        QTest::keyClicks(bar, typed);
        QTest::keyClick(bar, Qt::Key_Return);
        QCOMPARE(p.rec->lines, shown);
        QCOMPARE(p.ctx->debugMode, debug);
        QCOMPARE(bar->text(), left);
        if (debug) { // the second toggle turns it off again
            chat(w, typed);
            QCOMPARE(p.rec->lines.constLast(), QString("QVDEBUG DEACTIVATED"));
            QVERIFY(!p.ctx->debugMode);
        }
    }

    void debugNoticeOnceAndTimeStamps()
    {
        TestPeer p;
        p.ctx->debugMode = true;
        MainWindow w(*p.peer);
        QCOMPARE(paneLines(pane(w, "BothText")) + paneLines(pane(w, "MsgText")),
                 QStringList({"QVDEBUG ACTIVATED", "QVDEBUG ACTIVATED"}));
        QCOMPARE(PeerState::formatTimeStamp(QTime(9, 5), true, false), QString("[9:05]"));
        QCOMPARE(PeerState::formatTimeStamp(QTime(0, 7), true, false), QString("[0:07]"));
        QCOMPARE(PeerState::formatTimeStamp(QTime(14, 0), true, true), QString("([14:00])"));
    }

    // Restoring the window (the tray's Restore) brings back the queue window that went down with it.
    void restoreBringsBackQueue()
    {
        TestPeer p;
        MainWindow w(*p.peer);
        w.show();
        act(&w, "mnu_queue")->trigger();
        QWidget* queue = w.queueWindow();
        QVERIFY(queue->isVisible());
        queue->setWindowState(Qt::WindowMinimized);
        w.setWindowState(Qt::WindowMinimized);
        act(&w, "mnu_restore")->trigger();
        QVERIFY(!w.isMinimized() && !queue->isMinimized() && queue->isVisible());
    }

    void splashEnds()
    {
        SplashWindow clicked("2.0"), timed("2.0");
        QSignalSpy byClick(&clicked, &SplashWindow::finished), byTimer(&timed, &SplashWindow::finished);
        clicked.start();
        QTest::mouseClick(&clicked, Qt::LeftButton);
        QTest::mouseClick(&clicked, Qt::LeftButton);
        QCOMPARE(byClick.count(), 1);
        timed.closeAfterMs = 20;
        timed.start();
        QVERIFY(byTimer.wait(2000));
    }

    // Two windows connect through the quick-connect dialog, chat both ways and disconnect;
    // the state label follows each step without waiting for a stateTimer tick. The title
    // names the logged-in peer, its name shown as one line.
    void twoWindows()
    {
        TestPeer a("Ann"), b("Bob <b>\nX");
        MainWindow wa(*a.peer), wb(*b.peer);
        wa.stateTimer.stop();
        wb.stateTimer.stop();
        const quint16 port = freePortTriple();
        quickConnect(wa, true, port);
        QCOMPARE(stateText(wa), QString("Waiting For Connect Attempt."));
        quickConnect(wb, false, port);
        QTRY_VERIFY_WITH_TIMEOUT(a.rec->contains("*** Remote User Info Change (Bob <b>\\nX)"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(b.rec->contains("*** Remote User Info Change (Ann)"), 5000);
        QCOMPARE(stateText(wa), QString("Connected."));
        QCOMPARE(stateText(wb), QString("Connected."));
        QCOMPARE(wa.windowTitle(), "Zantiro - Bob <b>\\nX (127.0.0.1)");

        chat(wb, QString::fromUtf8("hello \u00e9"));
        QTRY_VERIFY_WITH_TIMEOUT(paneLines(pane(wa, "MsgText")).contains("<Bob <b>\\nX> hello \u00e9"), 3000);
        chat(wa, "hi");
        QTRY_VERIFY_WITH_TIMEOUT(paneLines(pane(wb, "BothText")).contains("<Ann> hi"), 3000);
        // Pasted lines go out one chat line each, blank ones left out.
        QApplication::clipboard()->setText("one\r\n\ntwo\n");
        wa.findChild<QLineEdit*>("ChatBar")->paste();
        chat(wa, wa.findChild<QLineEdit*>("ChatBar")->text());
        QTRY_VERIFY_WITH_TIMEOUT(paneLines(pane(wb, "MsgText")).contains("<Ann> two"), 3000);
        QCOMPARE(paneLines(pane(wb, "MsgText")).filter("<Ann>"), QStringList({"<Ann> hi", "<Ann> one", "<Ann> two"}));

        act(&wb, "Disconnect")->trigger(); // "bye"; the server closes
        QTRY_COMPARE_WITH_TIMEOUT(stateText(wa), QString("Disconnected."), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(stateText(wb), QString("Disconnected."), 2000);
        QCOMPARE(wa.windowTitle(), "Zantiro");
        // Disconnect while listening closes at once.
        quickConnect(wa, true, port);
        act(&wa, "mnu_dc")->trigger();
        QCOMPARE(stateText(wa), QString("Disconnected."));
    }

    // Exit (also Ctrl+Q) asks first; No keeps the window. While a file arrives the question says so, and Yes
    // tells the sender on the transfer command connection, says "bye", and writes the log and
    // the options, the window size exactly as it was applied. The site list, left open, closes
    // before the options are saved, so that its new size is kept.
    void exitQuestion()
    {
        TestPeer a(QStringLiteral("Ann")), b(QStringLiteral("Bob"));
        a.ctx->options.autoAccept = true;
        a.ctx->settings.privateMode = PrivateMode::Never; // the test plays the sender in plain text
        a.ctx->options.mainWidth = "6000";
        a.ctx->options.mainHeight = "5505";
        MainWindow w(*a.peer);
        installSiteList(w);
        QSignalSpy done(&w, &MainWindow::exitConfirmed);
        w.applyWindowPlacement();
        w.show();
        auto answer = [&](const QString& text, QMessageBox::StandardButton button) {
            QMessageBox* box = w.findChildren<QMessageBox*>("exitQuestion").constLast();
            QVERIFY(box->isVisible());
            QCOMPARE(box->text(), text);
            box->button(button)->click();
        };
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
        answer("Are you sure you want to exit Zantiro?", QMessageBox::No);
        QVERIFY(w.isVisible());

        QVERIFY(connectPeers(a, b, freePortTriple()));
        // The test plays the sender's command connection; b's session carries the offer.
        const quint16 port = freePortTriple();
        QTcpServer sender;
        QVERIFY(sender.listen(QHostAddress::LocalHost, port));
        b.peer->session().sendControlMessage(QStringLiteral("file:%1|big.bin|32768|1000000").arg(port));
        QTRY_VERIFY_WITH_TIMEOUT(sender.hasPendingConnections(), 5000);
        QTcpSocket* command = sender.nextPendingConnection();
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT((got += command->readAll()).contains("ACCE_TRAN"), 5000);
        QCOMPARE(done.count(), 0);
        act(&w, "mnu_svrlist")->trigger();
        QWidget* sites = w.findChild<QWidget*>("SvrList");
        sites->resize(sites->width() + 120, sites->height() + 60);
        const QString sitesWidth = QString::number(pixelsToTwipsX(sites->width()));

        act(&w, "mnu_exit")->trigger();
        answer("A file transfer is running. Exit anyway?", QMessageBox::Yes);
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000);
        QVERIFY(!w.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT((got += command->readAll()).contains("CANC_TRAN"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(b.rec->contains("*** User Disconnected"), 5000);
        QVERIFY(!a.peer->transfers().busy());
        const QByteArray log = readFile(a.ctx->options.logFolder + "QvLogs.log");
        QVERIFY2(log.startsWith("*** Waiting on Port : ") && log.endsWith("*** File Transfer Canceled : big.bin\r\n"),
                 log.constData());
        Options saved;
        QCOMPARE(ConfigFile::load(a.ctx->configPath(), a.ctx->programFolder, saved), QString());
        QCOMPARE((QStringList{saved.mainWidth, saved.mainHeight, saved.sitesWidth}),
                 (QStringList{"6000", "5505", sitesWidth}));
    }

    // Two windows: while the connection is private both show the lock with the same code in
    // its tool tip and in the remote user's information; a plain one shows none. Gone when
    // the connection ends.
    void privacyShown_data() { rowsOf<bool>("plain", {{"private", false}, {"server never private", true}}); }
    void privacyShown()
    {
        QFETCH(bool, plain);
        TestPeer a("Ann"), b("Bob");
        if (plain)
            a.ctx->settings.privateMode = PrivateMode::Never;
        MainWindow wa(*a.peer), wb(*b.peer);
        const auto badge = [](MainWindow& w) { return w.findChild<PrivacyBadge*>("PrivacyBadge"); };
        QVERIFY(badge(wb)->isHidden());
        QVERIFY(connectPeers(a, b, freePortTriple()));
        const QString code = a.peer->session().connectionCode();
        QCOMPARE(b.peer->session().connectionCode(), code);
        QCOMPARE(QRegularExpression(R"(^\d{5}( \d{5}){3}$)").match(code).hasMatch(), !plain);
        for (MainWindow* w : {&wa, &wb}) {
            QCOMPARE(badge(*w)->isHidden(), plain);
            QCOMPARE(badge(*w)->toolTip(), plain ? "" : "Private connection (TLS 1.3) - connection code " + code);
            act(w, "mnu_remui")->trigger();
            QCOMPARE(labelText(w->findChild<RemoteUserInfoDialog*>(), "ConnectionCodeLabel"),
                     plain ? "Not private" : code);
        }
        QCOMPARE(badge(wa)->lockLabel->pixmap().toImage().pixelColor(6, 8).alpha(), 255); // drawn offscreen too
        b.peer->session().dropForConnect(); // closed here at once; the other side sees it go
        QVERIFY(badge(wb)->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(badge(wa)->isHidden(), 3000);
    }

    // The site presents another key than the one remembered for it: not connected, and a
    // dialog shows the new code. Cancel leaves it so; Accept remembers the new key and
    // connects privately.
    void changedIdentity()
    {
        TestPeer a("Ann"), b("Bob");
        const quint16 port = freePortTriple();
        const QByteArray wrongKey = Identity::generate().publicKey();
        KnownPeers stored(b.ctx->programFolder);
        QVERIFY(stored.rememberSite("127.0.0.1", port, wrongKey, "Ann") && stored.save());
        QCOMPARE(b.ctx->knownPeers().siteKey("127.0.0.1", port), wrongKey);
        MainWindow w(*b.peer);
        a.listen(port);
        for (bool accept : {false, true}) {
            QTRY_COMPARE_WITH_TIMEOUT(a.peer->session().connectionState(), Session::State::Listening, 3000);
            b.connectTo(port);
            ChangedIdentityDialog* d = nullptr;
            QVERIFY(
                QTest::qWaitFor([&] { return (d = w.findChild<ChangedIdentityDialog*>()) && d->isVisible(); }, 5000));
            QCOMPARE(d->codeLabel->text(),
                     Identity::connectionCode(a.ctx->identity().publicKey(), b.ctx->identity().publicKey()));
            QVERIFY(d->messageLabel->text().contains(QStringLiteral("127.0.0.1 port %1,").arg(port)));
            QVERIFY(!b.peer->session().isConnected());
            (accept ? d->acceptButton : d->cancelButton)->click();
            QTRY_VERIFY(!w.findChild<ChangedIdentityDialog*>());
            KnownPeers read(b.ctx->programFolder);
            QVERIFY(read.load());
            QCOMPARE(read.siteKey("127.0.0.1", port), accept ? a.ctx->identity().publicKey() : wrongKey);
        }
        QTRY_VERIFY_WITH_TIMEOUT(a.rec->indexStarting("*** Remote User Info Change (Bob)") >= 0, 5000);
        QVERIFY(b.peer->session().isPrivate());
        QVERIFY(!w.findChild<PrivacyBadge*>()->isHidden());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
