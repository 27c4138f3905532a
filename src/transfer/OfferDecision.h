#pragma once
#include "core/TransferEndCode.h"
#include "transfer/FileTransfer.h"
#include "transfer/IncomingOffer.h"
#include "transfer/OfferTarget.h"
#include "transfer/Prompts.h"
#include "transfer/ReceivingRun.h"
#include "transfer/TargetFile.h"
#include "transfer/TransferOutcome.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class ChecksumExchange;
class PeerState;
class SendingRun;
class Session;

// The decision of the offers the peer makes, one at a time: the fields of a single offer,
// "HaveFile", the sub-folders and the target, the accept and existing-file questions, the
// checksum comparison between peers that share "verify", and the refusal. An accepted single
// offer is received in the transfer slot of the side that holds this; an offer of a run is
// answered on the run.
class OfferDecision : public QObject {
    Q_OBJECT
public:
    // What the decision reaches of the transfer side that holds it.
    class Host {
    public:
        virtual ~Host() = default;
        // The prompts now installed.
        virtual Prompts& prompts() = 0;
        // A transfer runs or a run of files is open: a single offer waits for them.
        virtual bool slotTaken() const = 0;
        // The open run of files, by direction, or nullptr.
        virtual SendingRun* sendingRun() const = 0;
        virtual ReceivingRun* receivingRun() const = 0;
        // Starts the receiving side of an accepted single offer as `setup` says, with the
        // session's part of it added.
        virtual void startReceiver(FileTransfer::Setup& setup) = 0;
        // Has the open run receive its accepted offer `number` as `request` says.
        virtual void receiveInRun(quint64 number, const QString& wire, const TargetFile::Request& request) = 0;
        // An offer ended without a transfer.
        virtual void offerEnded(const TransferOutcome& outcome) = 0;
        // An offer of the run was answered: the next may be decided.
        virtual void runOfferAnswered() = 0;
    };
    // The bounds the decision waits within, as the holder sets them at any time.
    struct Bounds {
        const int& busyWaitMs;  // an offer waiting for a busy transfer
        const int& checkWaitMs; // the sender's checksum
        const int& acceptMs;    // the sender waits this long from its offer for our answer
    };

    OfferDecision(PeerState& state, Session& session, ChecksumExchange& checksums, Host& host, Bounds bounds);
    ~OfferDecision() override;

    // An offer is being decided (a question is open or it waits for a busy transfer).
    bool pending() const { return pendingOffer != nullptr; }

    // Handles one offer as the control connection received it.
    void receive(const QString& name, const QString& size, const QString& block, const QString& hostIP,
                 const QString& port);
    // Decides the offer the run took next, whose name gave `parts`; with a `problem` of its
    // name the offer is refused.
    void decideRunOffer(const ReceivingRun::Offered& offered, const QStringList& parts, const QString& problem);

    // The transfer ended: an offer waiting for it is decided in the next turn, when no other
    // transfer or run has taken the slot meanwhile.
    void decideAfterTransfer();
    // Nothing holds the slot any more: an offer waiting for it is decided now.
    void decideWaiting();
    // The run ended: its offer being decided ends unanswered.
    void dropRunOffer();
    // A new run keeps folders of its own: those checked for the run before are forgotten.
    void forgetRunFolders() { offerTarget.forgetRunFolders(); }

    // The sender gave its offer up ("FTIMEOUT"): false when no offer is being decided, and
    // the notice is the running transfer's.
    bool senderGaveUp();
    // The end code changed: a question still open is withdrawn and the offer refused.
    void onEndCodeChanged(TransferEndCode code);
    // The control connection went: the offer is refused.
    void onDisconnected();
    // Refuses the offer, telling the peer, without waiting for its answer.
    void cancel();
    // Closes an open question without an answer (the holder is going).
    void withdrawQuestion();

private:
    struct PendingOffer;
    // The one way an offer ends without a transfer: the error line when given, "CANC_TRAN"
    // to the sender unless it gave the offer up (TimedOut), the status line
    // "*** File Transfer <reason> : <name>" when a reason is given, and offerEnded.
    // An offer of a run (runNumber > 0) is answered on the run instead.
    void endOffer(const QString& name, const QString& reason, const QString& errorLine, TransferEndCode endCode,
                  quint64 runNumber = 0);
    // Ends the offer that waits for a busy transfer: no question was asked.
    void endWaiting(const QString& reason, TransferEndCode endCode);
    bool waiting() const;
    void decide();
    // The rest of decide(): the accept question, or acceptance without one.
    void askAccept();
    void afterAccept();
    void answerHaveFile();
    // The target exists with another content: the standing decision or the question.
    void decideExisting();
    void askExisting();
    // The answer to the existing-file question for the offer being decided.
    void answerExisting(const Prompts::ExistsReply& reply);
    // The typed name of that answer: true when the file is received under it; false when the
    // offer was refused or the name is asked about in turn.
    bool takeTypedName(const QString& name);
    // Receives with the existing-file decision `choice`; a resume between peers that share
    // "verify" first checks that the part here is the sender's.
    void startWith(ExistingFileChoice choice);
    void startReceiving();
    // Between peers that share "verify": compares the first `length` bytes of the local file
    // `path` with the offered file ("hashq:" to the sender, ours read meanwhile); `then`
    // runs with the answer once both checksums are known or checkWaitMs passed.
    void compareWithSender(const QString& path, qint64 length, std::function<void(bool same)> then);
    // Ends the pending offer through endOffer (reason empty: from the end code, "Canceled"
    // for Canceled, else "Timed Out").
    void refuse(const QString& reason, const QString& errorLine = {});

    PeerState& state;
    Session& session;
    ChecksumExchange& checksums;
    Host& host;
    Bounds bounds;
    std::unique_ptr<PendingOffer> pendingOffer;
    OfferTarget offerTarget; // where the offered files would go
    QTimer busyTimer;
    quint64 nextSerial = 0;
};
