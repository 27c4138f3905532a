#pragma once
#include "platform/EventSocket.h"
#include "session/AnswerLimiter.h"
#include "session/ControlFramer.h"
#include "session/ControlMessages.h"
#include "session/LoginAnswers.h"
#include "session/PasswordThrottle.h"
#include "session/SessionExtensions.h"
#include "session/SessionLimits.h"
#include "session/SessionPrivacy.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class PeerState;

// The control connection to the one peer: opening it as server or client, the login,
// framing and dispatch of control messages, reconnection after a loss and the Connect,
// Disconnect and Ping commands. Waits are states with single-shot timers.
class Session : public QObject,
                private SessionExtensions::Host,
                private SessionPrivacy::Host,
                private LoginAnswers::Host {
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
    static QStringList ownExtensions() { return SessionExtensions::ownExtensions(); }
    // The words both sides announced on this connection, in the order of ownExtensions().
    QStringList sharedExtensions() const { return extensions.shared(); }
    bool shares(const QString& word) const { return extensions.shares(word); }
    // This side sends its control messages in UTF-8 ("enc:utf8" is out).
    bool sendsUtf8() const { return extensions.sendsUtf8(); }
    // Offers may go out: the peer's "caps:" came, or will not come in time.
    bool extensionsSettled() const { return extensions.settled(); }
    // The token the peer announced with "ftoken:" for the offer it sent last; empty when none.
    QByteArray offerToken() const { return extensions.offerToken(); }
    // The peer sent "frun" right before the offer it sent last: its connections may stay open
    // for the next files of the same queue run.
    bool offerOpensRun() const { return extensions.offerOpensRun(); }

    // ---- private connections (docs/protocol.md) ----
    // The control connection runs TLS with a peer whose key was checked.
    bool isPrivate() const { return privacy.isPrivate(); }
    // "12345 67890 12345 67890" for this connection's two keys; empty when not private.
    QString connectionCode() const { return privacy.connectionCode(); }
    // The public key (DER) the peer presented; empty when not private.
    QByteArray peerKey() const { return privacy.peerKey(); }
    // "TLS 1.3" while private.
    QString privateProtocol() const { return controlSocket.tlsProtocolName(); }
    // Client: the peer's key was seen here for the first time (or accepted as a new one).
    bool identityIsNew() const { return privacy.identityIsNew(); }
    // The TLS configuration of this installation, for the transfer connections of a private
    // session.
    QSslConfiguration tlsConfiguration() { return privacy.tlsConfiguration(); }
    // Client: accept a changed key on the next connection of this run (and remember it).
    bool trustNewIdentity = false;
    // Client: remembers the key refused by identityRefused() for its site and connects again.
    void acceptChangedIdentity();

    // Takes one answer from the rate bucket of this connection; false (saying so once per
    // burst) when none is left. A peer can ask for answers (pings, refusals) far faster than
    // anyone needs them; beyond the rate they are left out.
    bool admitAnswer() { return answers.admit(); }

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
    void authenticate() override;
    void finishLogin();
    void armReconnect();
    // Closes the control socket and forgets everything tied to the connection that was.
    void closeSocket();
    // SessionExtensions::Host, SessionPrivacy::Host and LoginAnswers::Host: what the
    // extensions, the privacy and the login answers reach here (and authenticate()).
    void sendMessage(const QString& text) override { sendControlMessage(text); }
    void sendOwnRecord() override { sendUserInfo(); }
    bool servesPeer() const override { return servingPeer; }
    void readArrived() override { readMessages(); }
    // Closes without a login, saying why; nothing reconnects on its own.
    void refuseConnection(const QString& line) override;
    // Sends what waited for the decision to go private or not.
    void releaseHeld() override;
    quint64 connectionNumber() const override { return generation; }
    // Server: the client's password was right; the first login of a connection brings the
    // peers together.
    void letClientIn() override;
    // The handlers of the messages, by kind (ControlMessages); each gets the text after
    // the message's prefix where it carries one.
    void onLoginAnswer(bool accepted);
    void onPing();
    void onPingReply();
    void onUserInfo(const QString& record);
    void onBye();
    void onFileOffer(const QString& body);

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
    AnswerLimiter answers;         // the rate of answers to the peer
    quint64 generation = 0;        // bumped whenever the connection is closed
    bool servingPeer = false;      // this side accepted the connection as server
    bool clientAuthorised = false; // ... and the client's password was accepted
    SessionExtensions extensions;  // what the two peers agreed on this connection
    SessionPrivacy privacy;        // going private, and the peer's key
    LoginAnswers logins;           // server: the answers to the client's logins
};
