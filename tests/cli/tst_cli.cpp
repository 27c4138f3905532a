#include "cli/CliArguments.h"
#include "config/Scramble.h"
#include "session/Session.h"
#include "support/CliRun.h"
#include "support/Relay.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestCli : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Runs that end at once: a bad command line (the complaint and the usage on standard
    // error, status 2; CliArguments' own test has every complaint, the empty line among them), and what is asked for
    // (on standard output, status 0).
    void oneShot_data()
    {
        columns<QStringList, int, QString, QString>("args", "exitCode", "out", "err");
        const QString usage = CliArguments::usage() + '\n';
        QTest::newRow("unknown site") << QStringList{"--site", "Work/Anna"} << 2 << ""
                                      << "zantiro-cli: no saved site \"Work/Anna\" (--sites lists them)\n" + usage;
        QTest::newRow("help") << QStringList{"--help"} << 0 << usage << "";
        QTest::newRow("list sites") << QStringList{"--sites"} << 0
                                    << "Sites\n  Friends\n    Inner\n      Bo\th:0\n    Anna\t10.0.0.5:2100\n  Work\n  "
                                       "  Y\th:2000\n  Top\t1.2.3.4:2000\n"
                                    << "";
    }
    void oneShot()
    {
        auto [args, exitCode, out, err] = fetch<QStringList, int, QString, QString>("args", "exitCode", "out", "err");
        QTemporaryDir home;
        QVERIFY(writeFile(
            home.filePath("qvsites.cfg"),
            "Folder=Friends;Expanded;Parent=Sites;\r\nFolder=Work;Parent=Sites;\r\nFolder=Inner;Parent=Friends;\r\n"
            "Site=Anna;IP=10.0.0.5;Port=2100;Password=;Parent=Friends;\r\nSite=Top;IP=1.2.3.4;Port=2000;"
            "Password=;Parent=Sites;\r\nSite=Bo;IP=h;Port=0;Password=;Parent=Inner;\r\n"
            "Site=Y;IP=h;Port=2000;Password=\xFF"
            "es;Parent=Work;\r\n"));
        QProcess p;
        p.start(cli(),
                (args.value(0).startsWith("--site") ? QStringList{"--home", home.path()} : QStringList{}) + args);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), exitCode);
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()), out);
        QCOMPARE(QString::fromUtf8(p.readAllStandardError()), err);
    }

    // Two peers chat, ping, show each other's record and leave: the client by /quit, SIGINT or
    // SIGTERM alike ("bye" to the peer, log written, options saved), the server at the end of
    // its input. The SIGTERM client comes through a saved site, with the site's password.
    void twoPeersChatAndQuit_data() { rowsOf<int>("signal", {{"/quit", 0}, {"SIGINT", SIGINT}, {"SIGTERM", SIGTERM}}); }
    void twoPeersChatAndQuit()
    {
        QFETCH(int, signal);
        QTemporaryDir home1, home2;
        Run r;
        // A home path holding "/debug" does not switch debug mode on; "/DEBUG" on its own does.
        QVERIFY(QDir(home1.path()).mkpath("debug"));
        // A ";" in a record field would shift the others: it goes as ","; the home page keeps
        // its own. Control characters are shown written out.
        QVERIFY(writeFile(home2.filePath("qvsites.cfg"), "Folder=F;Parent=Sites;\r\nSite=Ann;IP=127.0.0.1;Port="
                                                             + r.port.toLatin1() + ";Password=Se cret;Parent=F;\r\n"));
        const QStringList to =
            signal == SIGTERM ? QStringList{"--site", "F/Ann"} : QStringList{"--password", "Se cret"};
        QVERIFY(r.start({"--home", home1.filePath("debug"), "--require-password", "Se cret", "--name", "Ann", "--email",
                         "a;n@x", "--age", "3;4", "--homepage", "http://h/a;b\x1b"},
                        QStringList{"--home", home2.path(), "/DEBUG", "--name", "Bob"} + to));
        QTRY_VERIFY_WITH_TIMEOUT(r.clientLines().contains("*** Remote User Info Change (Ann)"), 10000);
        QCOMPARE(r.clientLines().first(), QString("QVDEBUG ACTIVATED"));
        QTRY_VERIFY_WITH_TIMEOUT(r.serverLines().contains("*** Remote User Info Change (Bob)"), 10000);

        const QString accented = QString::fromUtf8("h\u00e9llo \u20ac \u0141\u00f3d\u017a \u65e5\u672c");
        r.client.write((accented + '\n').toUtf8());
        QTRY_VERIFY_WITH_TIMEOUT(r.serverLines().contains("<Bob> " + accented), 10000);
        QVERIFY(r.clientLines().contains("<Bob> " + accented));
        r.server.write("hi Bob\n/ping\n");
        QTRY_VERIFY_WITH_TIMEOUT(r.clientLines().contains("<Ann> hi Bob"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(
            r.serverLines().filter(QRegularExpression(R"(^\*\*\* Ping Reply  : \d+(\.\d{1,2})? Sec$)")).size(), 1,
            10000);
        r.server.write("/info\n");
        r.client.write("/info\n");
        const QStringList ann = {"Name : Ann", "E-Mail : a,n@x", "Homepage : http://h/a;b\\x1b", "Age : 3,4"};
        const QStringList bob = {"Name : Bob", "E-Mail : <No E-mail Specified>", "Homepage : <No Homepage Specified>",
                                 "Age : ##"};
        QTRY_COMPARE_WITH_TIMEOUT(r.clientLines().mid(r.clientLines().indexOf(ann[0]), 4), ann, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(r.serverLines().mid(r.serverLines().indexOf(bob[0]), 4), bob, 10000);

        if (signal)
            ::kill(static_cast<pid_t>(r.client.processId()), signal);
        else
            r.client.write("/quit\n");
        QVERIFY(r.client.waitForFinished(10000));
        QCOMPARE(r.client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(r.client.exitCode(), signal ? 128 + signal : 0);
        QTRY_VERIFY_WITH_TIMEOUT(r.serverLines().contains("*** User Disconnected"), 10000);
        QVERIFY(readFile(home2.filePath("log/QvLogs.log")).contains("<Ann> hi Bob\r\n"));
        QVERIFY(readFile(home2.filePath("log/QvLogs.log")).contains(("<Bob> " + accented + "\r\n").toUtf8()));
        QVERIFY(QFile::exists(home2.filePath("qvcfg.cfg")));
        r.server.closeWriteChannel(); // end of input acts as /quit
        QVERIFY(r.server.waitForFinished(10000));
        QCOMPARE(r.server.exitCode(), 0);
        QVERIFY(!r.serverLines().contains("QVDEBUG ACTIVATED"));
        // The option file was written, without this run's overrides.
        QVERIFY(QFile::exists(home1.filePath("debug/qvcfg.cfg")));
        QVERIFY(QDir(home2.path()).exists("download"));
    }

    void sendFolder()
    {
        QTemporaryDir tmp;
        const QString folder = tmp.filePath("out/Music");
        QVERIFY(writeFile(folder + "/a.bin", randomBytes(70000, 1)));
        QVERIFY(writeFile(folder + "/Live/b.bin", randomBytes(1, 2)));
        QVERIFY(writeFile(folder + "/Live/deep/c.bin", randomBytes(0, 3)));
        QVERIFY(writeFile(tmp.filePath("out/single.bin"), randomBytes(40000, 4)));
        QVERIFY(makeSpecialFile(folder + "/Live/pipe")); // skipped, never waited on
        // Links that cannot be sent are skipped, each with a line; the rest arrives.
        QVERIFY(QFile::link(folder, folder + "/self") && QFile::link("loop", folder + "/Live/loop"));
        Run r;
        r.serverInput = "/send " + tmp.filePath("out/single.bin").toUtf8() + "\n";
        QVERIFY(r.go(
            {"--home", tmp.filePath("s"), "--send", folder, "--exit-when-done"},
            {"--home", tmp.filePath("c"), "--auto-accept", "--download", tmp.filePath("in"), "--exit-after", "4"}));
        QCOMPARE(r.exitCodes(), (QList<int>{0, 0}));
        for (const char* f : {"Music/a.bin", "Music/Live/b.bin", "Music/Live/deep/c.bin", "single.bin"})
            QCOMPARE(readFile(tmp.filePath(QString("in/") + f)), readFile(tmp.filePath(QString("out/") + f)));
        QCOMPARE(r.serverLines().filter("*** File Transfer Complete : ").size(), 4);
        QVERIFY(r.serverLines().contains("*** File Transfer Complete : Music\\Live\\b.bin (1 bytes)"));
        QVERIFY(r.serverLines().contains("*** Skipped : " + folder + "/Live/pipe - a named pipe, not a regular file"));
        QVERIFY(r.serverLines().contains("*** Skipped : " + folder + "/self - it is a link to a folder"));
        QVERIFY(r.serverLines().contains("*** Skipped : " + folder + "/Live/loop - it is a link that leads nowhere"));
    }

    // The connection is cut while an offer is out: the sender reconnects, offers the file
    // again at once, and leaves (--exit-when-done) as soon as it arrived whole.
    void reconnectAndResend()
    {
        QTemporaryDir tmp;
        const QByteArray data = randomBytes(300000, 8);
        QVERIFY(writeFile(tmp.filePath("big.bin"), data));
        Run r;
        Relay relay;
        quint16 front = 0; // the sender's control port: its transfers use the next two
        while (front == 0 || std::abs(front - r.port.toInt()) < 3)
            front = freePortTriple();
        QVERIFY(relay.listen(front, r.port.toUShort()));
        // The first offer that passes is lost with the connection, cut at both ends as by a
        // failing network.
        QByteArray held;
        bool cut = false;
        relay.alter = [&](quint16, bool toServer, QByteArray& bytes) {
            if (!toServer || cut)
                return true;
            held += std::exchange(bytes, {});
            for (qsizetype end; (end = held.indexOf(Session::Terminator)) >= 0;) {
                const QByteArray frame = held.left(end + Session::Terminator.size());
                held.remove(0, frame.size());
                if ((cut = unscramble(frame.left(end)).startsWith("file:")))
                    return false;
                bytes += frame;
            }
            return true;
        };
        // The relay reads the control messages, so the connection stays plain.
        QVERIFY(r.start({"--home", tmp.filePath("r"), "--auto-accept", "--download", tmp.filePath("in"),
                         "--auto-reconnect", "--exit-after", "1", "--private", "never"},
                        {"--home", tmp.filePath("s"), "--connect", "127.0.0.1:" + QString::number(front), "--send",
                         tmp.filePath("big.bin"), "--auto-reconnect", "--exit-when-done", "--private", "never"}));
        // The offer lost with the connection ends at once; a /stop meanwhile does not keep
        // the files that are not done from going on after the reconnection.
        QTRY_VERIFY_WITH_TIMEOUT(r.clientLines().contains("*** File Transfer Disconnected : big.bin"), 20000);
        r.client.write("/stop\n");
        const bool ended = QTest::qWaitFor(
            [&] { // the relay lives in this event loop
                return r.client.state() == QProcess::NotRunning && r.server.state() == QProcess::NotRunning;
            },
            40000);
        QVERIFY2(ended, qPrintable(r.clientLines().join('\n') + "\n--\n" + r.serverLines().join('\n')));
        QVERIFY(cut);
        QCOMPARE(r.exitCodes(), (QList<int>{0, 0}));
        QCOMPARE(readFile(tmp.filePath("in/big.bin")), data);
        QCOMPARE(r.clientLines().filter("*** Login Authenticated").size(), 2);
    }

    // The queue commands on standard input: reorder, remove, list, stop and go. The list shows
    // each path as one escaped line and the name the peer is offered (the real one once the
    // peer reads UTF-8); a known command with a missing or bad argument is not chat.
    void queueCommands()
    {
        QTemporaryDir tmp;
        const QString weird = QString::fromUtf8("d\n\x1b[31m\u65e5\u672c.txt");
        for (const QString& f : {QString("a.txt"), QString("b.txt"), QString("c.txt"), QString("e.txt "), weird})
            QVERIFY(writeFile(tmp.filePath(f), f.toUtf8()));
        Run r;
        // The trailing blank after c.txt is not part of its name; the one after e.txt is.
        r.serverInput = "/send " + tmp.filePath("c.txt").toUtf8() + " \n/send " + tmp.filePath("e.txt ").toUtf8()
                        + "\n/top 4\n/remove 2\n/remove 9\n/stop\n/queue\n";
        QVERIFY(r.start(
            {"--home", tmp.filePath("s"), "--send", tmp.filePath("a.txt"), "--send", tmp.filePath("b.txt"), "--send",
             tmp.filePath(weird), "--exit-when-done"},
            {"--home", tmp.filePath("c"), "--auto-accept", "--download", tmp.filePath("in"), "--exit-after", "4"}));
        const QString shownPath = tmp.filePath(QString::fromUtf8("d\\n\\x1b[31m\u65e5\u672c.txt"));
        const QStringList before = {"1\tc.txt\t" + tmp.filePath("c.txt"), "2\tb.txt\t" + tmp.filePath("b.txt"),
                                    "3\td__[31m__.txt\t" + shownPath, "4\te.txt \t" + tmp.filePath("e.txt ")};
        QStringList after = before;
        after[2] = QString::fromUtf8("3\td__[31m\u65e5\u672c.txt\t") + shownPath;
        QTRY_VERIFY2_WITH_TIMEOUT(r.serverLines().filter("*** Remote User Info Change").size() == 1, r.sOut.constData(),
                                  10000);
        r.server.write("/ping\n"); // answered after the client's "caps:"
        QTRY_VERIFY_WITH_TIMEOUT(!r.serverLines().filter("*** Ping Reply").isEmpty(), 10000);
        r.server.write("/remove\n/TOP\n/remove x\n/send \n/ping\tnow\n/queue \n");
        QTRY_COMPARE_WITH_TIMEOUT(r.serverLines().filter(QRegularExpression("^\\d\t")), before + after,
                                  10000); // stopped: nothing taken
        const QStringList usages = {"*** Usage : /remove N", "*** Usage : /top N", "*** Usage : /remove N",
                                    "*** Usage : /send PATH", "*** Usage : /ping"};
        QCOMPARE(r.serverLines().filter("*** Usage : "), usages);
        QVERIFY(r.serverLines().contains("*** No Such Queue Entry : 9"));
        r.server.write("/go\n");
        QVERIFY(r.server.waitForFinished(20000) && r.client.waitForFinished(20000));
        QCOMPARE(r.exitCodes(), (QList<int>{0, 0}));
        QCOMPARE(readFile(tmp.filePath("in/c.txt")), QByteArray("c.txt"));
        QCOMPARE(readFile(tmp.filePath("in/b.txt")), QByteArray("b.txt"));
        QCOMPARE(readFile(tmp.filePath("in/e.txt ")), QByteArray("e.txt "));
        QCOMPARE(readFile(tmp.filePath(QString::fromUtf8("in/d__[31m\u65e5\u672c.txt"))), weird.toUtf8());
        QVERIFY(!QFile::exists(tmp.filePath("in/a.txt")));
        QVERIFY2(r.clientLines().filter(QRegularExpression("^<.*/")).isEmpty(),
                 r.cOut.constData()); // no command as chat
        QVERIFY(!r.sOut.contains('\x1b'));
    }

    // The receiving client's flags, whether its folder already holds the file, the line it
    // shows, and the exit codes of server and client.
    void refusals_data()
    {
        columns<QStringList, bool, QString, QList<int>>("clientFlags", "existing", "clientLine", "exitCodes");
        const QStringList aa = {"--auto-accept"};
        QTest::newRow("not accepted") << QStringList{} << false
                                      << "*** Declined : f.bin - start zantiro-cli with --auto-accept to accept files"
                                      << QList<int>{1, 1};
        QTest::newRow("exists, no decision")
            << aa << true
            << "*** File Already Exists : f.bin - refused; --exists overwrite, resume or rename decides what to do "
               "with an existing file"
            << QList<int>{1, 1};
        QTest::newRow("exists, cancel") << aa + QStringList{"--exists", "cancel"} << true
                                        << "*** File Already Exists : f.bin - refused (--exists cancel)"
                                        << QList<int>{1, 1};
        QTest::newRow("exists, rename") << aa + QStringList{"--exists", "rename"} << true
                                        << "*** File Transfer Complete : f1.bin (5000 bytes)" << QList<int>{0, 0};
        QTest::newRow("peer leaves early")
            << aa + QStringList{"--exit-after", "2"} << false
            << "*** Connection closed before everything was transferred" << QList<int>{0, 1};
    }
    void refusals()
    {
        auto [clientFlags, existing, clientLine, exitCodes] =
            fetch<QStringList, bool, QString, QList<int>>("clientFlags", "existing", "clientLine", "exitCodes");
        QTemporaryDir tmp;
        QVERIFY(writeFile(tmp.filePath("f.bin"), randomBytes(5000, 5)));
        if (existing)
            QVERIFY(writeFile(tmp.filePath("in/f.bin"), randomBytes(100, 6)));
        Run r;
        QVERIFY(r.go({"--home", tmp.filePath("s"), "--send", tmp.filePath("f.bin"), "--exit-when-done"},
                     QStringList{"--home", tmp.filePath("c"), "--download", tmp.filePath("in"), "--exit-after", "1"}
                         + clientFlags));
        QVERIFY2(r.clientLines().contains(clientLine), r.cOut.constData());
        QCOMPARE(r.exitCodes(), exitCodes);
        if (existing)
            QCOMPARE(QFileInfo(tmp.filePath("in/f.bin")).size(), 100); // left alone
    }

    // An empty file is complete only when its transfer took place: not when the sender's
    // command port cannot be reached, nor when the sender cancels on it.
    void emptyFileNotSent_data()
    {
        columns<bool, QString>("reachable", "outcome");
        QTest::newRow("port unreachable") << false << "*** File Transfer Stopped By Error : empty.txt";
        QTest::newRow("sender answers CANC_TRAN") << true << "*** File Transfer Canceled By Sender : empty.txt";
    }
    void emptyFileNotSent()
    {
        auto [reachable, outcome] = fetch<bool, QString>("reachable", "outcome");
        QTemporaryDir home;
        const QString port = QString::number(freePortTriple());
        const quint16 offered = freePortTriple();
        QTcpServer commandPort;
        if (reachable) {
            QVERIFY(commandPort.listen(QHostAddress::LocalHost, offered));
            QObject::connect(&commandPort, &QTcpServer::newConnection, [&] {
                QTcpSocket* c = commandPort.nextPendingConnection();
                QObject::connect(c, &QTcpSocket::readyRead, c, [c] {
                    if (c->readAll().contains("ACCE_TRAN"))
                        c->write("CANC_TRAN");
                });
            });
        }
        QProcess receiver;
        QByteArray out;
        QVERIFY(listening(
            receiver, out, port,
            {"--home", home.path(), "--auto-accept", "--download", home.filePath("in"), "--exit-after", "1"}));
        QTcpSocket raw;
        raw.connectToHost(QHostAddress::LocalHost, port.toUShort());
        QVERIFY(raw.waitForConnected(10000));
        raw.write(Session::frame("PAuth:") + Session::frame(QStringLiteral("file:%1|empty.txt|512|0").arg(offered)));
        QTRY_COMPARE_WITH_TIMEOUT(receiver.state(), QProcess::NotRunning, 10000);
        QCOMPARE(receiver.exitCode(), 1);
        const QStringList shown = lines(receiver, out);
        QVERIFY2(shown.contains(outcome), out.constData());
        QVERIFY(shown.filter("Complete").isEmpty());
        QVERIFY(!QFile::exists(home.filePath("in/empty.txt")));
    }

    // A peer's text cannot forge a line of standard output or reach the terminal raw, not
    // even before it has logged in (the server refuses it unless the password is right).
    void forgedLines()
    {
        QTemporaryDir home;
        const QString port = QString::number(freePortTriple());
        QProcess server;
        QByteArray out;
        QVERIFY(listening(server, out, port, {"--home", home.path(), "--require-password", "pw"}));
        QTcpSocket raw;
        raw.connectToHost(QHostAddress::LocalHost, port.toUShort());
        QVERIFY(raw.waitForConnected(10000));
        const QString forged = "*** File Transfer Complete : x (5 bytes)";
        raw.write(Session::frame("PAuth:x)\n" + forged) + Session::frame("PAuth:pw")
                  + Session::frame(QString("msg:a\x1b]0;t\a") + QChar(0) + "\r" + forged) + Session::frame("bye"));
        QTRY_VERIFY_WITH_TIMEOUT(lines(server, out).contains("*** User Disconnected"), 10000);
        server.closeWriteChannel();
        QVERIFY(server.waitForFinished(10000));
        const QStringList shown = lines(server, out);
        QVERIFY2(
            shown.contains(QStringLiteral("*** User Submitted Bad Password (%1 characters)").arg(forged.size() + 3)),
            out.constData());
        QVERIFY(shown.contains("<<No Name Specified>> a\\x1b]0;t\\x07\\x00\\r" + forged));
        QVERIFY(shown.filter(QRegularExpression("^\\*\\*\\* File Transfer")).isEmpty());
        for (char c : out)
            QVERIFY2(c == '\n' || static_cast<unsigned char>(c) >= 0x20, out.toHex().constData());
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
