// Private connections between two real peers over loopback, with what passes on the wire
// watched, altered or relayed by a man in the middle, and with plain peers.
#include "support/RawPeer.h"
#include "support/Relay.h"
#include "support/TransferPair.h"

#include "identity/Identity.h"
#include "identity/KnownPeers.h"
#include "platform/EventSocket.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

namespace {

const QHostAddress kTapAddress(QStringLiteral("127.0.0.2"));

// Drops the first control message from the server (the offer to go private); passes the rest.
bool dropFirstFrame(QByteArray& bytes, QByteArray& held, bool& dropped)
{
    if (dropped)
        return true;
    held += std::exchange(bytes, {});
    const qsizetype end = held.indexOf(Session::Terminator);
    if (end >= 0) {
        dropped = true;
        bytes = held.mid(end + Session::Terminator.size());
    }
    return true;
}

QSslConfiguration tlsOf(const Identity& identity)
{
    QSslConfiguration c = QSslConfiguration::defaultConfiguration();
    c.setLocalCertificate(identity.certificate());
    c.setPrivateKey(identity.privateKey());
    c.setProtocol(QSsl::TlsV1_3OrLater);
    c.setPeerVerifyMode(QSslSocket::VerifyPeer);
    return c;
}

// A man in the middle with an identity of its own: it ends the client's TLS and makes its
// own to the server, and reads everything between.
struct Mitm {
    Identity identity = Identity::generate();
    EventSocket listener, client, server;
    QByteArray request;
    QByteArray seenFromClient; // decrypted
    explicit Mitm(quint16 port)
    {
        for (EventSocket* s : {&listener, &client, &server})
            s->setTls(tlsOf(identity));
        listener.exactReads = true;
        listener.setListenAddress(kTapAddress);
        listener.setLocalPort(port);
        QObject::connect(&listener, &EventSocket::connectionRequest, [this, port](int id) {
            listener.handOver(id, client);
            server.setRemoteHost(QStringLiteral("127.0.0.1"));
            server.setRemotePort(port);
            server.connectToPeer();
        });
        QObject::connect(&server, &EventSocket::dataArrived, [this] { client.send(server.takeAll()); });
        QObject::connect(&client, &EventSocket::dataArrived, [this] {
            if (!client.isEncrypted() && !client.tlsPending()) {
                const QByteArray want = Session::frame(QStringLiteral("tls:start"));
                request += client.take(want.size() - request.size());
                if (request == want) {
                    client.startTls(true);
                    server.send(want);
                    server.startTls(false);
                }
                return;
            }
            const QByteArray bytes = client.takeAll();
            seenFromClient += bytes;
            server.send(bytes);
        });
    }
};

QStringList privateLines(const TestPeer& p)
{
    return p.rec->lines.filter(QRegularExpression(R"(^\*\*\* (Private connection|The other side|This peer))"));
}

void connectVia(TestPeer& client, quint16 port)
{
    client.ctx->connectionMode = ConnectionMode::Client;
    client.ctx->connectionHost = kTapAddress.toString();
    client.ctx->connectionPort = QString::number(port);
    client.peer->session().openConnection();
}

} // namespace

class TestPrivate : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Two peers go private through a tap that sees only TLS records after the switch, and know
    // each other on the next connection. (Files of every size between private peers:
    // tst_sizes and tst_run.)
    void privateSessionAndFiles()
    {
        TransferPair t;
        const quint16 port = freePortTriple();
        Relay tap(kTapAddress); // each peer sees the other at 127.0.0.2, transfers too
        QVERIFY(tap.listen(port) && tap.listen(port + 1) && tap.listen(port + 2));
        t.b.ctx->options.requirePassword = true;
        t.b.ctx->options.serverPassword = QStringLiteral("pw-very-secret");
        t.b.listen(port);
        t.a.ctx->connectionPassword = QStringLiteral("pw-very-secret");
        connectVia(t.a, port);
        QTRY_VERIFY_WITH_TIMEOUT(t.b.rec->contains("*** User Authenticated"), 10000);
        Session& sa = t.a.peer->session();
        Session& sb = t.b.peer->session();
        // Both show the same code (its form and both sides' codes: tst_mainwindow's privacyShown).
        QVERIFY(sa.isPrivate() && sb.isPrivate());
        const QString first = "*** Private connection (TLS 1.3) - connection code " + sa.connectionCode()
                              + " - new identity, compare this code with your friend";
        QCOMPARE(privateLines(t.a), QStringList{first});
        QCOMPARE(privateLines(t.b), QStringList{first});

        sa.sendChat(QStringLiteral("chat-in-the-clear?"));
        QTRY_VERIFY_WITH_TIMEOUT(t.b.rec->contains("<Ann> chat-in-the-clear?"), 10000);
        QByteArray pattern;
        for (int i = 0; i < 20000; ++i)
            pattern += "FILE-BYTES-" + QByteArray::number(i) + '\n';
        QVERIFY(writeFile(t.srcPath("f1.bin"), pattern));
        QVERIFY(t.send("f1.bin"));
        QCOMPARE(readFile(t.downPath("f1.bin")), pattern);
        // On the wire: the offer and the request in the clear, as fixed bytes (docs/protocol.md
        // gives them), then only TLS records, on the control and on the data connections.
        const QByteArray upControl = tap.up.value(port);
        QCOMPARE(tap.down.value(port).left(12).toHex(' '), QByteArray("17 18 eb 1e 26 25 21 18 24 7b bf 7d"));
        QCOMPARE(upControl.left(15).toHex(' '), // then a TLS handshake record
                 QByteArray("24 26 eb 1e 26 25 25 13 26 7b bf 7d 16 03 01"));
        QVERIFY(tap.up.value(port + 2).size() > pattern.size());
        QVERIFY(tap.up.value(port + 2).startsWith(QByteArray("\x16\x03", 2)));
        const QByteArray all = upControl + tap.down.value(port) + tap.up.value(port + 2);
        for (const QByteArray& secret : {QByteArray("pw-very-secret"), Session::frame("PAuth:pw-very-secret"),
                                         Session::frame("msg:chat-in-the-clear?"), QByteArray("FILE-BYTES-1"),
                                         QByteArray("ACCE_TRAN"), QByteArray("f1.bin")})
            QVERIFY2(!all.contains(secret), secret.constData());

        // The next time both know the other.
        sa.dropForConnect();
        QTRY_COMPARE_WITH_TIMEOUT(sb.connectionState(), Session::State::Idle, 10000);
        t.b.listen(port);
        connectVia(t.a, port);
        QTRY_VERIFY_WITH_TIMEOUT(t.b.rec->count("*** User Authenticated") == 2, 10000);
        QCOMPARE(privateLines(t.a).last(), QString("*** Private connection (TLS 1.3) - known identity"));
        QCOMPARE(privateLines(t.b).last(), QString("*** Private connection (TLS 1.3) - known identity"));
    }

    // A man in the middle with its own key: on first contact the two codes differ; where the
    // site is remembered the client goes no further than the handshake, and deleting the offer
    // does not make it log in in the clear.
    void manInTheMiddle_data()
    {
        columns<bool, bool>("remembered", "deleteOffer");
        QTest::newRow("first contact") << false << false;
        QTest::newRow("remembered site") << true << false;
        QTest::newRow("offer deleted, remembered") << true << true;
        // Offer deleted on first contact: plain, as with a plain server (plainPeers).
    }
    void manInTheMiddle()
    {
        auto [remembered, deleteOffer] = fetch<bool, bool>("remembered", "deleteOffer");
        TestPeer server("Bob"), client("Ann");
        client.peer->session().limits.privateOfferWaitMs = 300;
        client.peer->session().limits.rememberedOfferWaitMs = 600;
        const quint16 port = freePortTriple();
        if (remembered) {
            KnownPeers known(client.home.path());
            QVERIFY(known.rememberSite(kTapAddress.toString(), port, server.ctx->identity().publicKey(), "Bob"));
            QVERIFY(known.save());
        }
        server.listen(port);
        std::unique_ptr<Mitm> mitm;
        Relay tap(kTapAddress);
        QByteArray held;
        bool dropped = false;
        if (deleteOffer) {
            QVERIFY(tap.listen(port));
            tap.alter = [&](quint16, bool toServer, QByteArray& bytes) {
                return toServer || dropFirstFrame(bytes, held, dropped);
            };
        } else {
            mitm = std::make_unique<Mitm>(port);
            QVERIFY(mitm->listener.listen());
        }
        QSignalSpy refused(&client.peer->session(), &Session::identityRefused);
        connectVia(client, port);
        if (!remembered) {
            QTRY_VERIFY_WITH_TIMEOUT(server.rec->contains("*** User Authenticated"), 10000);
            QVERIFY(client.peer->session().isPrivate() && server.peer->session().isPrivate());
            QVERIFY(client.peer->session().connectionCode() != server.peer->session().connectionCode());
            QVERIFY(mitm->seenFromClient.contains(Session::frame("PAuth:")));
            return;
        }
        const QString line = deleteOffer ? "*** This peer connected privately before and does not now - not connected"
                                         : "*** The other side's identity changed since the last connection - not "
                                           "connected";
        QTRY_VERIFY_WITH_TIMEOUT(client.rec->contains(line), 10000);
        QCOMPARE(refused.count(), deleteOffer ? 0 : 1);
        QCOMPARE(client.peer->session().connectionState(), Session::State::Idle);
        // Nothing of the login went out.
        if (mitm)
            QVERIFY(mitm->seenFromClient.isEmpty());
        else
            QVERIFY(!tap.up.value(port).contains(Session::frame("PAuth:")));
        QVERIFY(!server.rec->contains("*** User Authenticated"));
        KnownPeers known(client.home.path());
        QVERIFY(known.load());
        QCOMPARE(known.siteKey(kTapAddress.toString(), port), server.ctx->identity().publicKey());
    }

    // A changed identity accepted on trust is accepted once: the next change is refused again.
    void trustOnce()
    {
        TestPeer client("Ann");
        client.peer->session().trustNewIdentity = true;
        const quint16 port = freePortTriple();
        {
            KnownPeers known(client.home.path());
            QVERIFY(known.rememberSite("127.0.0.1", port, Identity::generate().publicKey(), "Old"));
            QVERIFY(known.save());
        }
        auto server = std::make_unique<TestPeer>("Bob");
        QVERIFY(connectPeers(*server, client, port));
        QVERIFY(client.peer->session().isPrivate() && client.peer->session().identityIsNew());
        client.peer->session().dropForConnect();
        server = std::make_unique<TestPeer>("Mallory");
        server->listen(port);
        client.connectTo(port);
        QTRY_VERIFY_WITH_TIMEOUT(
            client.rec->contains("*** The other side's identity changed since the last connection - not connected"),
            5000);
        QVERIFY(!server->rec->contains("*** User Authenticated"));
    }

    // A plain peer works with the default setting; "always" refuses it before any password.
    void plainPeers_data()
    {
        columns<bool, QString>("rawServes", "mode");
        QTest::newRow("raw server, auto") << true << "auto";
        QTest::newRow("raw server, always") << true << "always";
        QTest::newRow("raw client, auto") << false << "auto";
        QTest::newRow("raw client, always") << false << "always";
        QTest::newRow("raw client, never") << false << "never";
        // This side speaks the plain protocol only, so it cannot go private either.
        QTest::newRow("raw server, always, plain only") << true << "always/plain";
        QTest::newRow("raw client, always, plain only") << false << "always/plain";
    }
    void plainPeers()
    {
        auto [rawServes, mode] = fetch<bool, QString>("rawServes", "mode");
        TestPeer me;
        const bool plainOnly = mode.endsWith("/plain");
        mode = mode.section('/', 0, 0);
        QVERIFY(ProgramSettings::parseMode(mode, me.ctx->settings.privateMode));
        me.peer->session().extensionsOn = !plainOnly;
        me.peer->session().limits.privateOfferWaitMs = 200;
        const QString refusal =
            plainOnly ? "*** This side cannot make a private connection now and private connections are set to "
                        "always - not connected"
                      : "*** The other side cannot make a private connection and private connections are set to "
                        "always - not connected";
        if (rawServes) {
            QByteArray said;
            QTcpServer server;
            QVERIFY(server.listen(QHostAddress::LocalHost));
            me.connectTo(server.serverPort(), "pw");
            QVERIFY(server.waitForNewConnection(5000));
            QTcpSocket* in = server.nextPendingConnection();
            QObject::connect(in, &QTcpSocket::readyRead, [&] { said += in->readAll(); });
            if (mode == "always") {
                QTRY_VERIFY_WITH_TIMEOUT(me.rec->contains(refusal), 5000);
                QVERIFY(said.isEmpty()); // no password in the clear
                return;
            }
            QTRY_COMPARE_WITH_TIMEOUT(messagesIn(said), QStringList{"PAuth:pw"}, 5000);
            in->write(Session::frame("PSOK"));
            QTRY_VERIFY_WITH_TIMEOUT(me.rec->contains("*** Login Authenticated"), 5000);
            QVERIFY(privateLines(me).isEmpty());
            return;
        }
        RawClient raw;
        QVERIFY(raw.open(me));
        if (plainOnly) {
            QTRY_VERIFY_WITH_TIMEOUT(me.rec->contains(refusal), 5000);
            QTRY_COMPARE_WITH_TIMEOUT(me.peer->session().connectionState(), Session::State::Listening, 5000);
            QVERIFY(messagesIn(raw.all).isEmpty());
            return;
        }
        // A line typed before the connection is decided waits for the decision.
        QTRY_COMPARE_WITH_TIMEOUT(me.peer->session().connectionState(), Session::State::Connected, 5000);
        if (mode != "never")
            QTRY_COMPARE_WITH_TIMEOUT(messagesIn(raw.all), QStringList{"tls:offer"}, 5000);
        me.peer->session().sendChat("typed early");
        QSignalSpy more(&raw.sock, &QTcpSocket::readyRead);
        more.wait(200);
        if (mode != "never")
            QVERIFY(!messagesIn(raw.all).contains("msg:typed early"));
        raw.send("PAuth:");
        if (mode == "always") {
            QTRY_VERIFY_WITH_TIMEOUT(me.rec->contains(refusal), 5000);
            QTRY_COMPARE_WITH_TIMEOUT(me.peer->session().connectionState(), Session::State::Listening, 5000);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(me.rec->contains("*** User Authenticated"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(messagesIn(raw.all).contains("PSOK"), 5000);
        // The one extra message a plain client sees comes first, and only with "auto".
        QCOMPARE(messagesIn(raw.all).first() == "tls:offer", mode == "auto");
        QTRY_VERIFY2_WITH_TIMEOUT(messagesIn(raw.all).contains("msg:typed early"),
                                  qPrintable(messagesIn(raw.all).join(" / ")), 5000);
    }

    // A server that puts more after its offer, or never finishes the handshake, is not logged
    // in to; a record that changes the name again and again is not written again and again.
    void hostileServer_data()
    {
        rowsOf<QByteArray>("afterOffer", {{"frames after the offer",
                                           Session::frame("msg:INJECTED") + Session::frame("uinfo:Eve;e;1;h")},
                                          {"silent after the request", QByteArray()}});
    }
    void hostileServer()
    {
        QFETCH(QByteArray, afterOffer);
        TestPeer me;
        me.peer->session().limits.handshakeTimeoutMs = 300;
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        me.connectTo(server.serverPort(), "pw");
        QVERIFY(server.waitForNewConnection(5000));
        QTcpSocket* in = server.nextPendingConnection();
        QByteArray said;
        QObject::connect(in, &QTcpSocket::readyRead, [&] { said += in->readAll(); });
        in->write(Session::frame("tls:offer") + afterOffer);
        const QString line = afterOffer.isEmpty()
                                 ? "*** Error : The private connection was not made in time - not connected"
                                 : "*** Error : The other side sent more after its offer to go private - not connected";
        QTRY_VERIFY2_WITH_TIMEOUT(me.rec->contains(line), qPrintable(me.rec->text()), 5000);
        QVERIFY(!me.rec->contains("<Eve> INJECTED") && me.ctx->remoteName != "Eve");
        QVERIFY(!said.contains("PAuth"));
        QCOMPARE(said.startsWith(Session::frame("tls:start")), afterOffer.isEmpty());
    }

    // A transfer connection whose other end takes the connection and stays silent ends.
    void silentTlsPeer()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        EventSocket socket;
        socket.setTls(tlsOf(Identity::generate()));
        socket.encryptOnConnect = true;
        socket.handshakeTimeoutMs = 200;
        socket.setRemoteHost("127.0.0.1");
        socket.setRemotePort(silent.serverPort());
        QSignalSpy failed(&socket, &EventSocket::error);
        socket.connectToPeer();
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.first().at(0).toInt(), 10060);
        QCOMPARE(socket.state(), int(EventSocket::Error));
    }

    void nameChurn()
    {
        TestPeer server("Bob"), client("Ann");
        QVERIFY(connectPeers(server, client, freePortTriple()));
        const QString file = KnownPeers::filePath(server.home.path());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(file).exists(), 5000);
        const QByteArray before = readFile(file);
        QVERIFY(before.contains("Ann"));
        const auto modified = [&] { return QFileInfo(file).fileTime(QFileDevice::FileModificationTime); };
        const QDateTime written = modified();
        for (int i = 0; i < 50; ++i)
            client.peer->session().sendControlMessage(QStringLiteral("uinfo:Name%1;e;1;h").arg(i));
        QTRY_COMPARE_WITH_TIMEOUT(server.ctx->remoteName, QString("Name49"), 5000);
        QCOMPARE(readFile(file), before);
        QCOMPARE(modified(), written);
    }

    // Strangers on a private transfer's port, in the clear or with a certificate of their own,
    // are closed and the transfer goes on.
    void strangersOnTransferPort()
    {
        TransferPair t;
        QVERIFY(t.connect());
        QVERIFY(t.a.peer->session().isPrivate());
        const QByteArray data = QByteArray("abc").repeated(2000000);
        QVERIFY(writeFile(t.srcPath("s.bin"), data));
        const quint16 commandPort = t.a.ctx->connectionPort.toUShort() + 1;
        const auto na = t.endedA.size(), nb = t.endedB.size();
        QVERIFY(t.a.peer->transfers().offerFile(t.srcPath("s.bin"), "s.bin"));
        // Both come while the offer is still on its way to the receiver.
        QTcpSocket plain;
        plain.connectToHost(QHostAddress::LocalHost, commandPort);
        QVERIFY(plain.waitForConnected(5000));
        plain.write("TOKEN_ID_0123ACCE_TRAN");
        EventSocket other;
        const Identity stranger = Identity::generate();
        other.setTls(tlsOf(stranger));
        other.encryptOnConnect = true;
        other.setRemoteHost("127.0.0.1");
        other.setRemotePort(commandPort);
        QSignalSpy otherError(&other, &EventSocket::error);
        QSignalSpy otherClosed(&other, &EventSocket::closed);
        QSignalSpy otherData(&other, &EventSocket::dataArrived);
        other.connectToPeer();
        QTRY_VERIFY_WITH_TIMEOUT(plain.state() == QAbstractSocket::UnconnectedState, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(otherError.count() + otherClosed.count() > 0, 5000);
        QCOMPARE(otherData.count(), 0);
        QVERIFY(t.waitEnded(na, nb));
        QVERIFY(t.endedB.last().complete);
        QCOMPARE(readFile(t.downPath("s.bin")), data);
    }

    // A TLS record altered on the way ends the transfer with an error, never "Complete".
    void alteredRecord()
    {
        TransferPair t;
        const quint16 port = freePortTriple();
        Relay tap(kTapAddress);
        QVERIFY(tap.listen(port) && tap.listen(port + 1) && tap.listen(port + 2));
        qint64 passed = 0;
        tap.alter = [&](quint16 p, bool toServer, QByteArray& bytes) {
            if (p == port + 2 && toServer && passed < 1000000 && passed + bytes.size() >= 1000000)
                bytes[qsizetype(1000000 - passed)] ^= 0x20;
            if (p == port + 2 && toServer)
                passed += bytes.size();
            return true;
        };
        t.b.listen(port);
        connectVia(t.a, port);
        QTRY_VERIFY_WITH_TIMEOUT(t.a.peer->session().isPrivate() && t.a.rec->contains("*** Login Authenticated"),
                                 10000);
        const QByteArray data = QByteArray("0123456789").repeated(400000);
        QVERIFY(writeFile(t.srcPath("t.bin"), data));
        QVERIFY(t.send("t.bin", 20000));
        QVERIFY(passed > 1000000);
        QVERIFY(!t.endedA.last().complete);
        QVERIFY(!t.endedB.last().complete);
        QVERIFY(readFile(t.downPath("t.bin")) != data);
    }
};

QTEST_GUILESS_MAIN(TestPrivate)
#include "tst_private.moc"
