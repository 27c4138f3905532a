#pragma once
#include "transfer/TargetFile.h"
#include "transfer/TransferRun.h"

#include <QHash>

#include <deque>
#include <memory>

// The receiving side: takes the numbered offers, has each decided as a single offer is
// (OfferDecision), writes the accepted files' bytes and checks each file's end.
class ReceivingRun : public TransferRun {
    Q_OBJECT
public:
    struct Offered {
        quint64 number = 0;
        QString wire;
        qint64 size = 0;
        qint64 block = 512;
    };

    ReceivingRun(PeerState& state, Session& session, Prompts& prompts, const FileTransfer::Setup& setup,
                 const TransferTimeouts& timeouts, QObject* parent = nullptr);
    ~ReceivingRun() override;

    bool sending() const override { return false; }
    // An offer waits for its decision.
    bool hasOffer() const { return !offers.empty(); }
    Offered takeOffer();
    // The decisions, in offer order.
    void answerHave(quint64 number);
    void answerRefused(quint64 number);
    // Opens the target as `request` says and accepts; refuses with an error line when it
    // cannot be opened.
    void accept(quint64 number, const QString& wire, const TargetFile::Request& request);
    // Files accepted and not yet ended.
    bool idle() const { return files.empty() && offers.empty(); }
    // The next offer waiting for its decision.
    const Offered& nextOffer() const { return offers.front(); }
    // A file of the run not yet ended is written at `path`.
    bool holds(const QString& path) const;
    // The target folder the run keeps open from the file before (checked when it was opened).
    const TargetFile::FolderCache& openFolder() const { return folders; }

Q_SIGNALS:
    // An offer came and waits for its decision.
    void offerArrived();

protected:
    void receiveLine(const QByteArray& line, const QList<QByteArray>& field) override;
    void receiveData() override;
    bool awaiting() const override { return !files.empty(); }
    void endFiles(TransferEndCode code) override;

private:
    struct File;
    static qint64 resumeOffsetOf(const TargetFile::Request& request);
    void startChecksum(File& f);
    // Opens a target whose opening waited for its first byte; false (the run ended) when it
    // cannot be opened as it was answered.
    bool openLate(File& f);
    // Writes the n bytes at `at` in the buffer into `f`; false when the run ended.
    bool keep(File& f, qint64 at, qint64 n);
    void tryFinish(File& f);
    void verdict(File& f, bool same, const QString& problem = {});
    void finishFile(File& f, TransferEndCode code, bool complete);
    // Counts the paths `f` is written at (the one answered and the one used, when another
    // name was chosen) while it is among `files`, for holds().
    void hold(File& f);
    void release(const File& f);

    std::deque<Offered> offers;
    std::deque<std::unique_ptr<File>> files; // accepted, in order
    QHash<QString, int> held;                // the files' paths: asked for every offer
    TargetFile::FolderCache folders;
    quint64 lastNumber = 0;
    QByteArray buffer;

#ifdef ZANTIRO_TEST_HOOKS
public:
    // The next file accepted gets this byte written inverted (-1: none).
    qint64 testFlipByteAt = -1;
#endif
};
