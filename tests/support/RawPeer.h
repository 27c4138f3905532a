#pragma once
// A peer played by raw sockets, for tests that must control every byte: a control server that
// logs our peer in, and connections that record what arrives chunk by chunk, as a peer that
// takes each received chunk as one command reads it.
#include "support/Harness.h"

#include "config/Scramble.h"
#include "platform/Windows1252.h"
#include "session/Session.h"
#include "transfer/TransferManager.h"

#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <sys/socket.h>

// The unscrambled messages in a stream of frames, as a plain peer reads them.
inline QStringList messagesIn(const QByteArray& wire)
{
    QStringList out;
    for (qsizetype at = 0, end; (end = wire.indexOf(Session::Terminator, at)) >= 0; at = end + 3)
        out << Windows1252::decode(unscramble(wire.mid(at, end - at)));
    return out;
}

inline const QByteArrayList kCommands{"ACCE_TRAN", "RESUME_TR", "Got All", "END_TRANS", "CANC_TRAN", "CANC_OKAY"};

// One raw connection that records what arrives chunk by chunk, as such a peer reads it.
struct Chunked {
    QTcpSocket* s = nullptr;
    QByteArrayList chunks;
    QByteArray all;
    void attach(QTcpSocket* socket)
    {
        s = socket;
        auto read = [this] {
            const QByteArray c = s->readAll();
            if (!c.isEmpty())
                chunks << c, all += c;
        };
        QObject::connect(s, &QTcpSocket::readyRead, read);
        read(); // what came before
    }
    void connectTo(quint16 port)
    {
        attach(new QTcpSocket);
        s->connectToHost(QHostAddress::LocalHost, port);
    }
    bool up() const { return s && s->state() == QAbstractSocket::ConnectedState; }
    bool down() const { return !s || s->state() == QAbstractSocket::UnconnectedState; }
    // Every chunk held exactly one command.
    bool oneCommandEach() const
    {
        for (const QByteArray& c : chunks)
            if (!kCommands.contains(c.startsWith("RESUME_TR") ? QByteArray("RESUME_TR") : c))
                return false;
        return true;
    }
    void reset()
    {
        const linger hard{1, 0};
        ::setsockopt(static_cast<int>(s->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        s->abort();
    }
};

// A raw socket playing a client against a server peer; it keeps what arrives.
struct RawClient : Chunked {
    QTcpSocket sock;
    RawClient() { attach(&sock); }
    bool open(quint16 port)
    {
        sock.connectToHost(QHostAddress::LocalHost, port);
        return sock.waitForConnected(5000);
    }
    // Lets server listen on a fresh port and connects to it.
    bool open(TestPeer& server)
    {
        const quint16 port = freePortTriple();
        server.listen(port);
        return open(port);
    }
    void sendRaw(const QByteArray& bytes)
    {
        sock.write(bytes);
        sock.flush();
    }
    void send(const QString& text) { sendRaw(Session::frame(text)); }
    // Unscrambled, without the offer to go private that a plain peer ignores.
    QStringList received() const
    {
        QStringList got = messagesIn(all);
        got.removeAll(QStringLiteral("tls:offer"));
        return got;
    }
};

// Our peer (`me`, accepting files) logged in to a raw control server; the raw side plays the
// other peer.
struct StrictPeer {
    TestPeer me{QStringLiteral("Me")};
    QTcpServer control;
    QTcpSocket* ctl = nullptr;
    QByteArray said;  // every control byte our peer sent
    quint16 port = 0; // the control port; offers use port + 1, data port + 2
    QString down;

    StrictPeer()
    {
        me.ctx->options.autoAccept = true;
        me.peer->transfers().staleGraceMs = 300;
        down = me.ctx->options.downloadFolder;
        QDir().mkpath(down);
    }
    bool start()
    {
        port = freePortTriple();
        if (!control.listen(QHostAddress::LocalHost, port))
            return false;
        QObject::connect(&control, &QTcpServer::newConnection, [this] {
            ctl = control.nextPendingConnection();
            QObject::connect(ctl, &QTcpSocket::readyRead, [this] { said += ctl->readAll(); });
            ctl->write(Session::frame(QStringLiteral("PSOK")));
        });
        me.connectTo(port);
        return QTest::qWaitFor([this] { return me.rec->contains("*** Login Authenticated"); }, 5000);
    }
    void say(const QString& text) { ctl->write(Session::frame(text)); }
    bool heard(const QString& text) const { return said.contains(Session::frame(text)); }
    QString sendPath(const QString& name, const QByteArray& data)
    {
        const QString path = me.home.filePath(name);
        return writeFile(path, data) ? path : QString();
    }
    QString log() const { return me.rec->text(); }
};
