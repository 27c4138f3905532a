#include "core/SocketErrorReport.h"
#include "platform/Windows1252.h"
#include "support/RawPeer.h"

#include <QElapsedTimer>
#include <QSignalSpy>

namespace {

constexpr int kWait = 5000;
const char* const kRefused = "*** Error : 10061 - Cannot Connect To Server - (Has Server Started?)";

// Two peers logged in to each other.
struct Pair {
    TestPeer server{"Ann"};
    TestPeer client{"Bob"};
    quint16 port = freePortTriple();

    bool connect() { return connectPeers(server, client, port); }
};

// How often a spy on connectionStateChanged saw the connection closed.
int closes(const QSignalSpy& spy)
{
    int n = 0;
    for (const QList<QVariant>& args : spy)
        n += args.first().value<Session::State>() == Session::State::Idle;
    return n;
}

} // namespace

class TestSession : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // "shown" is the server's line; a password given as "" means none is asked for.
    void login_data()
    {
        const QString in = "*** User Authenticated", bad = "*** User Submitted Bad Password (";
        const QString polish = QString::fromUtf8("zażółć"); // both hold it; the wire cannot carry it all
        stringRows({"stored", "given", "shown"}, {{"no password required", "s3cret", "", in},
                                                  {"right password", "s3cret", "s3cret", in},
                                                  // The refused password is shown by its length only.
                                                  {"wrong password", "s3cret", "guess", bad + "5 characters)"},
                                                  {"case differs", "s3cret", "S3CRET", bad + "6 characters)"},
                                                  {"one character", "s3cret", "s", bad + "1 character)"},
                                                  {"outside Windows-1252", polish, polish, in}});
    }
    void login()
    {
        auto [stored, given, shown] = fetch<QString, QString, QString>("stored", "given", "shown");
        const bool accepted = shown == "*** User Authenticated";
        Pair p;
        p.server.ctx->options.requirePassword = !given.isEmpty();
        p.server.ctx->options.serverPassword = stored;
        p.server.listen(p.port);
        p.client.connectTo(p.port, given);
        QTRY_VERIFY_WITH_TIMEOUT(
            p.client.rec->contains(accepted ? "*** Login Authenticated" : "*** Login Failed (Bad Password)"), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(p.server.rec->contains(shown), kWait);
        if (accepted) {
            QTRY_VERIFY_WITH_TIMEOUT(p.client.rec->contains("*** Remote User Info Change (Ann)"), kWait);
            QCOMPARE(p.client.ctx->loginAnswer, LoginAnswer::Accepted);
            return;
        }
        QVERIFY(!p.server.rec->text().contains("(" + given));
        // The refused client says "bye"; the server closes and the client sees it.
        QTRY_VERIFY_WITH_TIMEOUT(p.server.rec->contains("*** User Disconnected"), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(p.client.rec->contains("*** Disconnected"), kWait);
        QCOMPARE(p.client.ctx->loginAnswer, LoginAnswer::Refused);
    }

    // Two logged-in peers ping, turn away a third, and part by the command. (Chat both ways:
    // the extensions' test and the main window's.)
    void connectedPair()
    {
        Pair p;
        QVERIFY(p.connect());
        p.client.peer->session().sendPing();
        QVERIFY(p.client.rec->contains("*** Pinging Other User"));
        QTRY_VERIFY_WITH_TIMEOUT(p.server.rec->contains("*** Received Ping"), kWait);
        // The reply line's form: tst_cli's chat test.
        QTRY_VERIFY_WITH_TIMEOUT(p.client.rec->indexStarting("*** Ping Reply  : ") >= 0, kWait);

        TestPeer third;
        third.connectTo(p.port);
        QTRY_VERIFY_WITH_TIMEOUT(third.rec->contains(kRefused), kWait);
        QVERIFY(p.server.peer->session().isConnected());
        // Not connected: a ping is a status line and nothing sent.
        third.rec->lines.clear();
        third.peer->session().sendPing();
        QCOMPARE(third.rec->lines, QStringList{"*** Not Connected"});

        // Disconnect: "bye" goes out, the close comes back, nothing reconnects.
        p.client.ctx->options.autoReconnect = true;
        p.client.peer->session().disconnectFromPeer();
        QCOMPARE(p.client.ctx->transferEndCode(), TransferEndCode::Disconnected);
        QVERIFY(!p.client.rec->contains("*** Disconnected"));
        QTRY_VERIFY_WITH_TIMEOUT(p.client.rec->contains("*** Disconnected"), kWait);
        QSignalSpy later(p.client.ctx, &PeerState::lineAdded);
        QVERIFY(!later.wait(300)); // well past the shortened reconnection delay
        QVERIFY(!p.client.rec->contains("*** Attempting To Reconnect In 5 Seconds."));
        QCOMPARE(p.client.peer->session().connectionState(), Session::State::Idle);
    }

    void byeAndReconnect_data()
    {
        rowsOf<bool>("clientSaysBye",
                     {{"client leaves, server listens again", true}, {"server leaves, client connects again", false}});
    }
    void byeAndReconnect()
    {
        QFETCH(bool, clientSaysBye);
        Pair p;
        p.server.ctx->options.autoReconnect = true;
        p.client.ctx->options.autoReconnect = true;
        QVERIFY(p.connect());
        TestPeer& leaver = clientSaysBye ? p.client : p.server;
        TestPeer& stayer = clientSaysBye ? p.server : p.client;
        leaver.peer->session().sendControlMessage("bye");
        QTRY_VERIFY_WITH_TIMEOUT(stayer.rec->contains("*** User Disconnected"), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(stayer.rec->contains("*** Attempting To Reconnect In 5 Seconds."), kWait);
        // The leaver saw a close and reconnects too; both meet again and log in.
        QTRY_VERIFY_WITH_TIMEOUT(p.client.rec->count("*** Login Authenticated") == 2, 3 * kWait);
        QTRY_VERIFY_WITH_TIMEOUT(p.server.peer->session().isConnected(), kWait);
    }

    // Ports the rule refuses ("abc", "0", "65534"): tst_arguments, through the same parser.
    void connectItErrors_data()
    {
        QList<QStringList> rows{{"no mode", "Peer", "2000", "*** Error : Unknown Connection Type \"\""}};
        for (const char* port : {"", "+80"})
            rows << QStringList{QStringLiteral("port \"%1\"").arg(port), "Client", port,
                                QStringLiteral("*** Error : Invalid Port \"%1\"").arg(port)};
        stringRows({"mode", "port", "expected"}, rows);
    }
    void connectItErrors()
    {
        auto [mode, port, expected] = fetch<QString, QString, QString>("mode", "port", "expected");
        TestPeer peer;
        const quint16 listenPort = freePortTriple();
        peer.listen(listenPort);
        peer.ctx->connectionMode = connectionModeNamed(mode);
        peer.ctx->connectionPort = port;
        peer.peer->session().openConnection();
        QCOMPARE(peer.rec->lines.size(), 2);
        QVERIFY2(peer.rec->lines.last().startsWith(expected), qPrintable(peer.rec->lines.last()));
        QCOMPARE(peer.rec->kinds.last(), int(LineKind::Error));
        // The socket was not touched: still listening. Disconnect closes it at once.
        QCOMPARE(peer.peer->session().controlSocket.state(), int(EventSocket::Listening));
        QSignalSpy changes(&peer.peer->session(), &Session::connectionStateChanged);
        peer.peer->session().disconnectFromPeer();
        QCOMPARE(peer.peer->session().connectionState(), Session::State::Idle);
        QCOMPARE(closes(changes), 1);
        TestPeer late;
        late.connectTo(listenPort);
        QTRY_VERIFY_WITH_TIMEOUT(late.rec->contains(kRefused), kWait);
    }

    void listenFailsAtOnce()
    {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost));
        TestPeer peer;
        peer.ctx->debugMode = true;
        peer.listen(taken.serverPort());
        QCOMPARE(peer.rec->lines.size(), 3);
        QVERIFY2(peer.rec->lines[1].startsWith("*** Error : 10048 - "), qPrintable(peer.rec->lines[1]));
        QCOMPARE(peer.rec->lines[2], QString("*QVDEBUG* : FN: base.connectit()"));
        QCOMPARE(peer.peer->session().controlSocket.state(), int(EventSocket::Closed));
    }

    // The tagged form of an error line, and 11001 with the program's own text instead of the
    // system's; the other untagged ones and the debug line follow in listenFailsAtOnce, a
    // reset's silence in serverListensAgainAfterVisitor.
    void reportSockError()
    {
        TestPeer peer;
        reportSocketError(*peer.ctx, 10060, "gone", " (CMD)", "file.bin", "FN: x");
        reportSocketError(*peer.ctx, 11001, "x", {}, {}, {});
        QCOMPARE(peer.rec->lines,
                 (QStringList{"*** Error : 10060 (CMD) - gone : file.bin", "*** Error : 11001 - Host Not Found"}));
    }

    // A raw socket plays the client, byte by byte, against a server that wants a password.
    void framing()
    {
        TestPeer server;
        server.ctx->options.requirePassword = true;
        server.ctx->options.serverPassword = "pw";
        RawClient raw;
        QVERIFY(raw.open(server));
        QSignalSpy offers(&server.peer->session(), &Session::fileOffered);
        QSignalSpy transferMessages(&server.peer->session(), &Session::transferMessage);
        QSignalSpy logins(&server.peer->session(), &Session::loggedIn);

        // Before the password, only a ping is answered.
        raw.sendRaw(Session::frame("msg:sneaky") + Session::frame("uinfo:Eve;e;1;h")
                    + Session::frame("file:2001|x.txt|1|1") + Session::frame("HaveFile") + Session::frame("ping"));
        QTRY_VERIFY_WITH_TIMEOUT(server.rec->contains("*** Received Ping"), kWait);
        QVERIFY(!server.rec->contains("<<No Name Specified>> sneaky"));
        QCOMPARE(server.ctx->remoteName, QString("<No Name Specified>"));
        QCOMPARE(offers.count(), 0);
        QCOMPARE(transferMessages.count(), 0);
        raw.send("PAuth:nope");
        QTRY_VERIFY_WITH_TIMEOUT(raw.received().contains("PSBAD"), kWait);
        raw.send("msg:still not");
        raw.send("PAuth:pw");
        raw.send("PAuth:pw"); // a login again is answered again but brings nobody together anew
        QTRY_COMPARE_WITH_TIMEOUT(raw.received().count("PSOK"), 2, kWait);
        QCOMPARE(logins.count(), 1);

        QVERIFY(!server.rec->contains("<<No Name Specified>> still not"));

        // Several in one segment, with an empty message, an unknown one and malformed ones.
        raw.sendRaw(Session::frame("msg:first") + Session::Terminator + Session::frame("hello there")
                    + Session::frame("uinfo:only;two") + Session::frame("file:2001|name.txt|8192")
                    + Session::frame("uinfo:Zed;z@x;33;http://a;b") + Session::frame("msg:second"));
        QTRY_VERIFY_WITH_TIMEOUT(server.rec->contains("<Zed> second"), kWait);
        const int first = server.rec->lines.indexOf("<<No Name Specified>> first");
        QVERIFY(first > 0);
        QCOMPARE(server.rec->lines.mid(first),
                 (QStringList{"<<No Name Specified>> first", "*** Remote User Info Change (Zed)", "<Zed> second"}));
        QCOMPARE(server.ctx->remoteHomepage, QString("http://a;b"));
        QCOMPARE(server.ctx->remoteAge, QString("33"));

        // (A well-formed offer and the transfer messages after the login: tst_strict_peer,
        // tst_files, tst_extensions.)
        // "ping" is answered with "gotping" on the wire.
        raw.send("ping");
        QTRY_COMPARE_WITH_TIMEOUT(raw.received().count("gotping"), 2, kWait); // the first one before the login
    }

    // The client's login against a raw server that never closes by itself. Chat typed meanwhile
    // is held (within the bound) and goes out after "PSOK". After a refusal or no answer it is
    // dropped with one line, a late "PSOK" changes nothing, and the client says "bye" and
    // closes by itself; nothing else goes out, and it reconnects as after any loss.
    void loginAgainstRawServer_data()
    {
        QTest::addColumn<QByteArray>("answer"); // empty: none
        QTest::newRow("accepted") << Session::frame("PSOK");
        QTest::newRow("refused, late PSOK")
            << Session::frame("PSBAD") + Session::frame("PSOK") + Session::frame("msg:after");
        QTest::newRow("timed out") << QByteArray();
    }
    void loginAgainstRawServer()
    {
        QFETCH(QByteArray, answer);
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost));
        TestPeer client("Bob");
        client.ctx->options.autoReconnect = true;
        Session& s = client.peer->session();
        s.limits.loginTimeoutMs = answer.isEmpty() ? 300 : kWait;
        s.limits.byeCloseMs = 1000;
        s.limits.maxHeldChatLines = 2;
        QSignalSpy changes(&s, &Session::connectionStateChanged);
        client.connectTo(listener.serverPort(), "pw");
        QTRY_VERIFY_WITH_TIMEOUT(listener.hasPendingConnections(), kWait);
        QTcpSocket* conn = listener.nextPendingConnection();
        QByteArray wire;
        QTRY_VERIFY_WITH_TIMEOUT((wire += conn->readAll()) == Session::frame("PAuth:pw"), kWait);
        for (const char* line : {"one", "two", "three"})
            s.sendControlMessage(QString("msg:") + line);
        QCOMPARE(client.rec->lines.last(), QString("*** Not Sent (Waiting For Login) : 1 chat line(s)"));
        conn->write(answer);
        conn->flush();
        if (answer.startsWith(Session::frame("PSOK"))) {
            const Options& o = client.ctx->options;
            QTRY_COMPARE_WITH_TIMEOUT(
                messagesIn(wire += conn->readAll()),
                (QStringList{"PAuth:pw", "uinfo:Bob;" + o.myEmail + ';' + o.myAge + ';' + o.myHomePage,
                             "caps:utf8,verify,token,run", "msg:one", "msg:two"}),
                kWait);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(client.rec->contains("*** Not Sent (Login Failed) : 2 chat line(s)"), kWait);
        QVERIFY(client.rec->contains(answer.isEmpty() ? "*** Login Failed (Timed Out)"
                                                      : "*** Login Failed (Bad Password)"));
        if (answer.isEmpty())
            conn->write(Session::frame("PSOK") + Session::frame("msg:after"));
        QTRY_VERIFY_WITH_TIMEOUT(client.rec->contains("<<No Name Specified>> after"), kWait);
        QVERIFY(!client.rec->contains("*** Login Authenticated") && !s.isConnected());
        s.sendControlMessage("msg:typed after the failure");
        QTRY_VERIFY_WITH_TIMEOUT((wire += conn->readAll(), conn->state() == QAbstractSocket::UnconnectedState), kWait);
        QCOMPARE(wire + conn->readAll(), Session::frame("PAuth:pw") + Session::frame("bye"));
        QCOMPARE(s.controlSocket.state(), int(EventSocket::Closed));
        QVERIFY(closes(changes) > 0);
        QTRY_VERIFY_WITH_TIMEOUT(client.rec->contains("*** Attempting To Reconnect In 5 Seconds."), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(listener.hasPendingConnections(), kWait);
    }

    // A server whose client never logged in waits for the next one on its own; after a real
    // session it follows the reconnection rule (off here). A reset shows nothing, yet the state
    // and commands follow it; input beyond the bound is cut off with one error line.
    void serverListensAgainAfterVisitor_data()
    {
        columns<QString, bool>("visit", "listensAgain");
        QTest::newRow("refused, then bye") << "refused" << true; // "bye" before any login
        QTest::newRow("quits before login") << "quit" << true;
        QTest::newRow("reset before login") << "reset" << true;
        QTest::newRow("silent past the login bound") << "silent" << true;
        QTest::newRow("oversized before login") << "oversized" << true;
        QTest::newRow("logged in, then quits") << "session" << false;
        QTest::newRow("logged in, then reset") << "session reset" << false;
    }
    void serverListensAgainAfterVisitor()
    {
        auto [visit, listensAgain] = fetch<QString, bool>("visit", "listensAgain");
        TestPeer server;
        server.ctx->options.requirePassword = true;
        server.ctx->options.serverPassword = "pw";
        server.ctx->debugMode = visit == "session reset";
        Session& s = server.peer->session();
        s.limits.loginTimeoutMs = visit == "silent" ? 300 : kWait;
        s.limits.maxMessageBytes = 64 * 1024;
        const quint16 port = freePortTriple();
        server.listen(port);
        RawClient raw;
        QVERIFY(raw.open(port));
        QTRY_VERIFY_WITH_TIMEOUT(server.rec->contains("*** User Connected."), kWait);
        QSignalSpy changes(&s, &Session::connectionStateChanged);
        if (visit == "refused" || visit.startsWith("session")) {
            raw.send(visit == "refused" ? "PAuth:nope" : "PAuth:pw");
            QTRY_VERIFY_WITH_TIMEOUT(raw.received().contains(visit == "refused" ? "PSBAD" : "PSOK"), kWait);
        }
        const qsizetype before = server.rec->lines.size();
        if (visit == "refused")
            raw.send("bye");
        else if (visit == "quit" || visit == "session")
            raw.sock.disconnectFromHost();
        else if (visit.endsWith("reset"))
            raw.reset();
        else if (visit == "oversized")
            raw.sendRaw(QByteArray(100 * 1024, 'a'));
        if (visit == "silent" || visit == "oversized") // the server closes; "bye" first when silent
            QTRY_VERIFY_WITH_TIMEOUT(raw.sock.state() == QAbstractSocket::UnconnectedState
                                         && raw.received().contains("bye") == (visit == "silent"),
                                     kWait);
        QTRY_VERIFY_WITH_TIMEOUT(closes(changes) > 0, kWait);
        QCOMPARE(s.controlSocket.state(), int(listensAgain ? EventSocket::Listening : EventSocket::Closed));
        QCOMPARE(server.rec->indexStarting("*** Error : The other side sent more than 65536") >= 0,
                 visit == "oversized");
        if (visit == "session reset") {
            QCOMPARE(server.rec->lines.mid(before), QStringList{});
            QCOMPARE(closes(changes), 1);
        }
        if (listensAgain) {
            RawClient next;
            QVERIFY(next.open(port));
            QTRY_COMPARE_WITH_TIMEOUT(server.rec->count("*** User Connected."), 2, kWait);
        }
    }

    // Another program holds the port while the server reconnects: it keeps trying and
    // reports the failure once per spell.
    void serverKeepsTryingForItsPort()
    {
        Pair p;
        p.server.ctx->options.autoReconnect = true;
        QVERIFY(p.connect());
        const QString again = "*** Attempting To Reconnect In 5 Seconds.";
        for (int spell = 1; spell <= 2; ++spell) {
            QTcpServer blocker;
            QVERIFY(blocker.listen(QHostAddress::LocalHost, p.port));
            const int tries = p.server.rec->count(again);
            p.client.peer->session().sendControlMessage("bye");
            QTRY_VERIFY_WITH_TIMEOUT(p.server.rec->count(again) >= tries + 4, kWait);
            QCOMPARE(p.server.rec->lines.filter(QRegularExpression(R"(^\*\*\* Error : 10048 - )")).size(), spell);
            blocker.close();
            QTRY_COMPARE_WITH_TIMEOUT(p.server.peer->session().controlSocket.state(), int(EventSocket::Listening),
                                      kWait);
            if (spell == 1) { // a new session, to lose again
                p.client.connectTo(p.port);
                QTRY_COMPARE_WITH_TIMEOUT(p.client.rec->count("*** Login Authenticated"), 2, kWait);
            }
        }
    }

    // Answers to wrong passwords wait longer and longer, on one connection and across
    // connections from one address; the right password waits no longer than the current wait,
    // and an answer still waiting when its connection closes goes nowhere.
    void passwordGuessingSlowed()
    {
        TestPeer server;
        server.ctx->options.requirePassword = true;
        server.ctx->options.serverPassword = "pw";
        PasswordThrottle& t = server.peer->session().passwordThrottle;
        t.firstDelayMs = 300;
        t.maxDelayMs = 4800;
        const quint16 port = freePortTriple();
        server.listen(port);
        auto raw = std::make_unique<RawClient>();
        QVERIFY(raw->open(port));
        // Sends a login and returns how long its answer took; the answer must be `expected`.
        auto answerMs = [&](const QString& password, const QString& expected) {
            const qsizetype before = raw->received().size();
            QElapsedTimer clock;
            clock.start();
            raw->send("PAuth:" + password);
            if (!QTest::qWaitFor([&] { return raw->received().size() > before; }, kWait))
                return qint64(-1);
            const qint64 took = clock.elapsed();
            return raw->received().at(before) == expected ? took : qint64(-2);
        };
        for (int i = 0; i < 3; ++i)
            QVERIFY(answerMs("guess", "PSBAD") >= 0);
        QVERIFY(answerMs("guess", "PSBAD") >= 300);
        QVERIFY(answerMs("guess", "PSBAD") >= 600);
        raw->send("PAuth:guess"); // waits 1200 ms; its connection goes first, unanswered
        raw.reset();
        QTRY_COMPARE_WITH_TIMEOUT(server.peer->session().controlSocket.state(), int(EventSocket::Listening), kWait);
        raw = std::make_unique<RawClient>();
        QVERIFY(raw->open(port));
        const qint64 right = answerMs("pw", "PSOK");
        QVERIFY2(right >= 1200 && right < 2400, qPrintable(QString::number(right)));
        QCOMPARE(raw->received().first(), QString("PSOK"));
        QTRY_VERIFY_WITH_TIMEOUT(server.rec->contains("*** User Authenticated"), kWait);
        QCOMPARE(server.rec->count("*** User Submitted Bad Password (5 characters)"), 5);
        QCOMPARE(t.delayMs("127.0.0.1", 0), 0); // logging in clears the address

        // The memory of addresses is bounded and forgets.
        PasswordThrottle small;
        small.maxAddresses = 2;
        for (const QString address : {"a", "b", "c"})
            for (int i = 0; i < 4; ++i)
                small.failed(address);
        QCOMPARE(small.remembered(), 2);
        QCOMPARE(small.delayMs("a", 0), 0);
        QCOMPARE(small.delayMs("c", 2), 2000);
        small.forgetMs = 0;
        QCOMPARE(small.delayMs("c", 2), 0);
    }

    // One message is one line: whatever the peer puts into a name, a status text or an offered
    // file name, no shown line carries a control character and no line the peer wrote can pass
    // for one of this program's "*** " lines (invisible characters before the stars do not hide
    // the prefix, and show). A password and chat lines: tst_cli's forgedLines; each character's
    // form: tst_linetext.
    void peerTextStaysOneLine_data()
    {
        const QString forged = "*** File Transfer Complete : x (5 bytes)";
        stringRows({"message", "shown"},
                   {{"name", "uinfo:Eve\r" + forged + ";e;1;h", "*** Remote User Info Change (Eve\\r" + forged + ")"},
                    {"status like ours", "stat:" + forged, "stat:" + forged},
                    {"status, second line", "stat:away\n" + forged, "away\\n" + forged},
                    {"status, zero width space first (UTF-8)", "stat:\u200b" + forged, "stat:\\u200b" + forged},
                    {"offered file name", "file:2001|a\r\n" + forged + "|8192|5",
                     "*** Error : Refused File \"a\\r\\n" + forged + "\" - unsafe name (control character)"}});
    }
    void peerTextStaysOneLine()
    {
        auto [message, shown] = fetch<QString, QString>("message", "shown");
        TestPeer server;
        RawClient raw;
        QVERIFY(raw.open(server));
        // What Windows-1252 cannot carry goes after "enc:utf8", sent as an extension peer
        // sends it: after the login, once the server announced its own extensions.
        const bool utf8 = !Windows1252::representable(message);
        if (utf8) {
            raw.send("PAuth:");
            QTRY_VERIFY_WITH_TIMEOUT(raw.received().contains("caps:utf8,verify,token,run"), kWait);
            raw.send("caps:utf8,verify,token,run");
            raw.send("enc:utf8");
        }
        raw.sendRaw(Session::frame(message, utf8));
        QTRY_VERIFY2_WITH_TIMEOUT(server.rec->contains(shown), qPrintable(server.rec->lines.join('|')), kWait);
        for (const QString& line : std::as_const(server.rec->lines)) {
            QVERIFY2(!line.startsWith("*** File Transfer Complete"), qPrintable(line));
            for (QChar c : line)
                QVERIFY2(c >= ' ' && (c < QChar(0x7F) || c > QChar(0x9F)) && c.category() != QChar::Other_Format,
                         qPrintable(line));
        }
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
