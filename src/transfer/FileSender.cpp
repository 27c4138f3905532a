#include "transfer/FileSender.h"

#include "core/PeerState.h"
#include "core/SocketErrorReport.h"
#include "session/Session.h"
#include "transfer/TransferRules.h"
#include "util/FileSystem.h"

namespace {

constexpr int kBurstPieces = 16; // pieces written at most in one turn of the event loop

// The address the transfer listens on: the one the control connection runs over, so that
// the transfer ports are not open on every interface.
QHostAddress listenAddressFor(const PeerState& state, const Session& session)
{
    const QString local = session.controlSocket.localHostIP();
    return local.isEmpty() ? state.listenAddress : QHostAddress(local);
}

} // namespace

FileSender::FileSender(PeerState& peerState, Session& sess, Prompts& p, const Setup& s, const TransferTimeouts& t,
                       QObject* parent)
    : FileTransfer(peerState, sess, p, s, t, parent)
{
    burstTimer.setSingleShot(true);
    connect(&burstTimer, &QTimer::timeout, this, &FileSender::sendNextBlock);
    reader.offsetPlausible = [this](const QByteArray& digits) { return offsetPlausible(digits); };
    connect(&dataSocket, &EventSocket::connected, this, &FileSender::onDataConnected);
    connect(&dataSocket, &EventSocket::sendComplete, this, &FileSender::onBlockWritten);
    connect(&dataSocket, &EventSocket::error, this, [this](int number, const QString& text) {
        onSocketError(true, QStringLiteral("S"), QStringLiteral("FN: Filebase.SckSend_Error"), number, text);
    });
}

void FileSender::begin()
{
    QString problem;
    // Each piece is read straight into the piece going out.
    if (!file.open(filePath, problem)) {
        state.addText(QStringLiteral("*** Error : Cannot read ") + filePath + QStringLiteral(" - ") + problem,
                      LineKind::Error);
        noRetry = true;
        end(TransferEndCode::StoppedByError);
        return;
    }
    size = file.size();
    offerBlock = TransferRules::offerBlockField(size).toLongLong();
    state.addText(QStringLiteral("*** Sending File : ") + fileName + QStringLiteral(" (") + QString::number(size)
                      + QStringLiteral(" bytes)"),
                  LineKind::Status);
    title = QStringLiteral("Sending");
    status = QStringLiteral("Waiting For Connection...");
    listener.setListenAddress(listenAddressFor(state, session));
    listener.setLocalPort(setup.port);
    if (!listener.listen()) {
        reportSocketError(state, listener.lastErrorNumber(), listener.lastErrorText(), QStringLiteral("Sys"), fileName,
                          QStringLiteral("FN: Filebase.sckSystem_error"));
        end(TransferEndCode::StoppedByError);
        return;
    }
    dataSocket.setRemoteHost(setup.hostIP);
    dataSocket.setRemotePort(static_cast<quint16>(setup.port + 1));
    if (guarded())
        requireToken(commandSocket,
                     setup.token.isEmpty() ? QByteArray() : QByteArrayLiteral("TOKEN_ID_") + setup.token);
    touch(true);
}

bool FileSender::offsetPlausible(const QByteArray& digits) const
{
    // A receiver resumes at 0 or at a whole number of offered blocks, two at least, inside
    // the file; digits that are not such a number may be the front of a longer one.
    qint64 at = 0;
    if (!TransferRules::parseSize(QString::fromLatin1(digits), at))
        return false;
    return at == 0 || (at % offerBlock == 0 && at >= 2 * offerBlock && at < size);
}

void FileSender::onStreamTaken()
{
    phase = Phase::Accepted;
    status = QStringLiteral("Waiting On Receiver...");
    touch(true);
    if (commandSocket.bytesAvailable() > 0)
        reader.feed(commandSocket.takeAll()); // the answer may have come with the proof
}

void FileSender::receiveCommand(const CommandReader::Command& command)
{
    switch (command.kind) {
    case CommandReader::AcceptTransfer:
    case CommandReader::Resume:
        receiveAnswer(command.kind == CommandReader::Resume, command.argument);
        break;
    case CommandReader::GotAll:
        receiverHasAll = true;
        if (awaitingGotAll())
            sendEnd();
        break;
    case CommandReader::SumMatch:
    case CommandReader::SumDiffers:
        if (checked() && !checksum.matched)
            receiveVerdict(command.kind == CommandReader::SumMatch);
        break;
    case CommandReader::RunReady:
        // The receiver keeps both connections for the next files of the run: this file is
        // through once its end went out (and its checksum matched).
        if (setup.run && phase == Phase::Finished && (!checked() || checksum.matched)) {
            keepConnections = true;
            finish();
        }
        break;
    default:
        break; // "END_TRANS" and "CHECK_SUM" are the receiver's to take
    }
}

void FileSender::receiveAnswer(bool resume, const QByteArray& offset)
{
    if (phase != Phase::Accepted)
        return;
    timeOutTimer.stop();
    status = QStringLiteral("Sending File...");
    if (resume) {
        qint64 at = 0;
        if (!offset.isEmpty() && !TransferRules::parseSize(QString::fromLatin1(offset), at))
            at = -1;
        if (at < 0 || at > size) {
            state.addText(QStringLiteral("*** Error : The receiver asked to resume %1 at byte %2, beyond its %3 bytes")
                              .arg(fileName, QString::fromLatin1(offset), QString::number(size)),
                          LineKind::Error);
            noRetry = true;
            end(TransferEndCode::StoppedByError);
            return;
        }
        done = at;
        resumeAt = at;
    }
    phase = Phase::Sending;
    dataSocket.connectToPeer();
    touch(true);
}

void FileSender::receiveVerdict(bool same)
{
    if (same) {
        checksum.matched = true;
        return;
    }
    state.addText(QStringLiteral("*** Error : The receiver's copy of %1 differed from the file sent - "
                                 "it is offered again")
                      .arg(fileName),
                  LineKind::Error);
    spoiled = true;
    end(TransferEndCode::StoppedByError);
}

void FileSender::onDataConnected()
{
    if (!isIn(Phase::Sending))
        return;
    windowVisible = true;
    QString problem;
    if (!file.seek(done, problem)) {
        fileError(QStringLiteral("Cannot read ") + filePath + QStringLiteral(" - ") + problem);
        return;
    }
    startCounting();
    touch(true);
    if (!setup.token.isEmpty())
        dataSocket.send(setup.token); // the receiver checks and strips it before the file's bytes
    // The whole file's checksum: from the blocks as they go out, or, when they start past
    // the beginning, read on the worker meanwhile.
    if (verifying())
        checksum.startSending(done, filePath, size);
    sendNextBlock();
}

void FileSender::sendNextBlock()
{
    // One piece in flight: a piece is read only once the previous one has been handed to
    // the system. While the system takes each piece at once, several follow in one turn of
    // the event loop (a bounded burst), so that a fast connection is not held back by a
    // round trip through the loop per piece.
    for (int i = 0; i < kBurstPieces; ++i) {
        if (!isIn(Phase::Sending))
            return;
        if (size - done <= 0) {
            lastBlockSent();
            return;
        }
        if (!sendOneBlock())
            return;
    }
    touch();
    burstTimer.start(0); // let other events have their turn, then go on
}

bool FileSender::sendOneBlock()
{
    // The offered block size only sets where a receiver may resume; what goes to the socket
    // at a time is ours to choose, and a receiver reads whatever arrives.
    const qint64 n = std::min(pieceSize, size - done);
    // The socket keeps a reference to the piece until it has left; by then the piece is
    // ours alone again, and resizing it allocates nothing.
    block.resize(n);
    QString problem;
    const qint64 got = file.read(block.data(), n, problem);
    if (got != n) {
        fileError(QStringLiteral("Cannot read ") + filePath + QStringLiteral(" - ")
                  + (got < 0 ? problem : QStringLiteral("the file became shorter")));
        return false;
    }
    done += n;
    movedThisRun += n;
    ++blockCount;
    checksum.add(block.constData(), n);
    dataSocket.send(block);
    dataSocket.flush();
    if (dataSocket.bytesToWrite() > 0) {
        phase = Phase::BlockInFlight; // sendComplete() brings the next block
        unsentAtWait = dataSocket.bytesToWrite();
        startWait(timeouts.blockMs);
        touch();
        return false;
    }
    return true;
}

void FileSender::onBlockWritten()
{
    if (!isIn(Phase::BlockInFlight))
        return;
    phase = Phase::Sending;
    if (done >= size)
        lastBlockSent();
    else
        sendNextBlock();
}

void FileSender::lastBlockSent()
{
    rateTimer.stop();
    if (checksum.fromBlocks() && !checksum.ownKnown) {
        checksum.ownKnown = true;
        checksum.own = checksum.blocksResult();
    }
    // An empty file has no byte whose arrival a receiver could confirm: it is done as soon
    // as the data connection stands.
    if (receiverHasAll || size == 0) {
        sendEnd();
        return;
    }
    phase = Phase::AwaitingGotAll;
    startWait(timeouts.gotAllMs);
}

void FileSender::sendEnd()
{
    if (verifying() && receiverHasAll) {
        if (!checksum.ownKnown) {
            phase = Phase::AwaitingChecksum; // our checksum is still being read; it brings the end
            return;
        }
        if (!checksum.own.isEmpty()) {
            checksum.peer = checksum.own; // what the receiver is to match
            sendCommand(CommandReader::text(CommandReader::Checksum) + checksum.own.toLatin1());
        }
    }
    phase = Phase::Finished;
    file.close();
    rateTimer.stop();
    if (commandSocket.state() == EventSocket::Connected)
        sendCommand(CommandReader::text(CommandReader::EndTransfer));
    startWait(timeouts.closeMs);
}

void FileSender::onChecksum(const QString& sum, const QString& problem)
{
    checksum.ownKnown = true;
    checksum.own = sum;
    if (sum.isEmpty())
        state.addText(QStringLiteral("*** Error : Cannot check %1 - %2").arg(fileName, problem), LineKind::Error);
    if (phase == Phase::AwaitingChecksum)
        sendEnd();
}

void FileSender::onDataClosed()
{
    if (running() && awaitingGotAll())
        dataEndedBeforeGotAll(dataSocket.closedByReset());
    else if (isIn(Phase::Sending) || isIn(Phase::BlockInFlight))
        dataLost(dataSocket.closedByReset());
}

bool FileSender::dataErrorHandled(int number)
{
    if (awaitingGotAll()) {
        dataEndedBeforeGotAll(number == 10054);
        return true;
    }
    return phase == Phase::Finished; // "END_TRANS" is out; the close decides
}

void FileSender::dataEndedBeforeGotAll(bool reset)
{
    // Every byte was handed to the system, but that is not every byte received: without
    // "Got All" soon, the rest was lost with the connection.
    if (dataClosedEarly)
        return;
    dataClosedEarly = true;
    dataClosedByReset = reset;
    startWait(std::min(timeouts.dataGoneMs, timeouts.gotAllMs));
}

void FileSender::waitOver()
{
    switch (phase) {
    case Phase::BlockInFlight:
        // A piece is many blocks: on a slow connection it may take longer than the bound to
        // leave, and only a wait without any of it leaving is a timeout.
        if (dataSocket.bytesToWrite() < unsentAtWait) {
            unsentAtWait = dataSocket.bytesToWrite();
            startWait(timeouts.blockMs);
            break;
        }
        status = QStringLiteral("File Send Timed Out.");
        phase = Phase::Sending;
        sendEnd();
        break;
    case Phase::AwaitingGotAll:
    case Phase::AwaitingChecksum:
        if (dataClosedEarly)
            dataLost(dataClosedByReset);
        else
            sendEnd();
        break;
    case Phase::Finished:
        finish();
        break;
    default:
        break;
    }
}

bool FileSender::everyByteConfirmed() const
{
    // Done only once the receiver confirmed every byte (an empty file once the data
    // connection stood and "END_TRANS" went out). With "verify" the end must also have come,
    // for only then does the checksum go out for the receiver's verdict: a cancel or a close
    // before it (while our checksum is still being read, say) is no success.
    return done == size && (!verifying() || phase == Phase::Finished)
           && (receiverHasAll || (size == 0 && isIn(Phase::Finished)));
}

void FileSender::onIncomplete(TransferEndCode code)
{
    if (code != TransferEndCode::CanceledBySender && code != TransferEndCode::CanceledByReceiver
        && code != TransferEndCode::ReceiverHasFile && !noRetry)
        offerAgain = true;
    if (code == TransferEndCode::TimedOut)
        session.sendControlMessage(QStringLiteral("FTIMEOUT"));
}

void FileSender::stopSide()
{
    burstTimer.stop();
    if (phase == Phase::BlockInFlight)
        phase = Phase::Sending; // the block's sendComplete() brings nothing more
}
