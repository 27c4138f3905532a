#pragma once
#include <QByteArray>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QTimer>

class ControlFramer;
class EventSocket;
class PeerState;
struct SessionLimits;

// Going private on one control connection, before the login: the offer and the request to
// switch to TLS, the waits for them, the handshake, and the check of the key the peer
// presented against the keys known here (the refusal of a changed one). The session that
// holds it reads and frames the connection; the login and the closing stay there, reached
// through a narrow Host.
class SessionPrivacy : public QObject {
    Q_OBJECT
public:
    // What the privacy reaches of the session that holds it.
    class Host {
    public:
        virtual ~Host() = default;
        // This side accepted the connection as server.
        virtual bool servesPeer() const = 0;
        // Frames and sends one control message as every other one goes out.
        virtual void sendMessage(const QString& text) = 0;
        // Client: sends the password and waits for the answer.
        virtual void authenticate() = 0;
        // Sends what waited for the decision to go private or not.
        virtual void releaseHeld() = 0;
        // Closes without a login, saying why; nothing reconnects on its own.
        virtual void refuseConnection(const QString& line) = 0;
        // Frames and handles what has arrived.
        virtual void readArrived() = 0;
    };

    // The socket and framer are the holder's connection; `limits` and `extensionsOn` are read
    // as they are at each use; `trustNewIdentity` is the holder's, and is cleared once used.
    SessionPrivacy(PeerState& state, Host& host, EventSocket& socket, ControlFramer& framer,
                   const SessionLimits& limits, const bool& extensionsOn, bool& trustNewIdentity);
    ~SessionPrivacy() override;

    // The control connection runs TLS with a peer whose key was checked.
    bool isPrivate() const { return step == Step::Private; }
    // "12345 67890 12345 67890" for this connection's two keys; empty when not private.
    QString connectionCode() const { return isPrivate() ? code : QString(); }
    // The public key (DER) the peer presented; empty when not private.
    QByteArray peerKey() const { return isPrivate() ? peerKeyDer : QByteArray(); }
    // Client: the peer's key was seen here for the first time (or accepted as a new one).
    bool identityIsNew() const { return newIdentity; }
    // Client: waits for the server's offer.
    bool awaitingOffer() const { return step == Step::AwaitingOffer; }
    // Server: reads the first message exactly, to see whether it asks to switch.
    bool awaitingRequest() const { return step == Step::AwaitingRequest; }
    // The handshake is under way: what follows on the connection is TLS.
    bool inHandshake() const { return step == Step::Handshake; }
    // Nothing may go out in the clear yet.
    bool undecided() const
    {
        return step == Step::AwaitingOffer || step == Step::AwaitingRequest || step == Step::Handshake;
    }

    // This side may go private on the next connection.
    bool allowed();
    // The TLS configuration of this installation, made from the identity on first use.
    QSslConfiguration tlsConfiguration();
    // Client: begins the login, or the wait for the server's offer to go private.
    void beginClientSide();
    // Server, on accepting a connection: offers to go private when it can.
    void startAsServer();
    // Client: the server's offer came, or it did not (the wait ended, or the server spoke first).
    void onOffer();
    void onNoOffer();
    // Server, before the first message: false when nothing more can be read now or the
    // switch has begun, true when the framer has the bytes to go on with.
    bool readSwitchRequest();
    // A "uinfo:" record came: the first of a connection has the peer remembered by that name.
    void recordArrived();
    // Client: remembers the key refused last for its site; false when there is none.
    bool acceptChangedIdentity();
    // The connection ended: everything tied to it is forgotten.
    void forget();

Q_SIGNALS:
    // The connection became private, or a private one ended.
    void changed();
    // Client: the site's remembered key differs from the one presented; not connected.
    void identityRefused(const QString& host, quint16 port, const QString& code);

private:
    enum class Step {
        None,            // plain, or not decided and not to be
        AwaitingOffer,   // client: waits privateOfferWaitMs for the server's offer
        AwaitingRequest, // server: reads the first message exactly, to see whether it asks
        Handshake,       // TLS handshake under way
        Private,         // encrypted with a checked key
    };
    void onEncrypted();
    void onHandshakeTimeOut();
    // Remembers the peer's key (server: once it logged in) with the name it gave.
    void rememberPeer();

    PeerState& ctx;
    Host& session;
    EventSocket& socket;
    ControlFramer& framer;
    const SessionLimits& limits;
    const bool& extensionsOn;
    bool& trustNewIdentity;
    Step step = Step::None;
    QTimer timer;                    // the wait for the offer, or for the handshake
    QByteArray requestGot;           // server: the first bytes, read exactly
    QByteArray peerKeyDer;           // the key the peer presented
    QString code;                    // the connection code
    bool newIdentity = false;        // the key was not known here before
    bool peerNameRemembered = false; // the first "uinfo:" of this connection came
    QSslConfiguration ownTls;        // made from the identity on first use
    // Client: the key refused last, and where, for acceptChangedIdentity().
    QByteArray refusedKey;
    QString refusedHost;
    quint16 refusedPort = 0;
};
