#include "transfer/FileTransfer.h"

#include "core/PeerState.h"
#include "core/SocketErrorReport.h"
#include "session/Session.h"
#include "transfer/TokenGate.h"
#include "transfer/TransferRules.h"
#include "util/FileSystem.h"

#include <QFileInfo>
#include <QPointer>

#include <climits>

namespace {

constexpr int kBurstBlocks = 64;             // blocks written at most in one turn of the event loop
constexpr qint64 kReceiveChunk = 256 * 1024; // received bytes held at most
constexpr qint64 kCommandChunk = 4096;       // command bytes held at most

QString reasonFor(TransferEndCode code)
{
    switch (code) {
    case TransferEndCode::CanceledBySender:
        return QStringLiteral("Canceled By Sender");
    case TransferEndCode::CanceledByReceiver:
        return QStringLiteral("Canceled By Receiver");
    case TransferEndCode::StoppedByError:
        return QStringLiteral("Stopped By Error");
    case TransferEndCode::Disconnected:
        return QStringLiteral("Disconnected");
    case TransferEndCode::Canceled:
        return QStringLiteral("Canceled");
    case TransferEndCode::TimedOut:
        return QStringLiteral("Timed Out");
    case TransferEndCode::ReceiverHasFile:
        return QStringLiteral("Canceled (Receiver Has Complete File)");
    case TransferEndCode::None:
        break;
    }
    return QStringLiteral("Incomplete");
}

} // namespace

FileTransfer::FileTransfer(PeerState& c, Session& sess, Prompts& p, const Setup& s, const TransferTimeouts& t,
                           QObject* parent)
    : QObject(parent), ctx(c), session(sess), prompts(p), setup(s), timeouts(t),
      phase(s.type == Sending ? Phase::Listening : Phase::Connecting), NameOfFile(s.name), PathToFile(s.path),
      size(s.size)
{
    reader.quietMs = timeouts.quietMs;
    sckSystem.readBufferSize = kCommandChunk; // commands are short: a flood waits in the system
    reader.longQuietMs = timeouts.offsetWaitMs;
    for (QTimer* timer : {&timeOutTimer, &waitTimer, &viewTimer, &burstTimer, &gapTimer})
        timer->setSingleShot(true);
    connect(&burstTimer, &QTimer::timeout, this, &FileTransfer::sendNextBlock);
    kpsTimer.setInterval(timeouts.kpsMs);
    connect(&timeOutTimer, &QTimer::timeout, this, &FileTransfer::onTimeOut);
    connect(&waitTimer, &QTimer::timeout, this, &FileTransfer::onWaitOver);
    connect(&kpsTimer, &QTimer::timeout, this, &FileTransfer::onKpsTick);
    connect(&gapTimer, &QTimer::timeout, this, &FileTransfer::onCommandGap);
    connect(&viewTimer, &QTimer::timeout, this, [this] {
        if (viewDirty)
            emitView();
    });
    connect(&reader, &CommandReader::ready, this, &FileTransfer::onCommands);
    connect(&ctx, &PeerState::transferEndCodeChanged, this, &FileTransfer::onEndCodeChanged);
    connect(&session, &Session::sockClosed, this, &FileTransfer::onControlClosed);
    byeTimer.setSingleShot(true);
    connect(&byeTimer, &QTimer::timeout, this, &FileTransfer::finish);
    connect(&hasher, &FileHasher::done, this, &FileTransfer::onChecksum);

    connect(&listener, &EventSocket::connectionRequest, this, &FileTransfer::onListenerRequest);
    connect(&sckSystem, &EventSocket::dataArrived, this, [this] { reader.feed(sckSystem.takeAll()); });
    connect(&sckSystem, &EventSocket::closed, this, &FileTransfer::onSystemClosed);
    connect(&sckSystem, &EventSocket::error, this, [this](int number, const QString& text) {
        onSocketError(QStringLiteral("Sys"), QStringLiteral("FN: Filebase.sckSystem_error"), number, text);
    });
    connect(&sckData, &EventSocket::closed, this, &FileTransfer::onDataClosed);
    if (setup.type == Sending) {
        reader.offsetPlausible = [this](const QByteArray& digits) { return offsetPlausible(digits); };
        connect(&sckData, &EventSocket::connected, this, &FileTransfer::onSendConnected);
        connect(&sckData, &EventSocket::sendComplete, this, &FileTransfer::onBlockWritten);
        connect(&sckData, &EventSocket::error, this, [this](int number, const QString& text) {
            onSocketError(QStringLiteral("S"), QStringLiteral("FN: Filebase.SckSend_Error"), number, text);
        });
    } else {
        buffer.resize(kReceiveChunk);
        sckData.readBufferSize = kReceiveChunk;
        connect(&sckSystem, &EventSocket::connected, this, &FileTransfer::onSystemConnected);
        connect(&sckData, &EventSocket::dataArrived, this, &FileTransfer::onDataArrived);
        connect(&sckData, &EventSocket::error, this, [this](int number, const QString& text) {
            onSocketError(QStringLiteral("R"), QStringLiteral("FN: Filebase.sckReceive_error"), number, text);
        });
    }
}

FileTransfer::~FileTransfer()
{
    if (cancelQuestion)
        prompts.withdraw(cancelQuestion);
}

void FileTransfer::go()
{
    timeOutTimer.start(timeouts.acceptMs);
    if (setup.type == Sending)
        startSending();
    else
        startReceiving();
}

// ---- the view ----

TransferView FileTransfer::view() const
{
    using namespace TransferRules;
    TransferView v;
    const bool sending = setup.type == Sending;
    v.title = title;
    v.userlabel = cutEnd((sending ? QStringLiteral("To : ") : QStringLiteral("From : ")) + setup.userName, 34);
    v.FnameLabel = cutEnd(QStringLiteral("File : ") + NameOfFile, 37);
    v.SizeLabel = QStringLiteral("File Size : ") + (sending && !dataStarted ? QString() : QString::number(size));
    v.TotalLabel = (sending ? QStringLiteral("Total Sent : ") : QStringLiteral("Total Received : "))
                   + (dataStarted ? QString::number(done) : QString());
    v.status = status;
    v.pctlabel =
        dataStarted && size > 0
            ? QString::number(static_cast<qint64>(static_cast<double>(done) / size * 100.0)) + QStringLiteral("%")
            : QStringLiteral("100%");
    v.KPSlabel = secondsElapsed > 0 ? rateText(kbps) : QStringLiteral("0.00 KB/SEC");
    v.Elapsed = elapsedText(secondsElapsed);
    v.TimeLeft = secondsElapsed > 0 ? timeLeftText(size - done, kbps) : QStringLiteral("0:00");
    int shift = 0;
    while ((size >> shift) > INT_MAX)
        ++shift;
    v.progressMaximum = static_cast<int>(size >> shift);
    v.progressValue = static_cast<int>(std::min(done, size) >> shift);
    v.progressVisible = true;
    v.visible = visibleFlag;
    v.running = phase != Phase::Closed;
    return v;
}

void FileTransfer::touch(bool urgent)
{
    viewDirty = true;
    if (urgent || !viewTimer.isActive())
        emitView();
}

void FileTransfer::emitView()
{
    viewDirty = false;
    viewTimer.start(timeouts.viewMs);
    Q_EMIT viewChanged();
}

// ---- sending ----

namespace {

// The address the transfer listens on: the one the control connection runs over, so that
// the transfer ports are not open on every interface.
QHostAddress listenAddressFor(const PeerState& ctx, const Session& session)
{
    const QString local = session.controlSocket.localHostIP();
    return local.isEmpty() ? ctx.listenAddress : QHostAddress(local);
}

} // namespace

void FileTransfer::startSending()
{
    QString problem;
    if (!FileSystem::openRegularFile(file, PathToFile, {}, problem)) {
        ctx.addText(QStringLiteral("*** Error : Cannot read ") + PathToFile + QStringLiteral(" - ") + problem,
                    LineKind::Error);
        noRetry = true;
        end(TransferEndCode::StoppedByError);
        return;
    }
    size = file.size();
    blockSizeUsed = TransferRules::blockSize(size);
    offerBlock = TransferRules::offerBlockField(size).toLongLong();
    ctx.addText(QStringLiteral("*** Sending File : ") + NameOfFile + QStringLiteral(" (") + QString::number(size)
                    + QStringLiteral(" bytes)"),
                LineKind::Status);
    title = QStringLiteral("Sending");
    status = QStringLiteral("Waiting For Connection...");
    listener.setListenAddress(listenAddressFor(ctx, session));
    listener.setLocalPort(setup.port);
    if (!listener.listen()) {
        reportSocketError(ctx, listener.lastErrorNumber(), listener.lastErrorText(), QStringLiteral("Sys"), NameOfFile,
                          QStringLiteral("FN: Filebase.sckSystem_error"));
        end(TransferEndCode::StoppedByError);
        return;
    }
    sckData.setRemoteHost(setup.hostIP);
    sckData.setRemotePort(static_cast<quint16>(setup.port + 1));
    if (!setup.token.isEmpty()) {
        gate = std::make_unique<TokenGate>(sckSystem, QByteArrayLiteral("TOKEN_ID_") + setup.token);
        gate->waitMs = timeouts.tokenMs;
        connect(gate.get(), &TokenGate::proven, this, &FileTransfer::streamIn);
    }
    touch(true);
}

bool FileTransfer::offsetPlausible(const QByteArray& digits) const
{
    // A receiver resumes at 0 or at a whole number of offered blocks, two at least, inside
    // the file; digits that are not such a number may be the front of a longer one.
    qint64 at = 0;
    if (!TransferRules::parseSize(QString::fromLatin1(digits), at))
        return false;
    return at == 0 || (at % offerBlock == 0 && at >= 2 * offerBlock && at < size);
}

void FileTransfer::onAnswer(bool resume, const QByteArray& offset)
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
            ctx.addText(QStringLiteral("*** Error : The receiver asked to resume %1 at byte %2, beyond its %3 bytes")
                            .arg(NameOfFile, QString::fromLatin1(offset), QString::number(size)),
                        LineKind::Error);
            noRetry = true;
            end(TransferEndCode::StoppedByError);
            return;
        }
        done = at;
        resumeAt = at;
    }
    phase = Phase::Sending;
    sckData.connectToPeer();
    touch(true);
}

void FileTransfer::onSendConnected()
{
    if (phase != Phase::Sending)
        return;
    visibleFlag = true;
    if (!file.seek(done)) {
        fileError(QStringLiteral("Cannot read ") + PathToFile + QStringLiteral(" - ") + file.errorString());
        return;
    }
    dataStarted = true;
    secondsElapsed = 0;
    kpsTimer.start();
    touch(true);
    if (!setup.token.isEmpty())
        sckData.send(setup.token); // the receiver checks and strips it before the file's bytes
    // The whole file's checksum: from the blocks as they go out, or, when they start past
    // the beginning, read on the worker meanwhile.
    if (verifying() && done == 0)
        streamSum = std::make_unique<StreamChecksum>();
    else if (verifying())
        hasher.start(PathToFile, size);
    sendNextBlock();
}

void FileTransfer::sendNextBlock()
{
    // One block in flight: a block is read only once the previous one has been handed to
    // the system. While the system takes each block at once, several follow in one turn of
    // the event loop (a bounded burst), so that a fast connection is not held back by a
    // round trip through the loop per block.
    for (int i = 0; i < kBurstBlocks; ++i) {
        if (phase != Phase::Sending)
            return;
        const qint64 remaining = size - done;
        if (remaining <= 0) {
            lastBlockSent();
            return;
        }
        const qint64 n = std::min(blockSizeUsed, remaining);
        buffer.resize(n);
        const qint64 got = file.read(buffer.data(), n);
        if (got != n) {
            fileError(QStringLiteral("Cannot read ") + PathToFile + QStringLiteral(" - ")
                      + (got < 0 || file.error() != QFileDevice::NoError ? file.errorString()
                                                                         : QStringLiteral("the file became shorter")));
            return;
        }
        done += n;
        totalsent += n;
        ++blockCount;
        if (streamSum)
            streamSum->add(buffer.constData(), n);
        sckData.send(buffer);
        sckData.flush();
        if (sckData.bytesToWrite() > 0) {
            blockInFlight = true; // sendComplete() brings the next block
            startWait(timeouts.blockMs);
            touch();
            return;
        }
    }
    touch();
    burstTimer.start(0); // let other events have their turn, then go on
}

void FileTransfer::onBlockWritten()
{
    if (!blockInFlight)
        return;
    blockInFlight = false;
    if (phase != Phase::Sending)
        return;
    if (done >= size)
        lastBlockSent();
    else
        sendNextBlock();
}

void FileTransfer::lastBlockSent()
{
    kpsTimer.stop();
    if (streamSum && !ownSumDone) {
        ownSumDone = true;
        ownSum = streamSum->result();
    }
    // An empty file has no byte whose arrival a receiver could confirm: it is done as soon
    // as the data connection stands.
    if (gotAll || size == 0) {
        sendEnd();
        return;
    }
    phase = Phase::AwaitingGotAll;
    startWait(timeouts.gotAllMs);
}

void FileTransfer::sendEnd()
{
    if (verifying() && gotAll && !sumSent) {
        if (!ownSumDone) {
            endAwaitsSum = true; // our checksum is still being read; it brings the end
            phase = Phase::AwaitingGotAll;
            return;
        }
        sumSent = true;
        if (!ownSum.isEmpty()) {
            peerSum = ownSum; // what the receiver is to match
            sendCommand(CommandReader::text(CommandReader::Checksum) + ownSum.toLatin1());
        }
    }
    phase = Phase::Finished;
    file.close();
    kpsTimer.stop();
    if (sckSystem.state() == EventSocket::Connected)
        sendCommand(CommandReader::text(CommandReader::EndTransfer));
    startWait(timeouts.closeMs);
}

// ---- receiving ----

void FileTransfer::startReceiving()
{
    const ExistingFileChoice choice = setup.existsChoice;
    const QString verb = choice == ExistingFileChoice::Overwrite ? QStringLiteral("Overwriting")
                         : choice == ExistingFileChoice::Resume  ? QStringLiteral("Resuming")
                                                                 : QStringLiteral("Receiving");
    ctx.addText(QStringLiteral("*** ") + verb + QStringLiteral(" File : ") + NameOfFile + QStringLiteral(" (")
                    + QString::number(size) + QStringLiteral(" bytes)"),
                LineKind::Status);
    title = QStringLiteral("Receiving");
    status = QStringLiteral("Connecting To Sender...");
    visibleFlag = true;
    sckSystem.setRemoteHost(setup.hostIP);
    sckSystem.setRemotePort(setup.port);
    sckSystem.connectToPeer();
    touch(true);
}

void FileTransfer::onSystemConnected()
{
    if (phase != Phase::Connecting)
        return;
    listener.setListenAddress(QHostAddress(sckSystem.localHostIP()));
    listener.setLocalPort(static_cast<quint16>(setup.port + 1));
    if (!setup.token.isEmpty()) {
        gate = std::make_unique<TokenGate>(sckData, setup.token);
        gate->waitMs = timeouts.tokenMs;
        connect(gate.get(), &TokenGate::proven, this, &FileTransfer::streamIn);
        // Our first bytes on the command connection prove that we are the one offered to.
        sendCommand(QByteArrayLiteral("TOKEN_ID_") + setup.token);
    }
    if (!listener.listen()) {
        reportSocketError(ctx, listener.lastErrorNumber(), listener.lastErrorText(), QStringLiteral("R"), NameOfFile,
                          QStringLiteral("FN: Filebase.sckReceive_error"));
        end(TransferEndCode::StoppedByError);
        return;
    }
    answerSender();
}

bool FileTransfer::openTarget(QString& problem)
{
    TargetFile::Request rq;
    rq.root = setup.root;
    rq.folder = PathToFile;
    rq.name = NameOfFile;
    rq.choice = setup.existsChoice;
    rq.newName = setup.newName;
    rq.size = size;
    rq.block = setup.block;
    if (rq.choice == ExistingFileChoice::Resume)
        title = QStringLiteral("Resume Receiving");
    const bool opened = target.open(file, rq, problem);
    NameOfFile = target.name();
    if (!opened)
        return false;
    resumeAt = target.resumeAt();
    done = resumeAt;
    return true;
}

void FileTransfer::answerSender()
{
    QString problem;
    if (!openTarget(problem)) {
        fileError(problem);
        return;
    }
    timeOutTimer.stop();
    phase = Phase::Receiving;
    if (verifying() && done == 0) {
        streamSum = std::make_unique<StreamChecksum>(); // the bytes as they are written
    } else if (verifying()) {
        // A resumed file: what is on disk, read through a descriptor of its own on the worker,
        // trailing the writes.
        hasher.start(QStringLiteral("/proc/self/fd/%1").arg(file.handle()));
        hasher.extend(done);
    }
    dataStarted = true;
    secondsElapsed = 0;
    kpsTimer.start();
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

void FileTransfer::onDataArrived()
{
    // Read in pieces into one reused buffer: memory stays bounded whatever the size.
    for (;;) {
        const qint64 k = sckData.take(buffer.data(), buffer.size());
        if (k <= 0)
            break;
        if (phase != Phase::Receiving || !file.isOpen())
            continue; // not ours to keep
        totalsent += k;
        // Never past the offered size.
        const qint64 n = std::min<qint64>(k, size - done);
        if (n > 0) {
#ifdef ZANTIRO_TEST_HOOKS
            if (setup.testFlipByteAt >= done && setup.testFlipByteAt < done + n)
                buffer[setup.testFlipByteAt - done] = static_cast<char>(~buffer[setup.testFlipByteAt - done]);
#endif
            QString why;
            if (!TargetFile::writeAll(file, buffer.constData(), n, why)) {
                fileError(QStringLiteral("Cannot write ") + PathToFile + NameOfFile + QStringLiteral(" - ") + why);
                return;
            }
            done += n;
            if (streamSum)
                streamSum->add(buffer.constData(), n);
            else if (verifying())
                hasher.extend(done);
        }
        if (!gotAllSent && done == size) {
            gotAllSent = true;
            sendCommand(CommandReader::text(CommandReader::GotAll));
        }
        if (k > n) {
            // A sender that goes on past the offered size would hold the one transfer slot
            // for as long as it liked.
            stopWithError(QStringLiteral("*** Error : The sender sent more than the offered %1 bytes : %2")
                              .arg(QString::number(size), NameOfFile));
            return;
        }
    }
    if (phase == Phase::Receiving)
        waitTimer.start(timeouts.idleMs);
    touch();
}

// ---- both sides ----

void FileTransfer::onListenerRequest(int requestId)
{
    if (phase == Phase::Closed)
        return; // refused
    const QString from = listener.requestAddress(requestId);
    const quint16 port = listener.localPort();
    if (gate) {
        // Only a connection that proves the token counts; any other is closed unheard, and
        // the transfer goes on.
        if (from != setup.hostIP || gate->passed())
            listener.refuse(requestId);
        else
            gate->admit(listener, requestId);
        return;
    }
    if (streamTaken) {
        // Only one connection belongs on this port. Whoever came second, the race is made
        // visible instead of being won quietly by a stranger.
        listener.refuse(requestId);
        stopWithError(QStringLiteral("*** Error : A second connection came to transfer port %1 from %2 - the "
                                     "transfer is stopped : %3")
                          .arg(QString::number(port), from, NameOfFile));
        return;
    }
    if (from != setup.hostIP)
        return; // not the peer of the control connection: turned away, the port listens on
    listener.handOver(requestId, setup.type == Sending ? sckSystem : sckData);
    streamIn();
}

void FileTransfer::streamIn()
{
    if (phase == Phase::Closed)
        return;
    streamTaken = true;
    if (setup.type == Sending) {
        phase = Phase::Accepted;
        status = QStringLiteral("Waiting On Receiver...");
        touch(true);
        if (sckSystem.bytesAvailable() > 0)
            reader.feed(sckSystem.takeAll()); // the answer may have come with the proof
        return;
    }
    // The sender connects only after it took our answer: the next command may follow at once.
    gapTimer.stop();
    onCommandGap();
    if (phase == Phase::Receiving && done >= size && !gotAllSent) {
        gotAllSent = true; // an empty file: nothing will arrive to confirm
        sendCommand(CommandReader::text(CommandReader::GotAll));
    }
    if (sckData.bytesAvailable() > 0)
        onDataArrived(); // the file's first bytes may have come with the proof
}

void FileTransfer::onCommands()
{
    for (const CommandReader::Command& c : reader.take()) {
        if (phase == Phase::Cancelling) {
            // Our own cancel decides, also when both asked at once.
            if (c.kind == CommandReader::CancelOkay)
                end(cancelCode);
            continue;
        }
        if (phase == Phase::Closed)
            return;
        switch (c.kind) {
        case CommandReader::AcceptTransfer:
        case CommandReader::Resume:
            if (setup.type == Sending)
                onAnswer(c.kind == CommandReader::Resume, c.argument);
            break;
        case CommandReader::GotAll:
            if (setup.type == Sending) {
                gotAll = true;
                if (phase == Phase::AwaitingGotAll)
                    sendEnd();
            }
            break;
        case CommandReader::EndTransfer:
            endCame = endCame || phase == Phase::Receiving;
            if (setup.type == Receiving && checked() && phase == Phase::Receiving && done == size) {
                // Complete only once our checksum of what is on disk matches the sender's.
                phase = Phase::Verifying;
                kpsTimer.stop();
                waitTimer.stop();
                status = QStringLiteral("Checking The File...");
                touch(true);
                if (streamSum)
                    verdict(streamSum->result() == peerSum);
                else if (ownSumDone) // reading it back failed already
                    verdict(false, sumProblem);
                else
                    hasher.finish(size);
            } else if (setup.type == Receiving) {
                file.close();
                kpsTimer.stop();
                status = QStringLiteral("Transfer Complete.");
                finish();
            }
            break;
        case CommandReader::Cancel:
            status = QStringLiteral("Transfer Canceled.");
            sendCommand(CommandReader::text(CommandReader::CancelOkay));
            end(setup.type == Receiving ? TransferEndCode::CanceledBySender : TransferEndCode::CanceledByReceiver);
            break;
        case CommandReader::CancelOkay:
            break; // nothing of ours to confirm
        case CommandReader::Checksum:
            if (setup.type == Receiving && verifying())
                peerSum = QString::fromLatin1(c.argument).toLower();
            break;
        case CommandReader::SumMatch:
        case CommandReader::SumDiffers:
            if (setup.type == Sending && checked() && !verified) {
                if (c.kind == CommandReader::SumMatch) {
                    verified = true;
                } else {
                    ctx.addText(QStringLiteral("*** Error : The receiver's copy of %1 differed from the file sent - "
                                               "it is offered again")
                                    .arg(NameOfFile),
                                LineKind::Error);
                    spoiled = true;
                    end(TransferEndCode::StoppedByError);
                    return;
                }
            }
            break;
        }
    }
}

void FileTransfer::onSystemClosed()
{
    if (phase == Phase::Closed)
        return;
    if (setup.verify && sckSystem.bytesAvailable() > 0) {
        reader.feed(sckSystem.takeAll()); // a verdict that came with the close
        if (phase == Phase::Closed)
            return;
    }
    if (phase == Phase::Verifying)
        return; // the checksum decides; the sender has nothing more to say
    if (phase == Phase::Cancelling) {
        end(cancelCode);
        return;
    }
    // A reset while the transfer still needed the connection is an error of the peer's side
    // (it stopped the transfer, or a stranger raced it); an orderly close is the normal end,
    // decided by the bytes that moved.
    if (sckSystem.closedByReset() && phase != Phase::Finished && phase != Phase::Cancelling
        && !(setup.type == Receiving && done == size)) {
        ctx.addText(QStringLiteral("*** Error : The peer reset the transfer connection : ") + NameOfFile,
                    LineKind::Error);
        end(TransferEndCode::StoppedByError);
        return;
    }
    finish();
}

void FileTransfer::onDataClosed()
{
    if (setup.type == Sending && phase == Phase::AwaitingGotAll) {
        dataEndedBeforeGotAll(sckData.closedByReset());
        return;
    }
    const bool early = setup.type == Sending ? phase == Phase::Sending : phase == Phase::Receiving && done < size;
    if (early)
        dataLost(sckData.closedByReset());
}

void FileTransfer::dataEndedBeforeGotAll(bool reset)
{
    // Every byte was handed to the system, but that is not every byte received: without
    // "Got All" soon, the rest was lost with the connection.
    if (dataGone)
        return;
    dataGone = true;
    dataGoneByReset = reset;
    startWait(std::min(timeouts.dataGoneMs, timeouts.gotAllMs));
}

void FileTransfer::dataLost(bool reset)
{
    const bool sending = setup.type == Sending;
    const QString how = reset ? QStringLiteral("reset") : QStringLiteral("closed");
    if (sending && done == size) // every byte handed over, but not confirmed
        ctx.addText(
            QStringLiteral("*** Error : The receiver %1 the data connection before confirming all %2 bytes : %3")
                .arg(how, QString::number(size), NameOfFile),
            LineKind::Error);
    else
        ctx.addText(QStringLiteral("*** Error : The %1 %2 the data connection after %3 of %4 bytes : %5")
                        .arg(sending ? QStringLiteral("receiver") : QStringLiteral("sender"), how,
                             QString::number(done), QString::number(size), NameOfFile),
                    LineKind::Error);
    sckSystem.close();
    end(TransferEndCode::StoppedByError);
}

void FileTransfer::onSocketError(const QString& tag, const QString& where, int number, const QString& description)
{
    if (phase == Phase::Closed)
        return;
    if (phase == Phase::Cancelling) {
        end(cancelCode);
        return;
    }
    if (tag != QLatin1String("Sys") && phase == Phase::AwaitingGotAll) {
        dataEndedBeforeGotAll(number == 10054);
        return;
    }
    if (tag != QLatin1String("Sys") && phase == Phase::Finished)
        return; // "END_TRANS" is out; the close decides
    if (number == 10054 && tag != QLatin1String("Sys")) {
        dataLost(true);
        return;
    }
    reportSocketError(ctx, number, description, tag, NameOfFile, where);
    end(TransferEndCode::StoppedByError);
}

void FileTransfer::onTimeOut()
{
    if (sckData.state() == EventSocket::Connected)
        return;
    end(TransferEndCode::TimedOut);
}

void FileTransfer::startWait(int ms)
{
    waitTimer.start(ms);
}

void FileTransfer::onWaitOver()
{
    switch (phase) {
    case Phase::Sending:
        if (!blockInFlight)
            return;
        status = QStringLiteral("File Send Timed Out.");
        blockInFlight = false;
        sendEnd();
        break;
    case Phase::AwaitingGotAll:
        if (dataGone)
            dataLost(dataGoneByReset);
        else
            sendEnd();
        break;
    case Phase::Cancelling:
        end(cancelCode);
        break;
    case Phase::Finished:
        finish();
        break;
    case Phase::Receiving:
        // A sender silent this long has stopped; with every byte here the file is done anyway.
        if (done == size) {
            finish();
            return;
        }
        // Closing the command connection lets the sender end "Incomplete" and offer the
        // file again; a "CANC_TRAN" would read as the user's refusal and stop its queue.
        status = QStringLiteral("Transfer Timed Out.");
        sckSystem.close();
        sckData.close();
        end(TransferEndCode::TimedOut);
        break;
    default:
        break;
    }
}

void FileTransfer::onEndCodeChanged(TransferEndCode code)
{
    if (code == TransferEndCode::None || phase == Phase::Closed || byeTimer.isActive())
        return;
    if (code == TransferEndCode::Disconnected && session.isConnected()) {
        // The user's Disconnect: our "bye" is on its way. Ending now could reach the peer
        // before it, and the peer would offer the file again on a connection that is going
        // away; the transfer ends when the peer has closed, or after byeMs.
        byeTimer.start(timeouts.byeMs);
        return;
    }
    // Set by the control connection or a question; end on the next turn, outside its handler.
    QTimer::singleShot(0, this, &FileTransfer::finish);
}

void FileTransfer::onControlClosed()
{
    if (phase == Phase::Closed)
        return;
    if (byeTimer.isActive()) {
        byeTimer.start(0); // the peer has read our "bye": end on the next turn
        return;
    }
    // An offer of ours that nobody can answer any more ends now, instead of timing out a
    // minute later; the file goes back to the front for the next login.
    if (setup.type == Sending && awaitingAnswer())
        QTimer::singleShot(0, this, [this] {
            if (phase != Phase::Closed && awaitingAnswer())
                end(TransferEndCode::Disconnected);
        });
}

void FileTransfer::onKpsTick()
{
    ++secondsElapsed;
    kbps = TransferRules::rate(totalsent, secondsElapsed);
    touch();
}

void FileTransfer::requestCancel()
{
    if (ending() || cancelQuestion || askingCancel)
        return;
    askingCancel = true;
    QPointer<FileTransfer> self(this);
    const Prompts::Id id = prompts.askYesNo(
        {QStringLiteral("Cancel Send?"), QStringLiteral("Are you sure you want to end the file transfer?")},
        [self](bool yes) {
            if (!self)
                return;
            self->askingCancel = false;
            self->cancelQuestion = 0;
            if (yes)
                self->cancelConfirmed();
        });
    if (askingCancel)
        cancelQuestion = id;
    askingCancel = false;
}

void FileTransfer::cancelConfirmed()
{
    startCancel(TransferEndCode::Canceled);
}

void FileTransfer::abandon()
{
    if (phase == Phase::Closed)
        return;
    if (phase != Phase::Cancelling && sckSystem.state() == EventSocket::Connected) {
        // The program is leaving: this goes out now, whatever the spacing of commands.
        sckSystem.send(CommandReader::text(CommandReader::Cancel));
        sckSystem.flush(); // the socket lingers on close, but the program may end right after
    }
    end(TransferEndCode::Canceled);
}

void FileTransfer::fileError(const QString& problem)
{
    // The peer is told by "CANC_TRAN", which stops a sender's queue: offering the file again
    // would meet the same full disk or unwritable folder.
    ctx.addText(QStringLiteral("*** Error : ") + problem, LineKind::Error);
    noRetry = true;
    file.close();
    startCancel(TransferEndCode::StoppedByError);
}

void FileTransfer::stopWithError(const QString& line)
{
    ctx.addText(line, LineKind::Error);
    spoiled = true;
    sckData.reset();
    sckSystem.reset();
    end(TransferEndCode::StoppedByError);
}

void FileTransfer::startCancel(TransferEndCode code)
{
    if (ending())
        return;
    cancelCode = code;
    kpsTimer.stop();
    burstTimer.stop();
    blockInFlight = false;
    if (sckSystem.state() == EventSocket::Connected) {
        sendCommand(CommandReader::text(CommandReader::Cancel));
        phase = Phase::Cancelling; // "CANC_OKAY", the peer's close or the bound ends it
        startWait(timeouts.cancelAckMs);
    } else {
        end(code);
    }
}

void FileTransfer::end(TransferEndCode code)
{
    if (phase == Phase::Closed)
        return;
    if (ctx.transferEndCode() == TransferEndCode::None || code == TransferEndCode::Canceled)
        ctx.setTransferEndCode(code);
    finish();
}

void FileTransfer::finish()
{
    if (phase == Phase::Closed)
        return;
    const Phase last = phase;
    phase = Phase::Closed;
    for (QTimer* timer : {&timeOutTimer, &waitTimer, &kpsTimer, &burstTimer, &gapTimer, &byeTimer})
        timer->stop();
    outbox.clear(); // the close tells the peer the rest
    if (cancelQuestion)
        prompts.withdraw(std::exchange(cancelQuestion, 0));

    const TransferEndCode code = ctx.transferEndCode();
    finalEndCode = code;
    const bool sending = setup.type == Sending;
    // The sender counts as done only once the receiver confirmed every byte (an empty file
    // once the data connection stood and "END_TRANS" went out); the receiver once the
    // sender took our answer: its data connection came in, which every byte needs, or, for
    // an empty file, its "END_TRANS" came.
    completeFlag =
        done == size
        && (sending ? gotAll || (size == 0 && last == Phase::Finished) : !noRetry && (streamTaken || endCame));
    if (spoiled || (checked() && !verified))
        completeFlag = false;
    if (!sending && code == TransferEndCode::ReceiverHasFile) {
        completeFlag = false; // the peer says we already have it: nothing to report
    } else if (completeFlag) {
        outcome = QStringLiteral("*** File Transfer Complete : ") + NameOfFile + QStringLiteral(" (")
                  + QString::number(size) + QStringLiteral(" bytes)");
    } else {
        if (sending && code != TransferEndCode::CanceledBySender && code != TransferEndCode::CanceledByReceiver
            && code != TransferEndCode::ReceiverHasFile && !noRetry)
            putBackFlag = true;
        if (sending && code == TransferEndCode::TimedOut)
            session.sendControlMessage(QStringLiteral("FTIMEOUT"));
        if (code == TransferEndCode::CanceledByReceiver || code == TransferEndCode::Canceled)
            stopQueueFlag = true;
        outcome = QStringLiteral("*** File Transfer ") + reasonFor(code) + QStringLiteral(" : ") + NameOfFile;
    }
    if (!outcome.isEmpty())
        ctx.addText(outcome, LineKind::Status);

    listener.close();
    sckData.close();
    sckSystem.close();
    file.close();
    hasher.stop();
    gate.reset();
    ctx.transferBusy = false;
    viewTimer.stop();
    viewDirty = false;
    Q_EMIT viewChanged();
    Q_EMIT finished();
}

void FileTransfer::sendCommand(const QByteArray& command)
{
    // A peer of this program reads commands from the stream however TCP cuts it: they need
    // a write each, but no pause between them.
    const bool spaced = setup.token.isEmpty() && !setup.verify;
    if (spaced && gapTimer.isActive()) {
        outbox.append(command);
        return;
    }
    sckSystem.send(command);
    sckSystem.flush();
    if (spaced)
        gapTimer.start(timeouts.commandGapMs);
}

void FileTransfer::onCommandGap()
{
    if (!outbox.isEmpty())
        sendCommand(outbox.takeFirst());
}

// ---- checksums ----

void FileTransfer::onChecksum(const QString& checksum, const QString& problem)
{
    if (phase == Phase::Closed)
        return;
    if (setup.type == Sending) {
        ownSumDone = true;
        ownSum = checksum;
        if (checksum.isEmpty())
            ctx.addText(QStringLiteral("*** Error : Cannot check %1 - %2").arg(NameOfFile, problem), LineKind::Error);
        if (std::exchange(endAwaitsSum, false))
            sendEnd();
        return;
    }
    if (phase == Phase::Verifying) {
        verdict(!checksum.isEmpty() && checksum == peerSum, problem);
    } else {
        ownSumDone = true; // a failure before the end; the end decides
        sumProblem = problem;
    }
}

void FileTransfer::verdict(bool same, const QString& problem)
{
    // The last word on the command connection: sent now, whatever the spacing of commands.
    sckSystem.send(CommandReader::text(same ? CommandReader::SumMatch : CommandReader::SumDiffers));
    sckSystem.flush();
    file.close();
    if (same) {
        verified = true;
        status = QStringLiteral("Transfer Complete.");
        finish();
        return;
    }
    // Not kept: a later offer of the file starts from its first byte, not from this content.
    const QString target = PathToFile + NameOfFile;
    const QFileInfo info(target);
    if (info.isFile() && !info.isSymLink())
        QFile::remove(target);
    ctx.addText(!problem.isEmpty() ? QStringLiteral("*** Error : Cannot check %1 - %2").arg(NameOfFile, problem)
                                   : QStringLiteral("*** Error : The received content of %1 differed from the sender's "
                                                    "file - the file is not kept")
                                         .arg(NameOfFile),
                LineKind::Error);
    spoiled = true;
    end(TransferEndCode::StoppedByError);
}
