#pragma once
#include "transfer/TransferRun.h"

#include <QTimer>

#include <deque>
#include <memory>

// The sending side: offers files as the queue hands them over, sends the accepted ones'
// bytes, and ends each file on the receiver's verdict.
class SendingRun : public TransferRun {
    Q_OBJECT
public:
    SendingRun(PeerState& state, Session& session, Prompts& prompts, const FileTransfer::Setup& setup,
               const TransferTimeouts& timeouts, QObject* parent = nullptr);
    ~SendingRun() override;

    bool sending() const override { return true; }
    // Room for one more offer.
    bool canOffer() const;
    // Offers `path` under the wire name `wire`. False (an error line written and fileEnded
    // emitted) when the file cannot be read.
    bool offer(const QString& path, const QString& wire, const QString& queuedName);
    // Nothing more comes from the queue now: the run closes once its files have ended.
    void closeWhenDone();
    // The login with the peer ended: nothing more is offered, and what the peer answered
    // before it left is still taken from the run's connection; its close or the peer's
    // cancel then ends the files left as disconnected. False when the run ended already
    // or its connection is down (then nothing more can come).
    bool peerLeft();
    // Nothing offered is still open.
    bool idle() const { return files.empty(); }
    // The local file of an open offer named `wire` of at least `length` bytes (for the
    // receiver's "hashq:"), or empty.
    QString pathOfOffer(const QString& wire, qint64 length) const;

protected:
    void receiveLine(const QByteArray& line, const QList<QByteArray>& field) override;
    void receiveData() override {}
    bool awaiting() const override { return !files.empty(); }
    void endFiles(TransferEndCode code) override;
    void begun() override { checkIdle(); }

private:
    struct File;
    // The answer or verdict `word` is the one the run waits for about `f`.
    bool expected(const QByteArray& word, const File& f) const;
    void receiveAccept(File& f, const QByteArray& offset);
    void pumpSoon();
    void beforeFlush() override;
    void pump();
    // Hands the piece to the data connection; false when nothing more goes now (the piece is
    // still leaving, or the run ended).
    bool sendPiece();
    bool readInto(File& f, qint64 n);
    // `f` cannot be read: the run ends now, the file with an error and not offered again.
    void abortWith(File& f);
    void fileSent(File& f);
    void sendSum(File& f);
    void finishFile(File& f, TransferEndCode code, bool complete, bool putBack, bool stopQueue = false);
    void checkIdle();

    std::deque<std::unique_ptr<File>> files; // in offer order
    quint64 lastNumber = 0;
    QByteArray piece;
    bool pieceInFlight = false;
    bool pumpWanted = false; // pump() at the end of this turn
    File* failed = nullptr;  // the file whose reading failed, as the run ends
    bool closing = false;
    QTimer idleTimer;
    QTimer pumpTimer;
};
