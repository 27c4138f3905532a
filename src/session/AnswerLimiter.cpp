#include "session/AnswerLimiter.h"

#include "core/PeerState.h"
#include "platform/EventSocket.h"
#include "session/SessionLimits.h"

#include <algorithm>

AnswerLimiter::AnswerLimiter(PeerState& state, const SessionLimits& sessionLimits, const EventSocket& controlSocket)
    : ctx(state), limits(sessionLimits), socket(controlSocket)
{
    clock.start();
    tokens = limits.answerBurst;
}

bool AnswerLimiter::admit()
{
    const qint64 now = clock.elapsed();
    tokens = std::min(limits.answerBurst, tokens + static_cast<double>(now - clockMs) * limits.answerRate / 1000.0);
    clockMs = now;
    if (tokens >= limits.answerBurst)
        shortNoted = false; // the last burst is over
    if (tokens >= 1 && socket.bytesToWrite() <= limits.maxUnsentBytes) {
        tokens -= 1;
        return true;
    }
    if (!shortNoted) {
        shortNoted = true;
        ctx.addText(QStringLiteral("*** The other side sends faster than it is answered - pings, logins and "
                                   "notices left out for now"),
                    LineKind::Status);
    }
    return false;
}

void AnswerLimiter::reset()
{
    tokens = limits.answerBurst;
    shortNoted = false;
}
