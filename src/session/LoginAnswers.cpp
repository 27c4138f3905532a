#include "session/LoginAnswers.h"

#include "config/Scramble.h"
#include "core/PeerState.h"
#include "platform/EventSocket.h"
#include "session/PasswordThrottle.h"
#include "session/SessionLimits.h"

#include <utility>

LoginAnswers::LoginAnswers(PeerState& state, Host& sessionHost, const SessionLimits& sessionLimits,
                           PasswordThrottle& passwordThrottle, const EventSocket& controlSocket)
    : ctx(state), host(sessionHost), limits(sessionLimits), throttle(passwordThrottle), socket(controlSocket)
{
    answerTimer.setSingleShot(true);
    answerTimer.setTimerType(Qt::PreciseTimer); // never answers before its wait is over
    QObject::connect(&answerTimer, &QTimer::timeout, &answerTimer, [this] {
        if (waiting.isEmpty())
            return;
        answer(waiting.takeFirst());
        answerWaiting();
    });
}

void LoginAnswers::forget()
{
    answerTimer.stop();
    waiting.clear();
    wrongPasswords = 0;
    waitingFullNoted = false;
}

void LoginAnswers::take(const QString& password)
{
    if (waiting.size() >= limits.maxWaitingLogins) {
        if (!std::exchange(waitingFullNoted, true))
            ctx.addText(QStringLiteral("*** The other side sends logins faster than they are answered - "
                                       "left out for now"),
                        LineKind::Status);
        return;
    }
    const Options& o = ctx.options;
    // The client's password came in Windows-1252, where characters the scrambling cannot
    // carry became "?"; the stored one is compared in the same form.
    const bool right = !o.requirePassword
                       || (password.size() == o.serverPassword.size()
                           && scramblableBytes(password) == scramblableBytes(o.serverPassword));
    waiting.append({right, password.size()});
    answerWaiting();
}

void LoginAnswers::answerWaiting()
{
    const quint64 gen = host.connectionNumber();
    while (!waiting.isEmpty() && !answerTimer.isActive() && gen == host.connectionNumber()) {
        // The wait is the same for a right and a wrong password.
        const int delay = ctx.options.requirePassword ? throttle.delayMs(socket.remoteHostIP(), wrongPasswords) : 0;
        if (delay > 0)
            answerTimer.start(delay);
        else
            answer(waiting.takeFirst());
    }
}

void LoginAnswers::answer(Attempt attempt)
{
    if (!attempt.right) {
        ++wrongPasswords;
        throttle.failed(socket.remoteHostIP());
        host.sendMessage(QStringLiteral("PSBAD"));
        // The password itself is not shown: it may be one its owner uses elsewhere.
        ctx.addText(QStringLiteral("*** User Submitted Bad Password (%1 character%2)")
                        .arg(attempt.length)
                        .arg(attempt.length == 1 ? QString() : QStringLiteral("s")),
                    LineKind::Connect);
        return;
    }
    throttle.succeeded(socket.remoteHostIP());
    host.letClientIn();
}
