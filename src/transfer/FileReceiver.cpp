#include "transfer/FileReceiver.h"

#include "core/PeerState.h"
#include "core/SocketErrorReport.h"

#include <QFileInfo>

namespace {

constexpr qint64 kReceiveChunk = qint64{1024} * 1024; // received bytes held at most (several pieces)

} // namespace

FileReceiver::FileReceiver(PeerState& peerState, Session& sess, Prompts& p, const Setup& s, const TransferTimeouts& t,
                           QObject* parent)
    : FileTransfer(peerState, sess, p, s, t, parent)
{
    buffer.resize(kReceiveChunk);
    dataSocket.readBufferSize = kReceiveChunk;
    drainTimer.setSingleShot(true);
    connect(&drainTimer, &QTimer::timeout, this, &FileReceiver::onDataArrived);
    connect(&commandSocket, &EventSocket::connected, this, &FileReceiver::onCommandConnected);
    // Taken on the next turn of the event loop, not at once: an encrypted connection announces
    // every few kilobytes it deciphers, and what it holds by the next turn is written in one
    // piece instead of in as many small writes.
    connect(&dataSocket, &EventSocket::dataArrived, this, [this] {
        if (!drainTimer.isActive())
            drainTimer.start(0);
    });
    connect(&dataSocket, &EventSocket::error, this, [this](int number, const QString& text) {
        onDataArrived(); // the bytes that came before the error count
        onSocketError(true, QStringLiteral("R"), QStringLiteral("FN: Filebase.sckReceive_error"), number, text);
    });
}

void FileReceiver::begin()
{
    const ExistingFileChoice choice = setup.existsChoice;
    const QString verb = choice == ExistingFileChoice::Overwrite ? QStringLiteral("Overwriting")
                         : choice == ExistingFileChoice::Resume  ? QStringLiteral("Resuming")
                                                                 : QStringLiteral("Receiving");
    state.addText(QStringLiteral("*** ") + verb + QStringLiteral(" File : ") + fileName + QStringLiteral(" (")
                      + QString::number(size) + QStringLiteral(" bytes)"),
                  LineKind::Status);
    title = QStringLiteral("Receiving");
    status = QStringLiteral("Connecting To Sender...");
    windowVisible = true;
    commandSocket.setRemoteHost(setup.hostIP);
    commandSocket.setRemotePort(setup.port);
    commandSocket.connectToPeer();
    touch(true);
}

void FileReceiver::onCommandConnected()
{
    if (!isIn(Phase::Connecting))
        return;
    listener.setListenAddress(QHostAddress(commandSocket.localHostIP()));
    listener.setLocalPort(static_cast<quint16>(setup.port + 1));
    if (guarded())
        requireToken(dataSocket, setup.token);
    // Our first bytes on the command connection prove that we are the one offered to.
    if (!setup.token.isEmpty())
        sendCommand(QByteArrayLiteral("TOKEN_ID_") + setup.token);
    if (!listener.listen()) {
        reportSocketError(state, listener.lastErrorNumber(), listener.lastErrorText(), QStringLiteral("R"), fileName,
                          QStringLiteral("FN: Filebase.sckReceive_error"));
        end(TransferEndCode::StoppedByError);
        return;
    }
    answerSender();
}

bool FileReceiver::openTarget(QString& problem)
{
    TargetFile::Request request;
    request.root = setup.root;
    request.folder = filePath;
    request.name = fileName;
    request.choice = setup.existsChoice;
    request.newName = setup.newName;
    request.size = size;
    request.block = setup.block;
    if (request.choice == ExistingFileChoice::Resume)
        title = QStringLiteral("Resume Receiving");
    const bool opened = target.open(file, request, problem);
    fileName = target.name();
    if (!opened)
        return false;
    resumeAt = target.resumeAt();
    done = resumeAt;
    return true;
}

void FileReceiver::answerSender()
{
    QString problem;
    if (!openTarget(problem)) {
        fileError(problem);
        return;
    }
    timeOutTimer.stop();
    phase = Phase::Receiving;
    if (verifying())
        checksum.startReceiving(done, file.handle());
    startCounting();
    status = QStringLiteral("Receiving File...");
    if (setup.existsChoice == ExistingFileChoice::Resume)
        sendCommand(CommandReader::text(CommandReader::Resume) + QByteArray::number(resumeAt));
    else
        sendCommand(CommandReader::text(CommandReader::AcceptTransfer));
    // "Got All" for an empty file waits for the sender's data connection, which comes only
    // after the sender has taken our answer: sent now, it would reach it glued to the answer.
    startWait(timeouts.idleMs);
    touch(true);
}

void FileReceiver::onStreamTaken()
{
    // The sender connects only after it took our answer: the next command may follow at once.
    sendQueuedCommandNow();
    if (isIn(Phase::Receiving) && done >= size && !gotAllSent)
        sendGotAll(); // an empty file: nothing will arrive to confirm
    if (dataSocket.bytesAvailable() > 0)
        onDataArrived(); // the file's first bytes may have come with the proof
}

void FileReceiver::sendGotAll()
{
    gotAllSent = true;
    sendCommand(CommandReader::text(CommandReader::GotAll));
}

void FileReceiver::onDataArrived()
{
    drainTimer.stop();
    // Read in pieces into one reused buffer: memory stays bounded whatever the size.
    for (;;) {
        const qint64 k = dataSocket.take(buffer.data(), buffer.size());
        if (k <= 0)
            break;
        if (!isIn(Phase::Receiving) || !file.isOpen())
            continue; // not ours to keep
        movedThisRun += k;
        // Never past the offered size.
        const qint64 n = std::min<qint64>(k, size - done);
        if (n > 0 && !keep(n))
            return;
        if (!gotAllSent && done == size)
            sendGotAll();
        if (k > n) {
            // A sender that goes on past the offered size would hold the one transfer slot
            // for as long as it liked.
            stopWithError(QStringLiteral("*** Error : The sender sent more than the offered %1 bytes : %2")
                              .arg(QString::number(size), fileName));
            return;
        }
    }
    if (isIn(Phase::Receiving))
        waitTimer.start(timeouts.idleMs);
    touch();
}

bool FileReceiver::keep(qint64 n)
{
#ifdef ZANTIRO_TEST_HOOKS
    if (setup.testFlipByteAt >= done && setup.testFlipByteAt < done + n)
        buffer[setup.testFlipByteAt - done] = static_cast<char>(~buffer[setup.testFlipByteAt - done]);
#endif
    QString why;
    if (!file.writeAll(buffer.constData(), n, why)) {
        fileError(QStringLiteral("Cannot write ") + filePath + fileName + QStringLiteral(" - ") + why);
        return false;
    }
    done += n;
    if (checksum.fromBlocks())
        checksum.add(buffer.constData(), n);
    else if (verifying())
        checksum.extend(done);
    return true;
}

void FileReceiver::receiveCommand(const CommandReader::Command& command)
{
    if (command.kind == CommandReader::EndTransfer)
        receiveEnd();
    else if (command.kind == CommandReader::Checksum && verifying())
        checksum.peer = QString::fromLatin1(command.argument).toLower();
}

void FileReceiver::receiveEnd()
{
    endCame = endCame || phase == Phase::Receiving;
    if (!checked() || phase != Phase::Receiving || done != size) {
        file.close();
        rateTimer.stop();
        status = QStringLiteral("Transfer Complete.");
        keepForRun();
        finish();
        return;
    }
    // Complete only once our checksum of what is on disk matches the sender's.
    phase = Phase::Verifying;
    rateTimer.stop();
    waitTimer.stop();
    status = QStringLiteral("Checking The File...");
    touch(true);
    if (checksum.fromBlocks())
        verdict(checksum.blocksResult() == checksum.peer);
    else if (checksum.ownKnown) // reading it back failed already
        verdict(false, checksum.problem);
    else
        checksum.finish(size);
}

void FileReceiver::onChecksum(const QString& sum, const QString& problem)
{
    if (isIn(Phase::Verifying)) {
        verdict(!sum.isEmpty() && sum == checksum.peer, problem);
    } else {
        checksum.ownKnown = true; // a failure before the end; the end decides
        checksum.problem = problem;
    }
}

void FileReceiver::verdict(bool same, const QString& problem)
{
    sendAtOnce(CommandReader::text(same ? CommandReader::SumMatch : CommandReader::SumDiffers));
    file.close();
    if (same) {
        checksum.matched = true;
        status = QStringLiteral("Transfer Complete.");
        keepForRun();
        finish();
        return;
    }
    // Not kept: a later offer of the file starts from its first byte, not from this content.
    const QString path = filePath + fileName;
    const QFileInfo info(path);
    if (info.isFile() && !info.isSymLink())
        QFile::remove(path);
    state.addText(!problem.isEmpty()
                      ? QStringLiteral("*** Error : Cannot check %1 - %2").arg(fileName, problem)
                      : QStringLiteral("*** Error : The received content of %1 differed from the sender's "
                                       "file - the file is not kept")
                            .arg(fileName),
                  LineKind::Error);
    spoiled = true;
    end(TransferEndCode::StoppedByError);
}

void FileReceiver::keepForRun()
{
    // Offered with "frun" and complete: the connections stay for the next files of the run.
    if (!setup.run || !everyByteConfirmed() || spoiled || (checked() && !checksum.matched)
        || dataSocket.state() != EventSocket::Connected || commandSocket.state() != EventSocket::Connected)
        return;
    sendAtOnce(CommandReader::text(CommandReader::RunReady));
    keepConnections = true;
}

void FileReceiver::onDataClosed()
{
    onDataArrived(); // the bytes that came before the close count
    if (isIn(Phase::Receiving) && done < size)
        dataLost(dataSocket.closedByReset());
}

void FileReceiver::waitOver()
{
    if (phase != Phase::Receiving)
        return;
    // A sender silent this long has stopped; with every byte here the file is done anyway.
    if (done == size) {
        finish();
        return;
    }
    // Closing the command connection lets the sender end "Incomplete" and offer the file
    // again; a "CANC_TRAN" would read as the user's refusal and stop its queue.
    status = QStringLiteral("Transfer Timed Out.");
    commandSocket.close();
    dataSocket.close();
    end(TransferEndCode::TimedOut);
}

bool FileReceiver::everyByteConfirmed() const
{
    // Done once the sender took our answer: its data connection came in, which every byte
    // needs, or, for an empty file, its "END_TRANS" came.
    return done == size && !noRetry && (streamTaken || endCame);
}
