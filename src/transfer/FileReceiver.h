#pragma once
#include "transfer/FileTransfer.h"
#include "transfer/TargetFile.h"

#include <QByteArray>

// The receiving side of a transfer: connects to the sender's command port, opens the target
// as the existing-file choice says, answers "ACCEPT_TR" (or "RESUME_TR" and the offset),
// listens for the data connection, writes what arrives and confirms it with "Got All";
// between peers that share "verify" the file counts only once its checksum matches the
// sender's "CHECK_SUM".
class FileReceiver : public FileTransfer {
    Q_OBJECT
public:
    FileReceiver(PeerState& state, Session& session, Prompts& prompts, const Setup& setup,
                 const TransferTimeouts& timeouts, QObject* parent = nullptr);

    Type type() const override { return Receiving; }
    // After finished(): removes the file and folders this transfer created when it ended
    // before any data.
    void discardUnusedTarget() { target.discardUnused(); }

protected:
    void begin() override;
    void receiveCommand(const CommandReader::Command& command) override;
    EventSocket& streamSocket() override { return dataSocket; }
    void onStreamTaken() override;
    void onDataClosed() override;
    void waitOver() override;
    void onChecksum(const QString& sum, const QString& problem) override;
    bool dataErrorHandled(int /*number*/) override { return false; }
    bool closeExpected() const override { return done == size; }
    bool decidesOnClose() const override { return phase == Phase::Verifying; }
    bool everyByteConfirmed() const override;

private:
    enum class Phase {
        Connecting, // reaching the sender's command port
        Receiving,  // answered; the data arrives
        Verifying,  // "END_TRANS" came; the file's checksum is being finished
    };
    bool isIn(Phase p) const { return running() && phase == p; }

    void onCommandConnected();
    bool openTarget(QString& problem);
    void answerSender();
    void onDataArrived();
    // Writes the `n` bytes at the front of `buffer`; false when the transfer stopped.
    bool keep(qint64 n);
    void sendGotAll();
    void receiveEnd();
    void verdict(bool same, const QString& problem = {});
    // Tells the sender the connections stay open for a run, when this file opened one.
    void keepForRun();

    Phase phase = Phase::Connecting;
    TargetFile target; // how the file was opened, what was created for it
    QByteArray buffer; // received bytes, reused
    QTimer drainTimer; // takes what arrived on the next turn of the event loop
    bool gotAllSent = false;
    bool endCame = false; // "END_TRANS" came while receiving
};
