#pragma once
#include "core/TransferEndCode.h"
#include "transfer/ChecksumExchange.h"
#include "transfer/FileTransfer.h"
#include "transfer/OfferedNames.h"
#include "transfer/Prompts.h"
#include "transfer/TransferOutcome.h"
#include "util/FileHasher.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class PeerState;
class Session;
class TransferRun;
class SendingRun;
class ReceivingRun;

// The file-transfer side of a peer: starts the one transfer at a time (startSending for
// sending, receiveOffer for each offer the session hands over), asks the questions of an
// offer through its prompts, and tells the windows and the queue what happens.
class TransferManager : public QObject {
    Q_OBJECT
public:
    TransferManager(PeerState& state, Session& session);
    ~TransferManager() override;

    // The questions of the transfer side (accept, existing file, cancel). A headless policy
    // by default; the windows install their dialogs, tests scripted answers. Install them
    // before the first offer: a running transfer keeps the prompts it started with.
    Prompts& prompts() { return *currentPrompts; }
    void setPrompts(std::unique_ptr<Prompts> prompts);

    TransferTimeouts timeouts;
    // How long an offer waits for a busy transfer to end before it is refused.
    int busyWaitMs = 60000;
    // After an offer of ours timed out, how long before the next one goes out: a refusal of
    // the old offer still on its way must not end the new one.
    int staleGraceMs = 2000;
    // Between peers that share "verify": how long the sender's checksum is awaited before
    // the files count as different.
    int checkWaitMs = 60000;
#ifdef ZANTIRO_TEST_HOOKS
    // The next file received gets this byte written inverted, as a disk or a connection
    // might spoil it (-1: none).
    qint64 testFlipReceivedByte = -1;
#endif

    // The transfer now running, or nullptr.
    FileTransfer* current() const
    {
        return active.get();
    }
    // The run of files now open, or nullptr.
    TransferRun* currentRun() const
    {
        return run.get();
    }
    // The bounds of the next runs (tests shorten them).
    int runIdleMs = 3000;
    int runWindow = 128;
    // Offers of a run decided in one turn of the event loop: their answers go out while the
    // next ones are decided, so that the sender sends their bytes meanwhile.
    int runAnswersPerTurn = 32;
    // After the login ended, how long a run of ours still takes the answers its peer sent
    // on the run's own connection before leaving.
    int runGoneMs = 2000;

    // Sends one file: starts the sending side and sends the offer on the control connection.
    // `name` is the name as queued, components separated by "/". False (with an error line
    // when the file cannot be read) when nothing was offered: not connected, a transfer is
    // busy, or the file cannot be opened.
    bool offerFile(const QString& path, const QString& name);

    // Starts the sending side for `name` (wire form) read from `path`, listening on `port`.
    // Returns the transfer, or nullptr when a transfer runs or an offer is being decided, or
    // (error line written) when the file cannot be opened.
    // With a token (between peers that share "token") both transfer connections must prove it.
    // With `opensRun` (offered after "frun") a complete file leaves both connections open for
    // the next files of the queue run.
    FileTransfer* startSending(const QString& name, const QString& path, const QString& hostIP, const QString& port,
                               const QString& userName, const QString& queuedName = {}, const QByteArray& token = {},
                               bool opensRun = false);

    // Handles one offer as the control connection received it.
    void receiveOffer(const QString& name, const QString& size, const QString& block, const QString& host,
                      const QString& port);

    // An offer is being decided (a question is open or it waits for a busy transfer).
    bool offerPending() const
    {
        return pendingOffer != nullptr;
    }
    // Our last offer timed out a moment ago; the next waits (see staleGraceMs).
    bool pausing() const
    {
        return graceTimer.isActive();
    }
    // Right after the login the peer's extensions are not known yet: the queue's next offer
    // waits for its "caps:" (readyToOffer follows), within Session::limits.capsWaitMs.
    bool awaitingPeerCaps() const;
    // No further offer can go out now: a transfer runs, an offer is being decided, or a run
    // of files is open in the other direction or has no room for more.
    bool busy() const;
    // Files are moving or being decided (the program asks before it leaves).
    bool working() const;
    // The queue has nothing more to offer now: an open run closes once its files have ended.
    void queueRanEmpty();
    // Ends the running transfer and refuses an offer being decided, telling the peer, without
    // waiting for its answer (the program is leaving).
    void cancelAll();

Q_SIGNALS:
    // A transfer was created and started; a window may show it until its finished().
    void transferStarted(FileTransfer* transfer);
    // A run of files took over the connections of a finished transfer; a window may show it
    // until its finished().
    void runStarted(TransferRun* run);
    // An offer or transfer ended (also an offer refused before any transfer started).
    void transferEnded(const TransferOutcome& outcome);
    // The sender's file should be offered again, at the front of the queue.
    void putBack(const QString& path, const QString& queuedName);
    // A file offered in a run that ended before any of it moved goes back to the front as it
    // was: it did not fail, and is not counted as a try.
    void handBack(const QString& path, const QString& queuedName);
    // The queue should stop, as by its "Stop" button.
    void stopQueue();
    // Offers can go out again after the pause that follows a timed-out offer.
    void readyToOffer();

private:
    struct PendingOffer;
    void decide();
    void afterAccept();
    // The sub-folders of the offer being decided below its download folder, checked on the
    // way down: `folder` becomes the target folder; false (the offer refused) when one leads
    // out or is no folder.
    bool checkFolders(QString& folder);
    void answerHaveFile();
    void onEndCodeChanged(TransferEndCode code);
    void askExisting();
    // The answer to the existing-file question for the offer being decided.
    void answerExisting(const Prompts::ExistsReply& reply);
    // The typed name of that answer: true when the file is received under it; false when the
    // offer was refused or the name is asked about in turn.
    bool takeTypedName(const QString& name);
    // The rest of decide(): the accept question, or acceptance without one.
    void askAccept();
    // The target exists with another content: the standing decision or the question.
    void decideExisting();
    // Receives with the existing-file decision `choice`; a resume between peers that share
    // "verify" first checks that the part here is the sender's.
    void startWith(ExistingFileChoice choice);
    void startReceiving();
    // Between peers that share "verify": compares the first `length` bytes of the local file
    // `path` with the offered file ("hashq:" to the sender, ours read meanwhile); `then`
    // runs with the answer once both checksums are known or checkWaitMs passed.
    void compareWithSender(const QString& path, qint64 length, std::function<void(bool same)> then);
    // The sender side of "hashq:": the checksum of the file on offer, as far as asked.
    void onChecksumAsked(const QString& name, qint64 length);
    // Ends the pending offer, which holds the transfer slot, through endOffer (reason empty:
    // from the end code, "Canceled" for Canceled, else "Timed Out").
    void refuse(const QString& reason, const QString& errorLine = {});
    // The one way an offer ends without a transfer: the error line when given, "CANC_TRAN"
    // to the sender unless it gave the offer up (TimedOut), the status line
    // "*** File Transfer <reason> : <name>" when a reason is given, and transferEnded.
    // An offer of a run (runNumber > 0) is answered on the run instead.
    void endOffer(const QString& name, const QString& reason, const QString& errorLine, TransferEndCode endCode,
                  quint64 runNumber = 0);
    // Opens a run on the connections of the finished transfer `t`.
    void openRun(FileTransfer& t);
    void onRunFileEnded(const TransferOutcome& outcome);
    void onRunFinished();
    SendingRun* sendingRun() const;
    ReceivingRun* receivingRun() const;
    // Has the run's waiting offers decided, one at a time, in order.
    void decideRunOffers();
    void onTransferFinished();

    PeerState& state;
    Session& session;
    std::unique_ptr<Prompts> currentPrompts;
    std::unique_ptr<FileTransfer> active;
    std::unique_ptr<PendingOffer> pendingOffer;
    std::unique_ptr<TransferRun> run;
    QSet<QString> runFolders; // folders of the open run's files found inside the download folder
    bool decidingRunOffers = false;
    void onTransferMessage(const QString& text);

    QTimer busyTimer;
    QTimer graceTimer;
    QTimer runDecideTimer; // the next group of a run's offers
    QTimer runGoneTimer;
    ChecksumExchange checksums;
    quint64 nextSerial = 0;
    OfferedNames names; // the wire names of our offers
};
