#pragma once
#include "platform/EventSocket.h"
#include "session/ControlFramer.h"
#include "session/ControlMessages.h"
#include "session/PasswordThrottle.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class PeerState;

// The bounds of the session's waits and of what a peer may send, shortened by tests.
struct SessionLimits {
    int loginTimeoutMs = 61000;
    int reconnectDelayMs = 500;
    int reconnectPauseMs = 5000;
    // After a failed login the client says "bye" and gives the server this long to close
    // before it closes the connection itself.
    int byeCloseMs = 2000;
    // Chat lines sent while the login is pending wait for its answer, within these bounds.
    int maxHeldChatLines = 100;
    qsizetype maxHeldChatBytes = 1 << 20;
    // A peer that sends more than this without a message end is cut off.
    qsizetype maxMessageBytes = 1 << 20;
    // The control connection is read this much at a time, and at most about turnBytes are
    // read and handled per turn of the event loop; the rest waits in the system, whose
    // window then slows the sender down. Applies to connections made afterwards.
    qint64 readChunk = qint64(64) * 1024;
    qsizetype turnBytes = qsizetype(256) * 1024;
    // Answers to pings and logins, ping replies, "stat:" and "uinfo:" lines and file offers:
    // at most answerRate a second, in bursts of up to answerBurst. What comes faster is left
    // out, as is all of it while more than maxUnsentBytes wait to go out (a peer that does
    // not read). Chat lines are never left out.
    double answerRate = 200;
    double answerBurst = 200;
    qint64 maxUnsentBytes = 1 << 20;
    // Server: logins sent while earlier answers wait are answered in turn, at most this many
    // waiting.
    int maxWaitingLogins = 16;
    // After the login the peer's "caps:" is awaited this long before offers go out without
    // knowing it (a plain peer sends none).
    int capsWaitMs = 1000;
    // Of a "caps:" only the first this many characters are read for words.
    qsizetype maxCapsChars = qsizetype(16) * 1024;
    // Client: how long it waits for a server's offer to go private before it logs in as
    // with a plain peer; either side: how long the TLS handshake may take.
    int privateOfferWaitMs = 1000;
    int handshakeTimeoutMs = 20000;
    // Client: the wait for the offer of a site that went private before, which must offer.
    int rememberedOfferWaitMs = 10000;
};

// The control connection to the one peer: opening it as server or client, the login,
// framing and dispatch of control messages, reconnection after a loss and the Connect,
// Disconnect and Ping commands. Waits are states with single-shot timers.
class Session : public QObject {
    Q_OBJECT
public:
    // Where the control connection stands.
    enum class State {
        Idle,       // no connection, not listening
        Listening,  // server: waiting for a client
        Connecting, // client: finding the host or connecting to it
        Connected,  // the connection is up
        Closing,    // going away: the peer closed its side, or (client) "bye" went out after a
                    // failed login and the server's close is awaited
    };
    Q_ENUM(State)

    explicit Session(PeerState& ctx);
    ~Session() override;

    EventSocket controlSocket;

    // Set when the user chose Disconnect; while set nothing reconnects on its own.
    bool userDisconnected = false;
    // Seconds since midnight when a ping left; the shown reply time once it came back.
    float pingSeconds = 0;

    SessionLimits limits;
    // Server: answers to logins wait longer and longer after wrong passwords (kept across
    // connections).
    PasswordThrottle passwordThrottle;

    // The terminator that ends every control message on the wire.
    static inline const QByteArray& Terminator = ControlFramer::Terminator;

    State connectionState() const;
    // Connected, and not on the way out after a failed login.
    bool isConnected() const { return controlSocket.state() == EventSocket::Connected && !byeCloseTimer.isActive(); }
    // The client has sent its password and waits for the answer.
    bool loginPending() const { return loginTimer.isActive(); }
    // Server side: the connected client's password was accepted (always true when the
    // server requires none).
    bool peerAuthorised() const;

    // Opens the connection the context's connectionMode, connectionHost and connectionPort describe.
    void openConnection();
    // The user's Disconnect: says "bye" when connected, else closes at once.
    void disconnectFromPeer();
    // The user's Connect command: drops any connection without "bye" (the dialog that
    // follows belongs to the window).
    void dropForConnect();
    void sendPing();

    // Scrambles, frames and sends one message; dropped silently when not connected. A chat
    // line ("msg:") sent while the login is pending is held and goes out once it succeeds.
    void sendControlMessage(const QString& text);
    void sendUserInfo();
    // A chat line of ours: shown as "<own name> line" and sent as "msg:".
    void sendChat(const QString& line);
    // Acts on one unscrambled message.
    void handleControlMessage(const QString& text);

    // A control port: decimal digits, 1 to 65533, so that the two transfer ports above it fit.
    static bool parseControlPort(const QString& text, quint16& port);

    // Wire form of one message: scrambled text and terminator; the text in Windows-1252, or
    // in UTF-8 once this side has switched its direction with "enc:utf8".
    static QByteArray frame(const QString& text, bool utf8 = false) { return ControlFramer::frame(text, utf8); }

    // ---- the extensions between two peers of this program (docs/protocol.md) ----
    // Off: this side announces nothing and acts on no extension message, like a peer that
    // knows only the plain protocol.
    bool extensionsOn = true;
    // The words this side announces in "caps:".
    static QStringList ownExtensions();
    // The words both sides announced on this connection, in the order of ownExtensions().
    QStringList sharedExtensions() const;
    bool shares(const QString& word) const;
    // This side sends its control messages in UTF-8 ("enc:utf8" is out).
    bool sendsUtf8() const { return utf8Out; }
    // Offers may go out: the peer's "caps:" came, or will not come in time.
    bool extensionsSettled() const { return !extensionsOn || peerAnnounced || !capsTimer.isActive(); }
    // The token the peer announced with "ftoken:" for the offer it sent last; empty when none.
    QByteArray offerToken() const { return lastOfferToken; }
    // The peer sent "frun" right before the offer it sent last: its connections may stay open
    // for the next files of the same queue run.
    bool offerOpensRun() const { return lastOfferRun; }

    // ---- private connections (docs/protocol.md) ----
    // The control connection runs TLS with a peer whose key was checked.
    bool isPrivate() const { return privacyStep == PrivacyStep::Private; }
    // "12345 67890 12345 67890" for this connection's two keys; empty when not private.
    QString connectionCode() const { return isPrivate() ? code : QString(); }
    // The public key (DER) the peer presented; empty when not private.
    QByteArray peerKey() const { return isPrivate() ? peerKeyDer : QByteArray(); }
    // "TLS 1.3" while private.
    QString privateProtocol() const { return controlSocket.tlsProtocolName(); }
    // Client: the peer's key was seen here for the first time (or accepted as a new one).
    bool identityIsNew() const { return newIdentity; }
    // The TLS configuration of this installation, for the transfer connections of a private
    // session.
    QSslConfiguration tlsConfiguration();
    // Client: accept a changed key on the next connection of this run (and remember it).
    bool trustNewIdentity = false;
    // Client: remembers the key refused by identityRefused() for its site and connects again.
    void acceptChangedIdentity();

    // Takes one answer from the rate bucket of this connection; false (saying so once per
    // burst) when none is left. A peer can ask for answers (pings, refusals) far faster than
    // anyone needs them; beyond the rate they are left out.
    bool admitAnswer();

Q_SIGNALS:
    // "FTIMEOUT", "CANC_TRAN" or "HaveFile" arrived: which transfer or offer they end is
    // for the transfer side to decide.
    void transferMessage(const QString& text);
    // The connection was made (Connected), or it was closed by either side, an error or a
    // command (Idle; announced on every close, also of a socket that was only listening).
    // Listening and connecting are not announced: connectionState() tells them.
    void connectionStateChanged(Session::State state);
    // A login succeeded on this side (client: accepted; server: a client logged in).
    void loggedIn();
    // A "uinfo:" record replaced the remote user's information.
    void remoteInfoChanged();
    // A "file:" offer arrived: fields as sent, and the peer's address.
    void fileOffered(const QString& fileName, const QString& fileLength, const QString& blockSize,
                     const QString& peerAddress, const QString& port);
    // The peer's "caps:" arrived (sharedExtensions() tells what both sides use now), or the
    // wait for it ended.
    void extensionsChanged();
    // "hashq:": the peer asks for the checksum of the first `length` bytes of the file it
    // was offered as `name`.
    void checksumAsked(const QString& name, qint64 length);
    // "hasha:": the answer; `checksum` is empty when the peer could not compute it.
    void checksumAnswered(const QString& name, qint64 length, const QString& checksum);
    // The connection became private, or a private one ended.
    void privacyChanged();
    // Client: the site's remembered key differs from the one presented; not connected.
    // acceptChangedIdentity() takes the new one after the two people compared `code`.
    void identityRefused(const QString& host, quint16 port, const QString& code);

private:
    void onConnected();
    void onConnectionRequest(int requestId);
    void onDataArrived();
    // Frames and handles what has arrived, within turnBytes unless unbounded; the rest goes
    // on in a later turn.
    void readMessages(bool unbounded = false);
    // Cuts off a peer whose message does not end within maxMessageBytes.
    void cutOff();
    void onClosed();
    void onSocketError(int number, const QString& description);
    void onReconnectTick();
    void onPauseOver();
    // openConnection; retrying when the program reconnects or listens again on its own.
    void open(bool retrying);
    void onByeCloseOver();
    void onAdmitTimeOut();
    void holdChat(const QString& text);
    // Drops the held chat lines, saying how many were not sent.
    void dropHeldChat();
    // Server side: the connected client has not logged in (a visit, not a session).
    bool visitorOnly() const { return servingPeer && !clientAuthorised; }
    // What follows the loss of a connection: a server whose client never logged in listens
    // again at once; otherwise the reconnection rule applies.
    void afterLoss(bool visitor);
    void authenticate();
    void finishLogin();
    // Server: takes a "PAuth:" in turn behind those whose answers wait.
    void handlePAuth(const QString& password);
    // Answers the waiting logins in turn, each once its wait is over.
    void answerWaitingLogins();
    // A login checked on arrival; its answer may wait.
    struct LoginAttempt {
        bool right = false;
        qsizetype length = 0; // of the password, for the refusal line
    };
    void answerLogin(LoginAttempt attempt);
    void armReconnect();
    // Closes the control socket and forgets everything tied to the connection that was.
    void closeSocket();
    // Extensions: "caps:" after our own "uinfo:" at login, the extension messages, and
    // what is forgotten when the connection ends.
    void announceExtensions();
    // The handlers of the messages, by kind (ControlMessages); each gets the text after
    // the message's prefix where it carries one.
    void onLoginAnswer(bool accepted);
    void onPing();
    void onPingReply();
    void onUserInfo(const QString& record);
    void onBye();
    void onFileOffer(const QString& body);
    void handleExtension(ControlMessages::Kind kind, const QString& text);
    void onCapabilities(const QString& words);
    void onFileToken(const QString& token);
    void onChecksumQuestion(const QString& body);
    void onChecksumAnswer(const QString& body);
    void forgetExtensions();
    // Private connections: the waits, the switch and the key check.
    enum class PrivacyStep {
        None,            // plain, or not decided and not to be
        AwaitingOffer,   // client: waits privateOfferWaitMs for the server's offer
        AwaitingRequest, // server: reads the first message exactly, to see whether it asks
        Handshake,       // TLS handshake under way
        Private,         // encrypted with a checked key
    };
    bool privacyAllowed();
    void startPrivacyAsServer();
    // Client: begins the login, or the wait for the server's offer to go private.
    void beginClientSide();
    void onPrivateOffer();
    void onNoPrivateOffer();
    // Server, before the first message: false when nothing more can be read now or the
    // switch has begun, true when the framer has the bytes to go on with.
    bool readSwitchRequest();
    void onEncrypted();
    void onHandshakeTimeOut();
    // Closes without a login, saying why; nothing reconnects on its own.
    void refuseConnection(const QString& line);
    void forgetPrivacy();
    // Remembers the peer's key (server: once it logged in) with the name it gave.
    void rememberPeer();
    bool privacyUndecided() const
    {
        return privacyStep == PrivacyStep::AwaitingOffer || privacyStep == PrivacyStep::AwaitingRequest
               || privacyStep == PrivacyStep::Handshake;
    }
    // Sends what waited for the decision to go private or not.
    void releaseHeld();
    // For a chat line going out in Windows-1252: a status line naming what it cannot carry.
    void noteUnsendable(const QString& text);

    PeerState& ctx;
    QTimer loginTimer;
    QTimer reconnectTimer;
    QTimer pauseTimer;
    QTimer byeCloseTimer; // client: "bye" sent after a failed login
    QTimer admitTimer;    // server: the client has this long to log in
    QStringList heldChat; // chat lines waiting for the login's answer
    qsizetype heldChatBytes = 0;
    bool listenErrorShown = false; // a failed listen was reported; retries stay quiet
    ControlFramer framer;          // received bytes not yet framed
    QTimer readTimer;              // goes on reading on the next turn
    QElapsedTimer answerClock;
    qint64 answerClockMs = 0; // when the bucket was last filled up
    double answerTokens = 0;
    bool answersShortNoted = false;    // the current burst has been reported
    quint64 generation = 0;            // bumped whenever the connection is closed
    bool servingPeer = false;          // this side accepted the connection as server
    bool clientAuthorised = false;     // ... and the client's password was accepted
    QList<LoginAttempt> waitingLogins; // logins whose answers wait their turn
    QTimer loginAnswerTimer;           // the wait before the first of them is answered
    int wrongPasswords = 0;            // on this connection
    bool waitingLoginsFullNoted = false;
    QTimer capsTimer;           // the wait for the peer's "caps:" after the login
    QStringList peerExtensions; // the words of the peer's "caps:" that this side knows
    bool peerAnnounced = false; // its "caps:" came (the first one counts)
    bool ownAnnounced = false;  // ours went out after the login; the peer's counts from now
    bool utf8Out = false;       // our messages go in UTF-8
    bool utf8In = false;        // the peer's messages come in UTF-8
    QByteArray pendingToken;    // "ftoken:" for the next "file:"
    QByteArray lastOfferToken;  // the token of the last "file:"
    bool pendingRun = false;    // "frun" for the next "file:"
    bool lastOfferRun = false;  // the last "file:" came with "frun"
    PrivacyStep privacyStep = PrivacyStep::None;
    QTimer privacyTimer;             // the wait for the offer, or for the handshake
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
