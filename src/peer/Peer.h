#pragma once
#include "core/PeerState.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class FileQueue;
class Session;
class TranscriptLog;
class TransferManager;

// One running peer: its shared state, the control session, the transfer side, the file
// queue and the transcript log, created in that order, each handed the parts below
// it. The window and the headless peer are front ends over one Peer; a test runs two.
class Peer : public QObject {
    Q_OBJECT
public:
    // programFolder is where "qvcfg.cfg", "log" and "download" live.
    explicit Peer(const QString& programFolder, QObject* parent = nullptr);
    // Writes out the log lines still buffered.
    ~Peer() override;

    PeerState& state() { return sharedState; }
    Session& session() { return *controlSession; }
    TransferManager& transfers() { return *transferManager; }
    FileQueue& queue() { return *fileQueue; }

    // Every shown line goes to the transcript log, which is written in batches and whenever
    // no line has come for logIdleMs. When the log cannot be written, one status line
    // "*** Logging Off : " says why; the lines stay buffered (up to the log's size limit), a
    // write is tried again every logIdleMs, and the first that succeeds says
    // "*** Logging Resumed". The panes keep every line.
    TranscriptLog& transcriptLog() { return *logFile; }
    bool loggingOff() const { return logOff; }
    // Writes out the buffered log lines (at exit; the destructor does it too).
    void flushLog();
    int logIdleMs = 2000;

    // Leaves as a user who quits: a running transfer or an offer being decided is canceled
    // (the peer is told), "bye" goes to a connected peer and nothing reconnects. left() fires
    // once, when the last bytes are on their way or after leaveMs, whichever comes first.
    void leave();
    int leaveMs = 2000;

Q_SIGNALS:
    void left();

private:
    void logLine(const QString& text);
    // Tells the start and the end of an outage, once each.
    void noteLogState();

    PeerState sharedState;
    std::unique_ptr<TranscriptLog> logFile;
    std::unique_ptr<Session> controlSession;
    std::unique_ptr<TransferManager> transferManager;
    std::unique_ptr<FileQueue> fileQueue;
    QTimer logIdleTimer;
    bool logOff = false;
    // Running until leave(); Leaving until left() has fired, then Left.
    enum class LeavePhase { Running, Leaving, Left };
    LeavePhase leavePhase = LeavePhase::Running;
};
