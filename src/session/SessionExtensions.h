#pragma once
#include "session/ControlMessages.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class PeerState;
struct SessionLimits;

// The extensions two peers of this program agree on after the login (docs/protocol.md), on
// one connection: the words both announced with "caps:", the direction each side sends UTF-8
// in, the "ftoken:" and "frun" of the next offer, and the "hashq:"/"hasha:" checksum messages.
// The session that holds it sends through a narrow Host and forgets it with the connection.
class SessionExtensions : public QObject {
    Q_OBJECT
public:
    // What the extensions reach of the session that holds them.
    class Host {
    public:
        virtual ~Host() = default;
        // Frames and sends one control message as every other one goes out.
        virtual void sendMessage(const QString& text) = 0;
        // Sends our "uinfo:" record again.
        virtual void sendOwnRecord() = 0;
    };

    // `on` and `limits` are the holder's, read as they are at each use.
    SessionExtensions(PeerState& state, Host& host, const SessionLimits& limits, const bool& on);
    ~SessionExtensions() override;

    // The words this side announces in "caps:".
    static QStringList ownExtensions();
    // The words both sides announced on this connection, in the order of ownExtensions().
    QStringList shared() const;
    bool shares(const QString& word) const;
    // This side sends its control messages in UTF-8 ("enc:utf8" is out).
    bool sendsUtf8() const { return utf8Out; }
    // The peer's messages come in UTF-8.
    bool readsUtf8() const { return utf8In; }
    // Offers may go out: the peer's "caps:" came, or will not come in time.
    bool settled() const { return !on || peerAnnounced || !capsTimer.isActive(); }
    // The token the peer announced with "ftoken:" for the offer it sent last; empty when none.
    QByteArray offerToken() const { return lastOfferToken; }
    // The peer sent "frun" right before the offer it sent last.
    bool offerOpensRun() const { return lastOfferRun; }

    // "caps:" after our own "uinfo:" at login.
    void announce();
    // Acts on one extension message other than the offer to go private.
    void handle(ControlMessages::Kind kind, const QString& text);
    // A "file:" came: the "ftoken:" and "frun" before it are its own.
    void offerArrived();
    // For a chat line going out in Windows-1252: a status line naming what it cannot carry.
    void noteUnsendable(const QString& text);
    // The connection ended: what was agreed on it is forgotten.
    void forget();

Q_SIGNALS:
    // The peer's "caps:" arrived, or the wait for it ended.
    void changed();
    // "hashq:": the peer asks for the checksum of the first `length` bytes of the file it
    // was offered as `name`.
    void checksumAsked(const QString& name, qint64 length);
    // "hasha:": the answer; `checksum` is empty when the peer could not compute it.
    void checksumAnswered(const QString& name, qint64 length, const QString& checksum);

private:
    void onCapabilities(const QString& words);
    void onFileToken(const QString& token);
    void onChecksumQuestion(const QString& body);
    void onChecksumAnswer(const QString& body);

    PeerState& ctx;
    Host& host;
    const SessionLimits& limits;
    const bool& on;
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
};
