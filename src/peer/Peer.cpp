#include "peer/Peer.h"

#include "queue/FileQueue.h"
#include "session/Session.h"
#include "transfer/TransferManager.h"
#include "util/TranscriptLog.h"

#include <QTimer>

Peer::Peer(const QString& programFolder, QObject* parent)
    : QObject(parent), sharedState(programFolder),
      logFile(std::make_unique<TranscriptLog>(sharedState.options, sharedState.programFolder)),
      controlSession(std::make_unique<Session>(sharedState)),
      transferManager(std::make_unique<TransferManager>(sharedState, *controlSession)),
      fileQueue(std::make_unique<FileQueue>(sharedState, *controlSession, *transferManager))
{
    connect(&sharedState, &PeerState::lineToLog, this, &Peer::logLine);
    logIdleTimer.setSingleShot(true);
    connect(&logIdleTimer, &QTimer::timeout, this, &Peer::flushLog);
}

Peer::~Peer()
{
    fileQueue.reset();
    transferManager.reset(); // a running transfer may still withdraw its questions
    // Lines still buffered reach the file; a failure here has nobody left to tell.
    logFile->flushLog();
}

void Peer::leave()
{
    if (leavePhase != LeavePhase::Running)
        return;
    leavePhase = LeavePhase::Leaving;
    transferManager->cancelAll();
    Session& s = *controlSession;
    s.userDisconnected = true; // nothing reconnects while we leave
    if (s.isConnected())
        s.sendControlMessage(QStringLiteral("bye"));
    auto done = [this] {
        if (leavePhase == LeavePhase::Leaving) {
            leavePhase = LeavePhase::Left;
            Q_EMIT left();
        }
    };
    if (s.controlSocket.bytesToWrite() == 0) {
        QTimer::singleShot(0, this, done);
        return;
    }
    connect(&s.controlSocket, &EventSocket::sendComplete, this, done, Qt::SingleShotConnection);
    // The connection may also go away under the "bye" (the peer's own "bye" closes it
    // without a signal): look every few milliseconds, within a bound.
    auto* watch = new QTimer(this);
    connect(watch, &QTimer::timeout, this, [this, done] {
        if (!controlSession->isConnected() || controlSession->controlSocket.bytesToWrite() == 0)
            done();
    });
    watch->start(20);
    QTimer::singleShot(leaveMs, this, done);
}

void Peer::logLine(const QString& text)
{
    logFile->addLine(text);
    noteLogState();
    logIdleTimer.start(logIdleMs);
}

void Peer::flushLog()
{
    logIdleTimer.stop();
    logFile->flushLog();
    noteLogState();
    // Kept lines are tried again after a while even when no new line comes.
    if (logFile->pending() > 0)
        logIdleTimer.start(logIdleMs);
}

void Peer::noteLogState()
{
    const QString problem = logFile->lastProblem();
    // The flag changes before the line is shown: that line reaches the log as well and
    // must not tell the same thing again.
    if (!logOff && !problem.isEmpty()) {
        logOff = true;
        sharedState.addText(QStringLiteral("*** Logging Off : ") + problem, LineKind::Status);
    } else if (logOff && problem.isEmpty()) {
        logOff = false;
        const qint64 lost = logFile->takeDropped();
        sharedState.addText(lost ? QStringLiteral("*** Logging Resumed : %1 lines lost").arg(lost)
                                 : QStringLiteral("*** Logging Resumed"),
                            LineKind::Status);
    }
}
