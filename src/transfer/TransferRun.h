#pragma once
#include "platform/EventSocket.h"
#include "transfer/FileTransfer.h"
#include "transfer/Prompts.h"
#include "transfer/TargetFile.h"
#include "transfer/TransferActivity.h"
#include "transfer/TransferChecksum.h"
#include "transfer/TransferOutcome.h"

#include <QElapsedTimer>
#include <QHash>
#include <QTimer>

#include <deque>
#include <memory>

class PeerState;
class Session;

// A run of files between two peers of this program that both announced "run": the command
// and data connections of a finished transfer stay open, and the next files of the same queue
// run go over them without new connections, new TLS sessions or listeners
// (docs/protocol.md, "run"). Offers, answers and each file's end are numbered lines on the
// command connection; the data connection carries the accepted files' bytes back to back, in
// the order they were accepted, each from its resume offset to its size.
//
// Each file is still offered, decided and verified on its own and ends with its own outcome
// line; the next offers go out while earlier files are still moving, so there is no pause
// between files. A window shows the run as one transfer.
class TransferRun : public TransferActivity {
    Q_OBJECT
public:
    // The bounds of a run's waits, shortened by tests.
    struct Limits {
        int quietMs = 60000;               // nothing moved while something was awaited: the run ends
        int idleMs = 3000;                 // sender: nothing left to offer this long, the run closes
        int viewMs = 250;                  // at most one viewChanged() per this many ms
        int window = 128;                  // sender: offers out and not yet ended
        int linesPerWrite = 32;            // lines that go out at once, before the turn ends
        int maxLine = 65536;               // the longest command line read
        qint64 piece = qint64{256} * 1024; // bytes handed to the data connection at a time
        // Our lines the peer has not taken: more end the run (a peer that never reads).
        qint64 maxUnsent = qint64{1} << 20;
    };

    ~TransferRun() override;

    virtual bool sending() const = 0;
    // Takes over the two connections of the transfer that opened the run, and starts.
    void start(FileTransfer& opener);
    bool isFinished() const override { return closed; }

    TransferView view() const override;
    // The peer is told, the run ends.
    void cancelConfirmed() override;
    // Ends now, as the program leaves.
    void abandon();
    // Ends now without telling the peer (the login it belongs to is over): the file moving
    // ends with `code`, the others go back to the queue.
    void endNow(TransferEndCode code) { end(code); }

    Limits limits;

Q_SIGNALS:
    // One file of the run ended (its outcome line is written), or went back to the queue.
    void fileEnded(const TransferOutcome& outcome);

protected:
    TransferRun(PeerState& state, Session& session, Prompts& prompts, const FileTransfer::Setup& setup,
                const TransferTimeouts& timeouts, QObject* parent);

    Prompts& cancelPrompts() override { return prompts; }
    bool cancellable() const override { return !closed; }
    // One command line from the peer (without its "\n") other than "CANCEL", cut into its fields.
    virtual void receiveLine(const QByteArray& line, const QList<QByteArray>& field) = 0;
    // The peer broke the protocol with `line`: the run breaks with an error line showing it.
    void unexpected(const QByteArray& line);
    virtual void receiveData() = 0;
    // Files are on their way: a close now breaks them.
    virtual bool awaiting() const = 0;
    // The run ends: what each file still in it becomes. `code` is the end code of the file
    // that was moving; `line` an error line written first when not empty.
    virtual void endFiles(TransferEndCode code) = 0;
    // The connections are taken over and the run has begun.
    virtual void begun() {}

    // Queues one command line; the lines of one turn of the event loop go out in one write.
    void sendLine(const QByteArray& line);
    // beforeFlush() and the lines' write come once this turn of the event loop is over.
    void atTurnEnd();
    // What goes out at the end of a turn before its lines.
    virtual void beforeFlush() {}
    void flushLines();
    // Something moved: the quiet bound starts again.
    void progressed();
    // The run breaks with this error line (the peer broke the protocol, a connection failed).
    void fail(const QString& line, TransferEndCode code = TransferEndCode::StoppedByError);
    // The run ends: files still in it end with `code`, the connections close.
    void end(TransferEndCode code);
    void touch(bool urgent = false);
    void writeOutcome(const QString& name, qint64 fileSize, TransferEndCode code, bool complete);
    // The file of the run numbered `number`, or nullptr.
    template <class File>
    static File* numbered(const std::deque<std::unique_ptr<File>>& files, quint64 number)
    {
        for (const auto& f : files)
            if (f->number == number)
                return f.get();
        return nullptr;
    }
    static QByteArray numberText(quint64 n) { return QByteArray::number(n); }
    // A line from the peer as an error line shows it: one line, at most 80 characters.
    static QString shown(const QByteArray& line);

    PeerState& state;
    Session& session;
    Prompts& prompts;
    const FileTransfer::Setup setup;
    const TransferTimeouts timeouts;
    EventSocket commandSocket;
    EventSocket dataSocket;
    bool closed = false;
    bool cancelled = false; // our side's cancel: the peer has been told
    bool peerGone = false;  // the login with the peer ended: the run ends as disconnected

    // For the view: the file now moving.
    QString currentName;
    qint64 currentSize = 0;
    qint64 currentDone = 0;
    qint64 moved = 0;   // bytes moved by the run
    int filesEnded = 0; // files of the run that ended, for the view

private:
    void onCommandBytes();
    void takeLine(const QByteArray& line);
    void onClosed(bool data);
    void onError(bool data, int number, const QString& text);
    void onQuiet();

    QByteArray inbox;
    QByteArray outbox;
    QTimer flushTimer;
    QTimer moreTimer;      // takes the lines that came while ours were sent
    bool flushing = false; // our lines are being sent
    int outboxLines = 0;
    QTimer quietTimer;
    QTimer viewTimer;
    bool viewDirty = false;
    QElapsedTimer clock;
    qint64 lastMove = 0; // on `clock`: when something last moved
};
