#pragma once
// A man in the middle on loopback: it passes each connection made to it on to a peer's port and
// keeps what went each way.
#include <QHostAddress>
#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

// Passes each connection to `at`:port on to 127.0.0.1:`to` (from `at`, so that the peer there
// sees it come from that address) and keeps what passed each way, by the port listened on.
// `alter` may change or hold back the bytes of one direction, or return false to cut the
// connection at both ends as a failing network would. A peer not listening (yet) is tried again
// while the connection in stays.
struct Relay {
    explicit Relay(const QHostAddress& address = QHostAddress(QHostAddress::LocalHost)) : at(address) {}
    QHostAddress at;
    std::vector<std::unique_ptr<QTcpServer>> servers;
    QMap<quint16, QByteArray> up, down; // towards the listening peer, and back
    std::function<bool(quint16 port, bool toServer, QByteArray& bytes)> alter;

    // Listens on port and passes on to `to`, the same port by default.
    bool listen(quint16 port, quint16 to = 0)
    {
        auto server = std::make_unique<QTcpServer>();
        if (!server->listen(at, port))
            return false;
        QTcpServer* s = server.get();
        QObject::connect(s, &QTcpServer::newConnection, s, [this, s, port, to] {
            while (QTcpSocket* in = s->nextPendingConnection())
                link(in, port, to ? to : port);
        });
        servers.push_back(std::move(server));
        return true;
    }
    void link(QTcpSocket* in, quint16 port, quint16 to)
    {
        auto* out = new QTcpSocket(in);
        auto pass = [this, port, in, out](QTcpSocket* from, QTcpSocket* onTo, bool toServer) {
            QByteArray bytes = from->readAll();
            if (alter && !alter(port, toServer, bytes)) {
                out->abort();
                in->abort();
                return;
            }
            (toServer ? up : down)[port] += bytes;
            onTo->write(bytes);
        };
        QObject::connect(in, &QTcpSocket::readyRead, in, [=] {
            if (out->state() == QAbstractSocket::ConnectedState)
                pass(in, out, true);
        });
        QObject::connect(out, &QTcpSocket::connected, in, [=] { pass(in, out, true); });
        QObject::connect(out, &QTcpSocket::readyRead, in, [=] { pass(out, in, false); });
        QObject::connect(out, &QAbstractSocket::errorOccurred, in, [=](QAbstractSocket::SocketError e) {
            if (e == QAbstractSocket::ConnectionRefusedError && in->state() == QAbstractSocket::ConnectedState)
                QTimer::singleShot(100, out, [=] { out->connectToHost(QHostAddress::LocalHost, to); });
            else
                in->disconnectFromHost();
        });
        QObject::connect(in, &QTcpSocket::disconnected, out, &QTcpSocket::disconnectFromHost);
        QObject::connect(out, &QTcpSocket::disconnected, in, &QTcpSocket::disconnectFromHost);
        QObject::connect(in, &QTcpSocket::disconnected, in, &QObject::deleteLater);
        if (at != QHostAddress(QHostAddress::LocalHost))
            out->bind(at);
        out->connectToHost(QHostAddress::LocalHost, to);
    }
};
