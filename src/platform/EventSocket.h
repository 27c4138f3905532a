#pragma once
#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>

class QTcpServer;
class QTcpSocket;
class QSslSocket;

// One TCP endpoint driven by events, as the session and transfer logic expect it: either a
// listener that announces connection requests, or one connected stream. States are the
// numbers 0..9 below; errors carry Windows Sockets numbers (10061 refused, 11001 host not
// found, ...) so every report reads the same whatever the system.
class EventSocket : public QObject {
    Q_OBJECT
public:
    enum State {
        Closed = 0,
        Open = 1,
        Listening = 2,
        ConnectionPending = 3,
        ResolvingHost = 4,
        HostResolved = 5,
        Connecting = 6,
        Connected = 7,
        PeerClosing = 8,
        Error = 9,
    };

    explicit EventSocket(QObject* parent = nullptr);
    ~EventSocket() override;

    int state() const;

    void setRemoteHost(const QString& host) { remoteHostName = host; }
    QString remoteHost() const { return remoteHostName; }
    void setRemotePort(quint16 port) { remotePortNumber = port; }
    quint16 remotePort() const;
    // The port to listen on; while listening or connected, the port actually bound.
    void setLocalPort(quint16 port) { localPortNumber = port; }
    quint16 localPort() const;
    // The peer's address as text ("127.0.0.1"), empty when not connected.
    QString remoteHostIP() const;
    // This end's address as text, empty when not connected.
    QString localHostIP() const;
    // The address listen() binds; by default every interface.
    void setListenAddress(const QHostAddress& address) { listenAddress = address; }

    // Starts connecting to remoteHost():remotePort(); the outcome arrives as connected()
    // or error().
    void connectToPeer();
    // Listens on localPort(). False when that fails at once; lastErrorNumber() and
    // lastErrorText() then say why.
    bool listen();
    // Takes the pending request announced by connectionRequest(requestId). Requests not
    // accepted while that signal is handled are refused.
    void accept(int requestId);
    // Hands the pending request to `to`, which becomes that connected stream, while this
    // socket goes on listening (so that a further request can still be seen).
    void handOver(int requestId, EventSocket& to);
    // Moves this connected stream, with the bytes it has received and not yet taken, into
    // `to`; this socket is closed afterwards.
    void moveTo(EventSocket& to);
    // The address a pending request comes from, as text; empty when there is no such request.
    QString requestAddress(int requestId) const;
    // Ends the connection, or refuses the pending request, with a reset rather than an
    // orderly close, so that the peer sees an error and not a normal end.
    void reset();
    void refuse(int requestId);

    // Queues bytes for sending; false when not connected.
    bool send(const QByteArray& bytes);
    qint64 bytesToWrite() const;
    // Hands queued bytes to the system now, as far as it takes them, instead of on the next
    // turn of the event loop. No sendComplete() is emitted from inside this call; check
    // bytesToWrite() afterwards. False when not connected.
    bool flush();

    qint64 bytesAvailable() const;
    QByteArray peek() const;
    QByteArray take(qint64 maxBytes);
    // Reads up to maxBytes into data; the number read (0 when nothing is there).
    qint64 take(char* data, qint64 maxBytes);
    QByteArray takeAll();

    // ---- encryption (TLS) ----
    // With a configuration, streams made or accepted afterwards can switch to TLS on the same
    // connection; without one they stay plain sockets. When expectedPeerKey is not empty, a
    // peer whose certificate does not carry that public key (DER) is cut off with error()
    // once the handshake is done, before encrypted() or connected().
    void setTls(const QSslConfiguration& configuration, const QByteArray& expectedPeerKey = {});
    bool tlsConfigured() const { return !tlsConfiguration.isNull(); }
    // Client streams start the handshake as soon as the connection is made; connected()
    // then follows the handshake (and the key check) instead of the TCP connection.
    bool encryptOnConnect = false;
    // Accepted TLS-capable streams are read unbuffered: take(n) then takes no byte beyond the
    // n, so the clear text before a switch to TLS can be read without taking any byte of the
    // handshake that follows it.
    bool exactReads = false;
    // A handshake not done within this long ends the connection with error().
    int handshakeTimeoutMs = 20000;
    // Starts the handshake on the connected stream, as the client or as the server. What was
    // sent before goes out first, in the clear; everything after it is encrypted.
    bool startTls(bool asServer);
    // The handshake is under way (nothing can be read or sent in the clear meanwhile).
    bool tlsPending() const;
    bool isEncrypted() const;
    // The public key (DER) of the certificate the peer presented; empty when none.
    QByteArray peerPublicKey() const;
    // "TLS 1.3" once encrypted, else empty.
    QString tlsProtocolName() const;

    // Closes the stream or the listener; no closed() signal follows.
    void close();

    // After closed(): true when the peer reset the connection (Windows Sockets error 10054)
    // rather than closing it in order. Only some systems tell the two apart; elsewhere false.
    bool closedByReset() const { return peerReset; }

    int lastErrorNumber() const { return errorNumber; }
    QString lastErrorText() const { return errorText; }

    // How long a closed connection may still flush queued bytes.
    int lingerMs = 10000;
    // At most this many received bytes are held (0: no bound); the rest waits in the system,
    // which slows the sender down. Applies to streams connected or accepted afterwards.
    qint64 readBufferSize = 0;

    // Windows Sockets number for a socket error.
    static int errorNumberFor(QAbstractSocket::SocketError error);

Q_SIGNALS:
    void connected();
    void connectionRequest(int requestId);
    void dataArrived(qint64 bytesAvailable);
    // The peer closed the connection.
    void closed();
    // Everything queued by send() has been handed to the system.
    void sendComplete();
    void error(int number, const QString& description);
    // The TLS handshake is done and the peer's key is the expected one.
    void encrypted();

private:
    class Listener;
    void adopt(QTcpSocket* socket);
    QTcpSocket* newStream();
    QSslSocket* secureStream() const;
    void onEncrypted();
    void watchHandshake(QTcpSocket* socket);
    // Cuts the stream off and reports the error.
    void failStream(int number, const QString& text);
    void dropStream();
    void onNewConnection();
    void onSocketError(QAbstractSocket::SocketError error);
    void setError(int number, const QString& text);
    // Qt reports a reset by the peer like an orderly close and lets go of the descriptor
    // before it says so. A second descriptor of the connected socket lets the system be
    // asked afterwards which of the two it was.
    void openResetProbe();
    void closeResetProbe(bool check);

    QString remoteHostName;
    quint16 remotePortNumber = 0;
    quint16 localPortNumber = 0;
    QHostAddress listenAddress = QHostAddress::Any;

    QTcpServer* server = nullptr;
    QTcpSocket* stream = nullptr;
    QMap<int, QPointer<QTcpSocket>> pending;
    int nextRequestId = 0;

    bool inError = false;
    bool peerClosed = false;
    bool peerReset = false;
    int resetProbe = -1;
    bool flushing = false; // inside flush(): its writes announce nothing
    int errorNumber = 0;
    QString errorText;
    QSslConfiguration tlsConfiguration;
    QByteArray expectedKey;
};
