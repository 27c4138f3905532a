#pragma once
#include "platform/EventSocket.h"
#include "transfer/CommandReader.h"
#include "transfer/Prompts.h"
#include "transfer/TargetFile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

class Context;
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
    int quietMs = 50;        // a "RESUME_TR" offset ends after this long without more digits
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
// started by Transfers (startsend / receivefile); it ends on its own and emits finished()
// once, after which Transfers deletes it on the next event-loop turn. A view (FileBase) shows
// view() whenever viewChanged() fires and calls requestCancel() for its Cancel button.
class FileTransfer : public QObject {
    Q_OBJECT
public:
    enum Type { Sending, Receiving };

    // The fields a starter fills before go().
    struct Setup {
        Type type = Sending;
        QString name;     // NameOfFile: the offered name (sender: wire form) / the local file name
        QString path;     // PathToFile: the file to read (sender) / the target folder (receiver)
        QString root;     // receiver: the download folder the target folder lies in
        QString hostIP;   // the peer's address as the control connection sees it
        quint16 port = 0; // P: command port; data on P + 1
        QString userName; // RemoteName
        qint64 size = 0;  // receiver: the offered size
        qint64 block = 512; // receiver: the offered block size (resume offsets)
        int existsChoice = 0; // receiver: 0 new, 1 overwrite, 2 resume, 3 numbered name, 4 typed name
        QString newName;      // receiver: the typed name for choice 4
        QString queuedName;   // sender: the name as queued (local form), for putting it back
    };

    // The session carries "FTIMEOUT" when the sender gives up; prompts ask "Cancel Send?".
    FileTransfer(Context& ctx, Session& session, Prompts& prompts, const Setup& setup,
                 const TransferTimeouts& timeouts, QObject* parent = nullptr);
    ~FileTransfer() override;

    // Starts the transfer as the setup says.
    void go();

    Type type() const { return setup.type; }
    // The current texts and progress for a view.
    TransferView view() const;

    // The Cancel button: asks "Cancel Send?" through the prompts and cancels on Yes.
    void requestCancel();
    // Cancels at once (the user already said Yes).
    void cancelConfirmed();
    // Ends now, as the program leaves: the peer is told "CANC_TRAN" as by Cancel, but no
    // answer is awaited. The outcome is "Canceled".
    void abandon();

    bool isFinished() const { return finishedFlag; }
    // After finished(): whether every byte moved and the peer confirmed it.
    bool complete() const { return completeFlag; }
    // The end code the transfer ended with.
    int endCode() const { return finalEndCode; }
    // The outcome line written (empty when none was written).
    QString outcomeLine() const { return outcome; }
    // After finished(): the sender's file should be offered again (put back at the front).
    bool putBack() const { return putBackFlag; }
    // After finished(): the queue should stop (cancel by either user).
    bool stopQueue() const { return stopQueueFlag; }

    QString nameOfFile() const { return NameOfFile; }
    QString pathToFile() const { return PathToFile; }
    QString queuedName() const { return setup.queuedName; }
    qint64 sizeOfFile() const { return size; }
    qint64 sizeOfFileSent() const { return done; }
    qint64 blocksSent() const { return blockCount; } // sender: blocks handed to the data socket
    qint64 resumeSize() const { return resumeAt; }
    // Receiver, after finished(): removes the file and folders this transfer created when it
    // ended before any data.
    void discardUnusedTarget() { target.discardUnused(); }

Q_SIGNALS:
    // The texts or progress changed. Progress is announced at most every
    // TransferTimeouts::viewMs; a change of state (status, title, visibility) at once.
    void viewChanged();
    // The transfer ended; the outcome line has been written.
    void finished();

private:
    // What waitTimer is bounding.
    enum class Wait { None, Block, GotAll, CancelAck, Close, Idle };

    // Sender
    void startSending();
    void onSystemRequest(int requestId);
    void onAnswer(bool resume, const QByteArray& offset);
    void onSendConnected();
    void sendNextBlock();
    void onBlockWritten();
    void lastBlockSent();
    void sendEnd();
    // Receiver
    void startReceiving();
    void onSystemConnected();
    void onReceiveRequest(int requestId);
    void answerSender();
    void onDataArrived();
    bool openTarget(QString& problem);
    // Both
    // True when the connection just accepted comes from the peer's address; otherwise drops
    // it and listens again.
    bool fromPeer(EventSocket& socket);
    void onCommands();
    void onSystemClosed();
    void onSocketError(const QString& tag, const QString& where, int number, const QString& description);
    void onTimeOut();
    void onWaitOver();
    void onEndCodeChanged(int code);
    void onKpsTick();
    // A local file fault: error line, then the peer is told to stop (it is not retried).
    void fileError(const QString& problem);
    void startCancel(int code);
    void completeCancel();
    void end(int code);
    void finish();
    // Marks the view changed; progress is announced at most every viewMs, state changes
    // (urgent) at once.
    void touch(bool urgent = false);
    void emitView();
    void sendCommand(const QByteArray& command);
    void startWait(Wait what, int ms);

    Context& ctx;
    Session& session;
    Prompts& prompts;
    Setup setup;
    TransferTimeouts timeouts;

    EventSocket sckSystem;
    EventSocket sckData; // sckSend on the sender, sckReceive on the receiver
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
    qint64 blockCount = 0;
    qint64 secondsElapsed = 0;
    bool started = false; // the data phase began (labels show counts)
    bool answered = false; // sender: the receiver's answer arrived
    bool visibleFlag = false;
    bool dataConnected = false;
    bool blockInFlight = false;
    bool gotAll = false;
    bool gotAllSent = false;
    bool closing = false;
    bool cancelling = false;
    int cancelCode = 5;
    bool finishedFlag = false;
    bool completeFlag = false;
    bool putBackFlag = false;
    bool stopQueueFlag = false;
    bool noRetry = false; // a fault that offering again cannot mend
    int finalEndCode = 0;
    QString outcome;
    double kbps = 0.1;
    Prompts::Id cancelQuestion = 0;
    bool askingCancel = false;

    QTimer timeOutTimer; // TimeOutTimer
    QTimer waitTimer;    // block, "Got All", "CANC_OKAY" and close waits
    Wait waiting = Wait::None;
    QTimer kpsTimer;     // kpstimer
    QTimer viewTimer;    // throttles viewChanged()
    QTimer burstTimer;   // continues the block loop on the next turn
    QByteArray buffer;   // the block being sent, reused
    bool viewDirty = false;
};
