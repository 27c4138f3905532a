#pragma once
#include <QElapsedTimer>

class EventSocket;
class PeerState;
struct SessionLimits;

// The rate bucket of the answers to one peer on one connection: a peer can ask for answers
// (pings, logins, refusals, notices) far faster than anyone needs them; after a burst it gets
// at most limits.answerRate of them a second, and none while our unsent bytes pile up.
class AnswerLimiter {
public:
    // `limits` are the holder's, read as they are at each use; `socket` carries the answers.
    AnswerLimiter(PeerState& state, const SessionLimits& limits, const EventSocket& socket);

    // Takes one answer from the bucket; false (saying so once per burst) when none is left.
    bool admit();
    // The connection ended: the next one starts with a full bucket.
    void reset();

private:
    PeerState& ctx;
    const SessionLimits& limits;
    const EventSocket& socket;
    QElapsedTimer clock;
    qint64 clockMs = 0; // when the bucket was last filled up
    double tokens = 0;
    bool shortNoted = false; // the current burst has been reported
};
