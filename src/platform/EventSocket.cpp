#include "platform/EventSocket.h"

#include <utility>

#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

// Accepts connections as TLS-capable sockets when the owner can encrypt; with exactReads they
// are opened unbuffered.
class EventSocket::Listener : public QTcpServer {
public:
    explicit Listener(EventSocket& o) : QTcpServer(&o), owner(o) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (!owner.tlsConfigured()) {
            QTcpServer::incomingConnection(descriptor);
            return;
        }
        auto* s = new QSslSocket(this);
        const QIODevice::OpenMode mode =
            owner.exactReads ? QIODevice::ReadWrite | QIODevice::Unbuffered : QIODevice::ReadWrite;
        if (!s->setSocketDescriptor(descriptor, QAbstractSocket::ConnectedState, mode)) {
            delete s;
            return;
        }
        addPendingConnection(s);
    }

private:
    EventSocket& owner;
};

EventSocket::EventSocket(QObject* parent) : QObject(parent)
{}

EventSocket::~EventSocket()
{
    close();
}

int EventSocket::state() const
{
    if (inError)
        return Error;
    if (server && server->isListening())
        return Listening;
    if (!stream)
        return Closed;
    if (peerClosed)
        return PeerClosing;
    switch (stream->state()) {
    case QAbstractSocket::HostLookupState:
        return ResolvingHost;
    case QAbstractSocket::ConnectingState:
        return Connecting;
    case QAbstractSocket::ConnectedState:
        return Connected;
    case QAbstractSocket::ClosingState:
        return PeerClosing;
    case QAbstractSocket::BoundState:
        return Open;
    default:
        return Closed;
    }
}

quint16 EventSocket::remotePort() const
{
    return stream && stream->state() == QAbstractSocket::ConnectedState ? stream->peerPort() : remotePortNumber;
}

quint16 EventSocket::localPort() const
{
    if (server && server->isListening())
        return server->serverPort();
    if (stream && stream->state() == QAbstractSocket::ConnectedState)
        return stream->localPort();
    return localPortNumber;
}

namespace {

// IPv4 addresses mapped into IPv6 are shown in their IPv4 form.
QString addressText(const QHostAddress& a)
{
    bool isV4 = false;
    const quint32 v4 = a.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : a.toString();
}

} // namespace

QString EventSocket::remoteHostIP() const
{
    return stream ? addressText(stream->peerAddress()) : QString();
}

QString EventSocket::localHostIP() const
{
    return stream && stream->state() == QAbstractSocket::ConnectedState ? addressText(stream->localAddress())
                                                                        : QString();
}

void EventSocket::connectToPeer()
{
    close();
    QTcpSocket* s = newStream();
    adopt(s);
    s->connectToHost(remoteHostName, remotePortNumber);
}

QTcpSocket* EventSocket::newStream()
{
    if (!tlsConfigured())
        return new QTcpSocket(this);
    return new QSslSocket(this);
}

QSslSocket* EventSocket::secureStream() const
{
    return qobject_cast<QSslSocket*>(stream);
}

void EventSocket::setTls(const QSslConfiguration& configuration, const QByteArray& expectedPeerKey)
{
    tlsConfiguration = configuration;
    expectedKey = expectedPeerKey;
}

bool EventSocket::startTls(bool asServer)
{
    QSslSocket* s = secureStream();
    if (!s || s->state() != QAbstractSocket::ConnectedState || s->mode() != QSslSocket::UnencryptedMode)
        return false;
    if (asServer)
        s->startServerEncryption();
    else
        s->startClientEncryption();
    watchHandshake(s);
    return true;
}

void EventSocket::watchHandshake(QTcpSocket* s)
{
    // A peer that takes the connection and then says nothing must not hold it for good. The
    // watch belongs to the stream, so it goes with it (and with the handshake's end) instead
    // of waiting out its time; a stream moved to another object no longer matches `stream`.
    auto* watch = new QTimer(s);
    watch->setSingleShot(true);
    connect(watch, &QTimer::timeout, this, [this, s] {
        if (s == stream && tlsPending())
            failStream(10060, QStringLiteral("The other side did not finish the TLS handshake in time"));
    });
    if (auto* secure = qobject_cast<QSslSocket*>(s))
        connect(secure, &QSslSocket::encrypted, watch, &QObject::deleteLater);
    watch->start(handshakeTimeoutMs);
}

void EventSocket::failStream(int number, const QString& text)
{
    closeResetProbe(false);
    QTcpSocket* s = std::exchange(stream, nullptr);
    s->disconnect(this);
    s->abort();
    s->deleteLater();
    setError(number, text);
    Q_EMIT error(errorNumber, errorText);
}

bool EventSocket::tlsPending() const
{
    const QSslSocket* s = secureStream();
    return s && s->mode() != QSslSocket::UnencryptedMode && !s->isEncrypted();
}

bool EventSocket::isEncrypted() const
{
    const QSslSocket* s = secureStream();
    return s && s->isEncrypted();
}

QByteArray EventSocket::peerPublicKey() const
{
    const QSslSocket* s = secureStream();
    if (!s || !s->isEncrypted())
        return {};
    const QSslCertificate peer = s->peerCertificate();
    return peer.isNull() ? QByteArray() : peer.publicKey().toDer();
}

QString EventSocket::tlsProtocolName() const
{
    const QSslSocket* s = secureStream();
    if (!s || !s->isEncrypted())
        return {};
    return s->sessionProtocol() == QSsl::TlsV1_3 ? QStringLiteral("TLS 1.3") : QStringLiteral("TLS");
}

void EventSocket::onEncrypted()
{
    QSslSocket* s = secureStream();
    if (!s)
        return;
    // Trust comes from the pinned key, not from authorities: the certificate is self-signed,
    // so only its public key counts, and only when it is the one expected.
    const QByteArray key = peerPublicKey();
    if (key.isEmpty() || (!expectedKey.isEmpty() && key != expectedKey)) {
        failStream(10013, key.isEmpty() ? QStringLiteral("The other side presented no certificate")
                                        : QStringLiteral("The other side's key is not the one of this connection"));
        return;
    }
    Q_EMIT encrypted();
    if (encryptOnConnect && s->mode() == QSslSocket::SslClientMode)
        Q_EMIT connected();
}

bool EventSocket::listen()
{
    close();
    server = new Listener(*this);
    connect(server, &QTcpServer::newConnection, this, &EventSocket::onNewConnection);
    if (server->listen(listenAddress, localPortNumber))
        return true;
    const int number = errorNumberFor(server->serverError());
    const QString text = server->errorString();
    delete server;
    server = nullptr;
    setError(number, text);
    inError = false; // a listen that fails at once leaves the socket closed
    return false;
}

void EventSocket::onNewConnection()
{
    while (server && server->hasPendingConnections()) {
        QTcpSocket* s = server->nextPendingConnection();
        s->setParent(this);
        const int id = ++nextRequestId;
        pending.insert(id, s);
        Q_EMIT connectionRequest(id);
        // Whatever the handler did not take is refused.
        if (QPointer<QTcpSocket> left = pending.take(id)) {
            left->abort();
            left->deleteLater();
        }
    }
}

void EventSocket::accept(int requestId)
{
    QPointer<QTcpSocket> s = pending.take(requestId);
    if (!s)
        return;
    dropStream();
    inError = false;
    adopt(s);
}

void EventSocket::handOver(int requestId, EventSocket& to)
{
    QPointer<QTcpSocket> s = pending.take(requestId);
    if (!s)
        return;
    to.close();
    to.inError = false;
    s->setParent(&to);
    to.adopt(s);
}

void EventSocket::moveTo(EventSocket& to)
{
    if (!stream || &to == this)
        return;
    closeResetProbe(false);
    QTcpSocket* s = std::exchange(stream, nullptr);
    s->disconnect(this);
    to.close();
    to.inError = false;
    s->setParent(&to);
    to.adopt(s);
}

QString EventSocket::requestAddress(int requestId) const
{
    const QPointer<QTcpSocket> s = pending.value(requestId);
    return s ? addressText(s->peerAddress()) : QString();
}

namespace {

void abortWithReset(QTcpSocket* s)
{
#ifdef Q_OS_LINUX
    if (s->socketDescriptor() >= 0) {
        const linger hard{1, 0}; // closing now sends a reset
        ::setsockopt(static_cast<int>(s->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
#endif
    s->abort();
}

} // namespace

void EventSocket::refuse(int requestId)
{
    if (QPointer<QTcpSocket> s = pending.take(requestId)) {
        abortWithReset(s);
        s->deleteLater();
    }
}

void EventSocket::reset()
{
    if (stream) {
        closeResetProbe(false);
        stream->disconnect(this);
        abortWithReset(stream);
        stream->deleteLater();
        stream = nullptr;
    }
    close();
}

void EventSocket::adopt(QTcpSocket* s)
{
    stream = s;
    peerClosed = false;
    peerReset = false;
    s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    s->setReadBufferSize(readBufferSize);
    if (s->state() == QAbstractSocket::ConnectedState)
        openResetProbe();
    auto* secure = qobject_cast<QSslSocket*>(s);
    connect(s, &QTcpSocket::connected, this, [this, s, secure] {
        if (s != stream)
            return;
        // An option set before the connection existed does not reach a TLS socket's stream.
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        openResetProbe();
        if (secure && encryptOnConnect) {
            secure->startClientEncryption(); // connected() follows the handshake
            watchHandshake(s);
            return;
        }
        Q_EMIT connected();
    });
    connect(s, &QTcpSocket::readyRead, this, [this, s] {
        if (s == stream)
            Q_EMIT dataArrived(s->bytesAvailable());
    });
    // Everything has left once no clear text waits to be encrypted and no record waits to be
    // handed to the system.
    const auto allWritten = [this, s, secure] {
        if (s == stream && !flushing && s->bytesToWrite() == 0 && (!secure || secure->encryptedBytesToWrite() == 0))
            Q_EMIT sendComplete();
    };
    connect(s, &QTcpSocket::bytesWritten, this, allWritten);
    connect(s, &QTcpSocket::disconnected, this, [this, s] {
        if (s != stream || inError)
            return;
        closeResetProbe(true);
        peerClosed = true;
        Q_EMIT closed();
    });
    connect(s, &QTcpSocket::errorOccurred, this, [this, s](QAbstractSocket::SocketError e) {
        if (s == stream)
            onSocketError(e);
    });
    if (!secure)
        return;
    if (!tlsConfiguration.isNull() && secure->mode() == QSslSocket::UnencryptedMode)
        secure->setSslConfiguration(tlsConfiguration);
    connect(secure, &QSslSocket::encryptedBytesWritten, this, allWritten);
    // The certificates are self-signed and checked by their key afterwards.
    connect(secure, &QSslSocket::sslErrors, secure, [secure] { secure->ignoreSslErrors(); });
    connect(secure, &QSslSocket::encrypted, this, [this, s] {
        if (s == stream)
            onEncrypted();
    });
}

void EventSocket::onSocketError(QAbstractSocket::SocketError e)
{
    // Qt reports an orderly close and a reset by the peer alike, here and as disconnected();
    // both become closed(), and closedByReset() tells a reset apart.
    closeResetProbe(e == QAbstractSocket::RemoteHostClosedError);
    if (e == QAbstractSocket::RemoteHostClosedError) {
        if (stream && stream->state() != QAbstractSocket::UnconnectedState)
            return; // disconnected() follows and reports the close
        if (!peerClosed) {
            peerClosed = true;
            Q_EMIT closed();
        }
        return;
    }
    const QString text = stream ? stream->errorString() : QString();
    setError(errorNumberFor(e), text);
    Q_EMIT error(errorNumber, errorText);
}

void EventSocket::setError(int number, const QString& text)
{
    inError = true;
    errorNumber = number;
    errorText = text;
}

bool EventSocket::send(const QByteArray& bytes)
{
    if (!stream || stream->state() != QAbstractSocket::ConnectedState)
        return false;
    return stream->write(bytes) == bytes.size();
}

bool EventSocket::flush()
{
    if (!stream || stream->state() != QAbstractSocket::ConnectedState)
        return false;
    // A flush may run inside another (a handler of what it reports flushes too): only the
    // outermost one ends the quiet.
    const bool outer = std::exchange(flushing, true);
    stream->flush();
    flushing = outer;
    return true;
}

qint64 EventSocket::bytesToWrite() const
{
    if (const QSslSocket* s = secureStream())
        return s->bytesToWrite() + s->encryptedBytesToWrite();
    return stream ? stream->bytesToWrite() : 0;
}

qint64 EventSocket::bytesAvailable() const
{
    return stream ? stream->bytesAvailable() : 0;
}

QByteArray EventSocket::peek() const
{
    return stream ? stream->peek(stream->bytesAvailable()) : QByteArray();
}

QByteArray EventSocket::take(qint64 maxBytes)
{
    return stream ? stream->read(maxBytes) : QByteArray();
}

qint64 EventSocket::take(char* data, qint64 maxBytes)
{
    return stream ? std::max<qint64>(0, stream->read(data, maxBytes)) : 0;
}

QByteArray EventSocket::takeAll()
{
    return stream ? stream->readAll() : QByteArray();
}

void EventSocket::openResetProbe()
{
#ifdef Q_OS_LINUX
    closeResetProbe(false);
    if (stream && stream->socketDescriptor() >= 0)
        resetProbe = ::fcntl(static_cast<int>(stream->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
#endif
}

void EventSocket::closeResetProbe(bool check)
{
#ifdef Q_OS_LINUX
    if (resetProbe < 0)
        return;
    // Qt has already let go of its descriptor here; this one still reaches the connection.
    // A reset leaves it fully closed, an orderly close leaves it waiting for our side.
    tcp_info info{};
    socklen_t size = sizeof info;
    // Over TLS the closing alerts cross the close, and a peer that is gone already answers them
    // with a reset: there the two are not told apart.
    if (check && !isEncrypted() && getsockopt(resetProbe, IPPROTO_TCP, TCP_INFO, &info, &size) == 0
        && info.tcpi_state == TCP_CLOSE)
        peerReset = true;
    ::close(resetProbe); // the last reference: our side's close goes out now
    resetProbe = -1;
#else
    Q_UNUSED(check);
#endif
}

void EventSocket::dropStream()
{
    closeResetProbe(false);
    if (!stream)
        return;
    QTcpSocket* s = stream;
    stream = nullptr;
    s->disconnect(this);
    if (s->state() == QAbstractSocket::ConnectedState && s->bytesToWrite() > 0) {
        // Let queued bytes (a last "bye") reach the peer before the socket goes; a peer
        // that stops reading cannot keep it alive for long.
        connect(s, &QAbstractSocket::disconnected, s, &QObject::deleteLater);
        QTimer::singleShot(lingerMs, s, [s] {
            s->abort();
            s->deleteLater();
        });
        s->disconnectFromHost();
        return;
    }
    s->abort();
    s->deleteLater();
}

void EventSocket::close()
{
    inError = false;
    peerClosed = false;
    peerReset = false;
    if (server) {
        server->close();
        server->deleteLater();
        server = nullptr;
    }
    dropStream();
}

int EventSocket::errorNumberFor(QAbstractSocket::SocketError e)
{
    switch (e) {
    case QAbstractSocket::ConnectionRefusedError:
        return 10061;
    case QAbstractSocket::RemoteHostClosedError:
        return 10054;
    case QAbstractSocket::HostNotFoundError:
        return 11001;
    case QAbstractSocket::SocketAccessError:
        return 10013;
    case QAbstractSocket::SocketResourceError:
        return 10055;
    case QAbstractSocket::SocketTimeoutError:
        return 10060;
    case QAbstractSocket::DatagramTooLargeError:
        return 10040;
    case QAbstractSocket::NetworkError:
        return 10050;
    case QAbstractSocket::AddressInUseError:
        return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return 10045;
    case QAbstractSocket::OperationError:
        return 10022;
    case QAbstractSocket::TemporaryError:
        return 10035;
    default:
        return 10004;
    }
}
