#include "peer/Peer.h"

#include "queue/SendList.h"
#include "session/Session.h"
#include "transfer/Transfers.h"
#include "util/TranscriptLog.h"

Peer::Peer(const QString& programFolder, QObject* parent)
    : QObject(parent), ctx(programFolder),
      logPtr(std::make_unique<TranscriptLog>(ctx.options, ctx.programFolder)),
      sessionPtr(std::make_unique<Session>(ctx)),
      transfersPtr(std::make_unique<Transfers>(ctx, *sessionPtr)),
      sendListPtr(std::make_unique<SendList>(*sessionPtr, *transfersPtr))
{
    connect(&ctx, &Context::lineToLog, this, &Peer::logLine);
    logIdleTimer.setSingleShot(true);
    connect(&logIdleTimer, &QTimer::timeout, this, &Peer::FlushLog);
}

Peer::~Peer()
{
    sendListPtr.reset();
    transfersPtr.reset(); // a running transfer may still withdraw its questions
    // Lines still buffered reach the file; a failure here has nobody left to tell.
    logPtr->FlushLog();
}

void Peer::logLine(const QString& text)
{
    logPtr->AddLogLine(text);
    noteLogState();
    logIdleTimer.start(logIdleMs);
}

void Peer::FlushLog()
{
    logIdleTimer.stop();
    logPtr->FlushLog();
    noteLogState();
    // Kept lines are tried again after a while even when no new line comes.
    if (logPtr->pending() > 0)
        logIdleTimer.start(logIdleMs);
}

void Peer::noteLogState()
{
    const QString problem = logPtr->lastProblem();
    // The flag changes before the line is shown: that line reaches the log as well and
    // must not tell the same thing again.
    if (!logOff && !problem.isEmpty()) {
        logOff = true;
        ctx.AddText(QStringLiteral("*** Logging Off : ") + problem, StatusLine);
    } else if (logOff && problem.isEmpty()) {
        logOff = false;
        const qint64 lost = logPtr->takeDropped();
        ctx.AddText(lost ? QStringLiteral("*** Logging Resumed : %1 lines lost").arg(lost)
                         : QStringLiteral("*** Logging Resumed"),
                    StatusLine);
    }
}
