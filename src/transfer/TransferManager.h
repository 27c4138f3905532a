#pragma once
#include "core/TransferEndCode.h"
#include "transfer/ChecksumExchange.h"
#include "transfer/FileTransfer.h"
#include "transfer/OfferDecision.h"
#include "transfer/OfferedNames.h"
#include "transfer/Prompts.h"
#include "transfer/TransferOutcome.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class PeerState;
class Session;
class TransferRun;
class SendingRun;
class ReceivingRun;

// The file-transfer side of a peer: starts the one transfer at a time (startSending for
// sending, receiveOffer for each offer the session hands over, decided by its OfferDecision),
// opens the runs of files, and tells the windows and the queue what happens.
class TransferManager : public QObject, private OfferDecision::Host {
    Q_OBJECT
public:
    TransferManager(PeerState& state, Session& session);
    ~TransferManager() override;

    // The questions of the transfer side (accept, existing file, cancel). A headless policy
    // by default; the windows install their dialogs, tests scripted answers. Install them
    // before the first offer: a running transfer keeps the prompts it started with.
    Prompts& prompts() override { return *currentPrompts; }
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
        return decision.pending();
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
    // OfferDecision::Host: what the decision of an offer reaches here (and prompts()).
    bool slotTaken() const override;
    SendingRun* sendingRun() const override;
    ReceivingRun* receivingRun() const override;
    void startReceiver(FileTransfer::Setup& setup) override;
    void receiveInRun(quint64 number, const QString& wire, const TargetFile::Request& request) override;
    void offerEnded(const TransferOutcome& outcome) override;
    void runOfferAnswered() override;

    // The session's part of a transfer's setup, either way: the checksums between peers that
    // share "verify", a private session's TLS and the peer's key.
    void addSessionPart(FileTransfer::Setup& setup) const;
    void onTransferFinished();
    void onTransferMessage(const QString& text);
    // The sender side of "hashq:": the checksum of the file on offer, as far as asked.
    void onChecksumAsked(const QString& name, qint64 length);
    // Opens a run on the connections of the finished transfer `t`.
    void openRun(FileTransfer& t);
    void onRunFileEnded(const TransferOutcome& outcome);
    void onRunFinished();
    // Has the run's waiting offers decided, one at a time, in order.
    void decideRunOffers();

    PeerState& state;
    Session& session;
    std::unique_ptr<Prompts> currentPrompts;
    ChecksumExchange checksums; // "hashq:" asked of the sender, or answered for our offer
    OfferDecision decision;     // the offer being decided
    std::unique_ptr<FileTransfer> active;
    std::unique_ptr<TransferRun> run;
    bool decidingRunOffers = false;

    QTimer graceTimer;
    QTimer runDecideTimer; // the next group of a run's offers
    QTimer runGoneTimer;
    OfferedNames names; // the wire names of our offers
};
