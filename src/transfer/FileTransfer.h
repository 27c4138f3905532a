#pragma once
#include "core/TransferEndCode.h"
#include "platform/EventSocket.h"
#include "transfer/CommandReader.h"
#include "transfer/Prompts.h"
#include "transfer/TargetFile.h"
#include "util/FileHasher.h"

#include <QElapsedTimer>
#include <QFile>
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
    int blockMs = 60000;     // one block leaving the data socket
    int gotAllMs = 60000;    // "Got All" after the last block
    int cancelAckMs = 60000; // "CANC_OKAY" after our "CANC_TRAN"
    int closeMs = 60000;     // the peer closing the command connection after "END_TRANS"
    int idleMs = 60000;      // receiver: the sender going quiet before the end of the file
    int kpsMs = 1000;        // rate, elapsed and time-left refresh
    int viewMs = 100;        // at most one viewChanged() per this many ms
    int quietMs = 300;       // a "RESUME_TR" offset ends after this long without more digits...
    int offsetWaitMs = 5000; // ...or this long while its digits cannot be a whole resume offset
    int commandGapMs = 100;  // at least this long between two commands we send
    int dataGoneMs = 2000;   // sender: "Got All" still awaited this long once the data connection went
    int tokenMs = 10000;     // a connection to a transfer port has this long to prove the token
    int byeMs = 1000;        // after the user's Disconnect, the peer closing the control connection
};

// What a transfer window shows, built on demand from the transfer's state.
struct TransferView {
    QString title; // "Sending", "Receiving" or "Resume Receiving"
    QString userlabel;
    QString FnameLabel;
    QString SizeLabel;
    QString TotalLabel;
    QString status;
    QString pctlabel;
    QString KPSlabel;
    QString Elapsed;
    QString TimeLeft;
    int progressMaximum = 0; // scaled so that sizes past 2 GiB fit an int
    int progressValue = 0;
    bool progressVisible = false;
    bool visible = false; // the sender's window stays hidden until the receiver answers
    bool running = true;  // false once finished (the close box may close the view then)
};

// One file moving to or from the peer: the command connection (sckSystem), the data connection
// (sckSend or sckReceive), the open file, the block loop and the outcome line. Created and
// started by TransferManager (startsend / receivefile); it ends on its own and emits finished()
// once, after which TransferManager deletes it on the next event-loop turn. A view (TransferWindow) shows
// view() whenever viewChanged() fires and calls requestCancel() for its Cancel button.
class FileTransfer : public QObject {
    Q_OBJECT
public:
    enum Type { Sending, Receiving };

    // The fields a starter fills before go().
    struct Setup {
        Type type = Sending;
        QString name;       // NameOfFile: the offered name (sender: wire form) / the local file name
        QString path;       // PathToFile: the file to read (sender) / the target folder (receiver)
        QString root;       // receiver: the download folder the target folder lies in
        QString hostIP;     // the peer's address as the control connection sees it
        quint16 port = 0;   // P: command port; data on P + 1
        QString userName;   // remoteName
        qint64 size = 0;    // receiver: the offered size
        qint64 block = 512; // receiver: the offered block size (resume offsets)
        ExistingFileChoice existsChoice = ExistingFileChoice::None; // receiver
        QString newName;                                            // receiver: the typed name for TypedName
        QString queuedName; // sender: the name as queued (local form), for putting it back
        // Between two peers of this program (docs/protocol.md):
        bool verify = false; // the whole file's checksums are compared before "Complete"
        QByteArray token;    // 32 hexadecimal digits both transfer connections prove; empty: none
#ifdef ZANTIRO_TEST_HOOKS
        qint64 testFlipByteAt = -1; // receiver: this byte is written inverted
#endif
    };

    // The session carries "FTIMEOUT" when the sender gives up; prompts ask "Cancel Send?".
    FileTransfer(PeerState& ctx, Session& session, Prompts& prompts, const Setup& setup,
                 const TransferTimeouts& timeouts, QObject* parent = nullptr);
    ~FileTransfer() override;

    // Starts the transfer as the setup says.
    void go();

    Type type() const
    {
        return setup.type;
    }
    // The current texts and progress for a view.
    TransferView view() const;

    // The Cancel button: asks "Cancel Send?" through the prompts and cancels on Yes.
    void requestCancel();
    // Cancels at once (the user already said Yes).
    void cancelConfirmed();
    // Ends now, as the program leaves: the peer is told "CANC_TRAN" as by Cancel, but no
    // answer is awaited. The outcome is "Canceled".
    void abandon();

    bool isFinished() const
    {
        return phase == Phase::Closed;
    }
    // Sender: the offer is out and the receiver has not answered yet.
    bool awaitingAnswer() const
    {
        return phase == Phase::Listening || phase == Phase::Accepted;
    }
    // After finished(): whether every byte moved and the peer confirmed it.
    bool complete() const
    {
        return completeFlag;
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
        return putBackFlag;
    }
    // After finished(): the queue should stop (cancel by either user).
    bool stopQueue() const
    {
        return stopQueueFlag;
    }

    QString nameOfFile() const
    {
        return NameOfFile;
    }
    QString pathToFile() const
    {
        return PathToFile;
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
    qint64 blocksSent() const
    {
        return blockCount;
    } // sender: blocks handed to the data socket
    qint64 resumeSize() const
    {
        return resumeAt;
    }
    // Receiver, after finished(): removes the file and folders this transfer created when it
    // ended before any data.
    void discardUnusedTarget()
    {
        target.discardUnused();
    }

Q_SIGNALS:
    // The texts or progress changed. Progress is announced at most every
    // TransferTimeouts::viewMs; a change of state (status, title, visibility) at once.
    void viewChanged();
    // The transfer ended; the outcome line has been written.
    void finished();

private:
    // Where the transfer stands. Sender: Listening, Accepted, Sending, AwaitingGotAll,
    // Finished; receiver: Connecting, Receiving; either: Cancelling, then Closed.
    enum class Phase {
        Listening,      // command port open; "Waiting For Connection..."
        Accepted,       // the receiver's command connection is in; "Waiting On Receiver..."
        Sending,        // answered: the data connection and the blocks
        AwaitingGotAll, // the last block has left
        Finished,       // "END_TRANS" sent; the receiver closes
        Connecting,     // receiver: reaching the sender's command port
        Receiving,      // receiver: answered; the data arrives
        Verifying,      // receiver: "END_TRANS" came; the file's checksum is being finished
        Cancelling,     // our "CANC_TRAN" is out; "CANC_OKAY" or a close ends it
        Closed,         // ended, the outcome written
    };

    // Sender
    void startSending();
    void onAnswer(bool resume, const QByteArray& offset);
    bool offsetPlausible(const QByteArray& digits) const;
    void onSendConnected();
    void sendNextBlock();
    void onBlockWritten();
    void lastBlockSent();
    void sendEnd();
    // Receiver
    void startReceiving();
    void onSystemConnected();
    void answerSender();
    void onDataArrived();
    bool openTarget(QString& problem);
    // Checksums (both sides share "verify", the file is not empty)
    bool verifying() const
    {
        return setup.verify && size > 0;
    }
    // A checksum passed for this file ("CHECK_SUM" sent or received): only then the verdict
    // decides. A sender that offered before it knew the receiver's "caps:" sends none.
    bool checked() const
    {
        return verifying() && !peerSum.isEmpty();
    }
    void onChecksum(const QString& checksum, const QString& problem);
    void verdict(bool same, const QString& problem = {});
    // The connection that proved the token (or the first from the peer's address) is ours.
    void streamIn();
    // Both
    // A connection request on our listening port: the first from the peer's address becomes
    // the stream; others from elsewhere are turned away; a second one stops the transfer.
    void onListenerRequest(int requestId);
    void onCommands();
    void onSystemClosed();
    void onDataClosed();
    void onSocketError(const QString& tag, const QString& where, int number, const QString& description);
    // The data connection went away before its time.
    void dataLost(bool reset);
    void dataEndedBeforeGotAll(bool reset);
    void onTimeOut();
    void onWaitOver();
    void onEndCodeChanged(TransferEndCode code);
    // The control connection closed: ends the wait after our "bye", or an offer still unanswered.
    void onControlClosed();
    void onKpsTick();
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
    void emitView();
    // Commands go out one per write and at least commandGapMs apart, so that a peer that
    // takes each received chunk as one command never sees two glued together.
    void sendCommand(const QByteArray& command);
    void onCommandGap();
    void startWait(int ms);
    bool ending() const
    {
        return phase == Phase::Cancelling || phase == Phase::Closed;
    }

    PeerState& ctx;
    Session& session;
    Prompts& prompts;
    Setup setup;
    TransferTimeouts timeouts;
    Phase phase;

    EventSocket listener; // sender: the command port P; receiver: the data port P + 1
    EventSocket sckSystem;
    EventSocket sckData;      // sckSend on the sender, sckReceive on the receiver
    bool streamTaken = false; // the listener has handed over its one connection
    CommandReader reader;
    QFile file;
    TargetFile target; // receiver: how the file was opened, what was created for it

    QString NameOfFile;
    QString PathToFile; // sender: file path; receiver: target folder ending in "/"
    QString title;
    QString status;
    qint64 size = 0;      // sizeOfFile
    qint64 done = 0;      // sizeOfFileSent
    qint64 totalsent = 0; // bytes moved in this run
    qint64 resumeAt = 0;
    qint64 blockSizeUsed = 1;
    qint64 offerBlock = 512; // the block size named in our offer (resume offsets are its multiples)
    qint64 blockCount = 0;
    qint64 secondsElapsed = 0;
    bool dataStarted = false; // the data phase began (labels show counts)
    bool visibleFlag = false;
    bool blockInFlight = false;
    bool gotAll = false;   // sender: "Got All" arrived
    bool dataGone = false; // sender: the data connection ended while "Got All" was awaited
    bool dataGoneByReset = false;
    bool gotAllSent = false; // receiver
    bool endCame = false;    // receiver: "END_TRANS" came while receiving
    TransferEndCode cancelCode = TransferEndCode::Canceled;
    bool completeFlag = false;
    bool putBackFlag = false;
    bool stopQueueFlag = false;
    bool noRetry = false; // a fault that offering again cannot mend
    bool spoiled = false; // stopped by a fault of the transfer itself: never complete
    TransferEndCode finalEndCode = TransferEndCode::None;
    QString outcome;
    double kbps = 0.1;
    Prompts::Id cancelQuestion = 0;
    bool askingCancel = false;

    QTimer timeOutTimer; // TimeOutTimer
    QTimer waitTimer;    // the bound of the current phase (block, "Got All", "CANC_OKAY", close, idle)
    QTimer kpsTimer;     // kpstimer
    QTimer viewTimer;    // throttles viewChanged()
    QTimer burstTimer;   // continues the block loop on the next turn
    QTimer gapTimer;     // spaces our commands
    QTimer byeTimer;     // after the user's Disconnect: bounds the wait for the peer's close
    QList<QByteArray> outbox;
    QByteArray buffer; // the block being sent, reused
    bool viewDirty = false;

    FileHasher hasher; // the checksum of our side's file, read on a worker
    // From byte 0: the checksum of the blocks as they are sent (sender) or written (receiver).
    std::unique_ptr<StreamChecksum> streamSum;
    std::unique_ptr<TokenGate> gate; // with a token: where connections to our port wait
    QString ownSum;                  // sender: our checksum, once done
    bool ownSumDone = false;
    QString sumProblem;        // receiver: why our checksum could not be computed
    QString peerSum;           // the checksum in "CHECK_SUM" (received, or sent by us)
    bool sumSent = false;      // sender: "CHECK_SUM" is out (or could not be)
    bool endAwaitsSum = false; // sender: "END_TRANS" waits for our checksum
    bool verified = false;     // the receiver found the same checksum
};
