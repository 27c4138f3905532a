#pragma once
#include "transfer/FileTransfer.h"

#include <QByteArray>

// The sending side of a transfer: listens on the command port, waits for the receiver's
// answer ("ACCEPT_TR" or "RESUME_TR" and an offset), sends the blocks on the data
// connection, waits for "Got All" and ends with "END_TRANS" (after "CHECK_SUM" between
// peers that share "verify").
class FileSender : public FileTransfer {
    Q_OBJECT
public:
    FileSender(PeerState& state, Session& session, Prompts& prompts, const Setup& setup,
               const TransferTimeouts& timeouts, QObject* parent = nullptr);

    Type type() const override { return Sending; }
    bool awaitingAnswer() const override
    {
        return running() && (phase == Phase::Listening || phase == Phase::Accepted);
    }
    // Bytes handed to the data socket at most at a time: much more than the offered block
    // size, which sets only where a receiver may resume.
    static constexpr qint64 pieceSize = qint64{256} * 1024;
    // Pieces handed to the data socket.
    qint64 blocksSent() const { return blockCount; }

protected:
    void begin() override;
    void receiveCommand(const CommandReader::Command& command) override;
    EventSocket& streamSocket() override { return commandSocket; }
    void onStreamTaken() override;
    void onDataClosed() override;
    void waitOver() override;
    void onChecksum(const QString& sum, const QString& problem) override;
    bool dataErrorHandled(int number) override;
    bool closeExpected() const override { return phase == Phase::Finished; }
    bool everyByteConfirmed() const override;
    void onIncomplete(TransferEndCode code) override;
    void stopSide() override;

private:
    enum class Phase {
        Listening,        // command port open; "Waiting For Connection..."
        Accepted,         // the receiver's command connection is in; "Waiting On Receiver..."
        Sending,          // answered: the data connection and the blocks
        BlockInFlight,    // a block waits in the system; its sendComplete() brings the next
        AwaitingGotAll,   // the last block has left
        AwaitingChecksum, // "Got All" came; "END_TRANS" waits for our checksum
        Finished,         // "END_TRANS" sent; the receiver closes
    };
    bool isIn(Phase p) const { return running() && phase == p; }
    bool awaitingGotAll() const { return phase == Phase::AwaitingGotAll || phase == Phase::AwaitingChecksum; }

    bool offsetPlausible(const QByteArray& digits) const;
    void receiveAnswer(bool resume, const QByteArray& offset);
    void onDataConnected();
    void sendNextBlock();
    // Reads and sends one block; false when the loop is to stop (a fault, or the block waits).
    bool sendOneBlock();
    void onBlockWritten();
    void lastBlockSent();
    void sendEnd();
    void receiveVerdict(bool same);
    void dataEndedBeforeGotAll(bool reset);

    Phase phase = Phase::Listening;
    QTimer burstTimer;       // continues the block loop on the next turn
    QByteArray block;        // the block being sent, reused
    qint64 offerBlock = 512; // the block size named in our offer (resume offsets are its multiples)
    qint64 blockCount = 0;
    qint64 unsentAtWait = 0;      // bytes of the piece in flight not yet handed over when its wait began
    bool receiverHasAll = false;  // "Got All" arrived (it may come before our last block is out)
    bool dataClosedEarly = false; // the data connection ended while "Got All" was awaited
    bool dataClosedByReset = false;
};
