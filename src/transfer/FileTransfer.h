#pragma once
#include "core/TransferEndCode.h"
#include "platform/EventSocket.h"
#include "transfer/CommandReader.h"
#include "transfer/ExistingFileChoice.h"
#include "transfer/Prompts.h"
#include "transfer/TransferActivity.h"
#include "transfer/TransferChecksum.h"
#include "util/FileSystem.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class PeerState;
class TokenGate;
class Session;

// The bounds of a transfer's waits, shortened by tests.
struct TransferTimeouts {
    int acceptMs = 60000;    // from start until the receiver answers (sender) / answers (receiver)
    int blockMs = 60000;     // sender: some of the piece in flight leaving the data socket
    int gotAllMs = 60000;    // "Got All" after the last block
    int cancelAckMs = 60000; // "CANC_OKAY" after our "CANC_TRAN"
    int closeMs = 60000;     // the peer closing the command connection after "END_TRANS"
    int idleMs = 60000;      // receiver: the sender going quiet before the end of the file
    int kpsMs = 1000;        // rate, elapsed and time-left refresh
    int viewMs = 250;        // at most one viewChanged() per this many ms: progress a few times a second
    int quietMs = 300;       // a "RESUME_TR" offset ends after this long without more digits...
    int offsetWaitMs = 5000; // ...or this long while its digits cannot be a whole resume offset
    int commandGapMs = 100;  // at least this long between two commands we send
    int dataGoneMs = 2000;   // sender: "Got All" still awaited this long once the data connection went
    int tokenMs = 10000;     // a connection to a transfer port has this long to prove the token
    int byeMs = 1000;        // after the user's Disconnect, the peer closing the control connection
};

// One file moving to or from the peer: the command connection, the data connection, the open
// file and the outcome line. This is what both directions share (the view, the command
// outbox, the timers, cancelling and the outcome); FileSender and FileReceiver add the rest.
// Created and started by TransferManager; it ends on its own and emits finished() once,
// after which TransferManager deletes it on the next event-loop turn. A view
// (TransferWindow) shows view() whenever viewChanged() fires and calls requestCancel() for
// its Cancel button.
class FileTransfer : public TransferActivity {
    Q_OBJECT
public:
    enum Type { Sending, Receiving };

    // The fields a starter fills before start().
    struct Setup {
        QString name;       // the offered name (sender: wire form) / the local file name
        QString path;       // the file to read (sender) / the target folder (receiver)
        QString root;       // receiver: the download folder the target folder lies in
        QString hostIP;     // the peer's address as the control connection sees it
        quint16 port = 0;   // the command port; data on port + 1
        QString userName;   // the peer's user name
        qint64 size = 0;    // receiver: the offered size
        qint64 block = 512; // receiver: the offered block size (resume offsets)
        ExistingFileChoice existsChoice = ExistingFileChoice::None; // receiver
        QString newName;                                            // receiver: the typed name for TypedName
        QString queuedName; // sender: the name as queued (local form), for putting it back
        // Between two peers of this program (docs/protocol.md):
        bool verify = false; // the whole file's checksums are compared before "Complete"
        QByteArray token;    // 32 hexadecimal digits both transfer connections prove; empty: none
        // Offered with "frun": after a complete file both connections stay open for a run.
        bool run = false;
        // Private sessions: both connections run TLS and must present the control peer's key.
        QSslConfiguration tls;
        QByteArray peerKey;
#ifdef ZANTIRO_TEST_HOOKS
        qint64 testFlipByteAt = -1; // receiver: this byte is written inverted
#endif
    };

    ~FileTransfer() override;

    // Starts the transfer as the setup says.
    void start();

    virtual Type type() const = 0;
    TransferView view() const override;
    void cancelConfirmed() override;
    // Ends now, as the program leaves: the peer is told "CANC_TRAN" as by Cancel, but no
    // answer is awaited. The outcome is "Canceled".
    void abandon();

    bool isFinished() const override
    {
        return stage == Stage::Closed;
    }
    // Sender: the offer is out and the receiver has not answered yet.
    virtual bool awaitingAnswer() const
    {
        return false;
    }
    // After finished(): whether every byte moved and the peer confirmed it.
    bool complete() const
    {
        return wasComplete;
    }
    // The end code the transfer ended with.
    TransferEndCode endCode() const
    {
        return finalEndCode;
    }
    // The outcome line written (empty when none was written).
    QString outcomeLine() const
    {
        return outcome;
    }
    // After finished(): the sender's file should be offered again (put back at the front).
    bool putBack() const
    {
        return offerAgain;
    }
    // After finished(): the queue should stop (cancel by either user).
    bool stopQueue() const
    {
        return queueStops;
    }

    // After finished(): the file was complete and both connections stayed open for a run of
    // files, which takes them over with handOverConnections().
    bool keptForRun() const
    {
        return keepConnections;
    }
    void handOverConnections(EventSocket& command, EventSocket& data)
    {
        commandSocket.moveTo(command);
        dataSocket.moveTo(data);
    }
    const Setup& transferSetup() const
    {
        return setup;
    }
    // The words of an outcome line for an end code ("Canceled By Receiver", ...).
    static QString reasonText(TransferEndCode code);

    QString nameOfFile() const
    {
        return fileName;
    }
    QString pathToFile() const
    {
        return filePath;
    }
    QString queuedName() const
    {
        return setup.queuedName;
    }
    qint64 sizeOfFile() const
    {
        return size;
    }
    qint64 sizeOfFileSent() const
    {
        return done;
    }
    qint64 resumeSize() const
    {
        return resumeAt;
    }

protected:
    // The session carries "FTIMEOUT" when the sender gives up; prompts ask "Cancel Send?".
    FileTransfer(PeerState& state, Session& session, Prompts& prompts, const Setup& setup,
                 const TransferTimeouts& timeouts, QObject* parent);

    // Where the transfer stands as a whole; each side keeps its own phase while Running.
    enum class Stage {
        Running,
        Cancelling, // our "CANC_TRAN" is out; "CANC_OKAY", a close or the bound ends it
        Closed,     // ended, the outcome written
    };

    // What each side does.
    virtual void begin() = 0;
    virtual void receiveCommand(const CommandReader::Command& command) = 0;
    // The connection our listener took (and that proved the token, when there is one).
    virtual EventSocket& streamSocket() = 0;
    virtual void onStreamTaken() = 0;
    virtual void onDataClosed() = 0;
    // The bound of the current phase ran out (Running only).
    virtual void waitOver() = 0;
    virtual void onChecksum(const QString& checksum, const QString& problem) = 0;
    // An error on the data connection the side deals with itself (true: dealt with).
    virtual bool dataErrorHandled(int number) = 0;
    // An orderly end of the command connection is expected now (a reset is no error).
    virtual bool closeExpected() const = 0;
    // The command connection closed while the side still has to decide (true: it does).
    virtual bool decidesOnClose() const
    {
        return false;
    }
    // Whether every byte moved and the peer took it (asked as the transfer closes).
    virtual bool everyByteConfirmed() const = 0;
    // The transfer ended incomplete with `code`: what else the side tells the queue and the peer.
    virtual void onIncomplete(TransferEndCode /*code*/)
    {}
    // Stops what the side runs on its own (its block loop) as a cancel starts or the end comes.
    virtual void stopSide()
    {}

    bool running() const
    {
        return stage == Stage::Running;
    }
    Prompts& cancelPrompts() override
    {
        return prompts;
    }
    bool cancellable() const override
    {
        return !ending();
    }
    bool ending() const
    {
        return stage != Stage::Running;
    }
    // Both sides share "verify" and the file is not empty.
    bool verifying() const
    {
        return setup.verify && size > 0;
    }
    // A checksum passed for this file ("CHECK_SUM" sent or received): only then the verdict
    // decides. A sender that offered before it knew the receiver's "caps:" sends none.
    bool checked() const
    {
        return verifying() && !checksum.peer.isEmpty();
    }

    // The one connection on our listening port becomes the stream.
    void onListenerRequest(int requestId);
    void streamIn();
    void requireToken(EventSocket& socket, const QByteArray& proof);
    // Connections to our port must prove the token, or (private) pass the TLS key check, or both.
    bool guarded() const
    {
        return !setup.token.isEmpty() || !setup.tls.isNull();
    }
    void onCommands();
    void onCommandClosed();
    void onSocketError(bool data, const QString& tag, const QString& where, int number, const QString& description);
    // The data connection went away before its time.
    void dataLost(bool reset);
    void startCounting();
    void onRateTick();
    // A local file fault: error line, then the peer is told to stop (it is not retried).
    void fileError(const QString& problem);
    // An error of the transfer itself: the line, then both connections end with a reset so
    // that the peer stops too.
    void stopWithError(const QString& line);
    void startCancel(TransferEndCode code);
    void end(TransferEndCode code);
    void finish();
    // Marks the view changed; progress is announced at most every viewMs, state changes
    // (urgent) at once.
    void touch(bool urgent = false);
    // Commands go out one per write and at least commandGapMs apart, so that a peer that
    // takes each received chunk as one command never sees two glued together.
    void sendCommand(const QByteArray& command);
    void sendNextQueuedCommand();
    // The peer is ready for our next command now: the queued one goes without waiting.
    void sendQueuedCommandNow();
    // The last word on the command connection: sent now, whatever the spacing of commands.
    void sendAtOnce(const QByteArray& command);
    void startWait(int ms)
    {
        waitTimer.start(ms);
    }

    PeerState& state;
    Session& session;
    Prompts& prompts;
    const Setup setup;
    const TransferTimeouts timeouts;
    Stage stage = Stage::Running;

    EventSocket listener;      // sender: the command port; receiver: the data port
    EventSocket commandSocket; // "ACCEPT_TR", "Got All", "END_TRANS", ...
    EventSocket dataSocket;    // the file's bytes
    bool streamTaken = false;  // the listener has handed over its one connection
    CommandReader reader;
    FileSystem::RegularFile file;
    TransferChecksum checksum;
    std::unique_ptr<TokenGate> gate; // with a token: where connections to our port wait

    QString fileName;
    QString filePath; // sender: file path; receiver: target folder ending in "/"
    QString title;
    QString status;
    qint64 size = 0;
    qint64 done = 0;         // bytes of the file that are through (resumed ones included)
    qint64 movedThisRun = 0; // bytes moved by this transfer, for the rate
    qint64 resumeAt = 0;
    qint64 secondsElapsed = 0;
    bool dataStarted = false; // the data phase began (labels show counts)
    bool windowVisible = false;
    bool noRetry = false; // a fault that offering again cannot mend
    bool spoiled = false; // stopped by a fault of the transfer itself: never complete
    bool offerAgain = false;
    bool queueStops = false;
    bool keepConnections = false; // a run of files takes them over

    QTimer timeOutTimer; // until the peer has answered
    QTimer waitTimer;    // the bound of the current phase (block, "Got All", "CANC_OKAY", close, idle)
    QTimer rateTimer;    // rate, elapsed and time left

private:
    void emitView();
    void onWaitTimer();
    void onTimeOut();
    void onEndCodeChanged(TransferEndCode code);
    // The control connection closed: ends the wait after our "bye", or an offer still unanswered.
    void onControlClosed();
    // Sets the outcome line and the queue's instructions from the end code.
    void writeOutcome(TransferEndCode code);

    TransferEndCode cancelCode = TransferEndCode::Canceled;
    bool wasComplete = false;
    TransferEndCode finalEndCode = TransferEndCode::None;
    QString outcome;
    double kilobytesPerSecond = 0.1;
    QTimer viewTimer; // throttles viewChanged()
    QTimer gapTimer;  // spaces our commands
    QTimer byeTimer;  // after the user's Disconnect: bounds the wait for the peer's close
    QList<QByteArray> outbox;
    bool viewDirty = false;
};
