#pragma once
#include <QList>
#include <QString>
#include <QTimer>

class EventSocket;
class PasswordThrottle;
class PeerState;
struct SessionLimits;

// Server side: the answers to the client's logins ("PAuth:") on one connection. Each login is
// checked on arrival and answered in turn behind those whose answers wait; after wrong
// passwords the answers wait longer and longer (the holder's PasswordThrottle, counted per
// connection and per address), the same for a right and a wrong password. The session that
// holds it sends through a narrow Host and forgets it with the connection.
class LoginAnswers {
public:
    // What the login answers reach of the session that holds them.
    class Host {
    public:
        virtual ~Host() = default;
        // Frames and sends one control message as every other one goes out.
        virtual void sendMessage(const QString& text) = 0;
        // Bumped whenever the connection is closed.
        virtual quint64 connectionNumber() const = 0;
        // The client's password was right and "PSOK" is its answer: the session lets it in.
        virtual void letClientIn() = 0;
    };

    // `limits` and `throttle` are the holder's; `socket` is the connection to the client.
    LoginAnswers(PeerState& state, Host& host, const SessionLimits& limits, PasswordThrottle& throttle,
                 const EventSocket& socket);
    LoginAnswers(const LoginAnswers&) = delete;
    LoginAnswers& operator=(const LoginAnswers&) = delete;

    // Takes a "PAuth:" (the text after its prefix) in turn behind those whose answers wait.
    void take(const QString& password);
    // The connection ended: the answers still waiting belong to it.
    void forget();

private:
    // A login checked on arrival; its answer may wait.
    struct Attempt {
        bool right = false;
        qsizetype length = 0; // of the password, for the refusal line
    };
    // Answers the waiting logins in turn, each once its wait is over.
    void answerWaiting();
    void answer(Attempt attempt);

    PeerState& ctx;
    Host& host;
    const SessionLimits& limits;
    PasswordThrottle& throttle;
    const EventSocket& socket;
    QList<Attempt> waiting; // logins whose answers wait their turn
    QTimer answerTimer;     // the wait before the first of them is answered
    int wrongPasswords = 0; // on this connection
    bool waitingFullNoted = false;
};
