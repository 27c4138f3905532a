#include "transfer/FileTransfer.h"

#include "core/Context.h"
#include "core/StatUpdate.h"
#include "session/Session.h"
#include "transfer/TransferRules.h"

#include <QFileInfo>
#include <QPointer>

#include <climits>

namespace {

constexpr int kBurstBlocks = 64; // blocks written at most in one turn of the event loop
constexpr qint64 kReceiveChunk = 256 * 1024; // received bytes held at most

QString reasonFor(int code)
{
    switch (code) {
    case 1: return QStringLiteral("Canceled By Sender");
    case 2: return QStringLiteral("Canceled By Receiver");
    case 3: return QStringLiteral("Stopped By Error");
    case 4: return QStringLiteral("Disconnected");
    case 5: return QStringLiteral("Canceled");
    case 6: return QStringLiteral("Timed Out");
    case 7: return QStringLiteral("Canceled (Receiver Has Complete File)");
    default: return QStringLiteral("Incomplete");
    }
}

} // namespace

FileTransfer::FileTransfer(Context& c, Session& sess, Prompts& p, const Setup& s, const TransferTimeouts& t,
                           QObject* parent)
    : QObject(parent), ctx(c), session(sess), prompts(p), setup(s), timeouts(t), NameOfFile(s.name),
      PathToFile(s.path), size(s.size)
{
    reader.quietMs = timeouts.quietMs;
    timeOutTimer.setSingleShot(true);
    waitTimer.setSingleShot(true);
    viewTimer.setSingleShot(true);
    burstTimer.setSingleShot(true);
    connect(&burstTimer, &QTimer::timeout, this, &FileTransfer::sendNextBlock);
    kpsTimer.setInterval(timeouts.kpsMs);
    connect(&timeOutTimer, &QTimer::timeout, this, &FileTransfer::onTimeOut);
    connect(&waitTimer, &QTimer::timeout, this, &FileTransfer::onWaitOver);
    connect(&kpsTimer, &QTimer::timeout, this, &FileTransfer::onKpsTick);
    connect(&viewTimer, &QTimer::timeout, this, [this] {
        if (viewDirty)
            emitView();
    });
    connect(&reader, &CommandReader::ready, this, &FileTransfer::onCommands);
    connect(&ctx, &Context::transferEndCodeChanged, this, &FileTransfer::onEndCodeChanged);

    connect(&sckSystem, &EventSocket::dataArrived, this, [this] { reader.feed(sckSystem.takeAll()); });
    connect(&sckSystem, &EventSocket::closed, this, &FileTransfer::onSystemClosed);
    connect(&sckSystem, &EventSocket::error, this, [this](int number, const QString& text) {
        onSocketError(QStringLiteral("Sys"), QStringLiteral("FN: Filebase.sckSystem_error"), number, text);
    });
    if (setup.type == Sending) {
        connect(&sckSystem, &EventSocket::connectionRequest, this, &FileTransfer::onSystemRequest);
        connect(&sckData, &EventSocket::connected, this, &FileTransfer::onSendConnected);
        connect(&sckData, &EventSocket::sendComplete, this, &FileTransfer::onBlockWritten);
        connect(&sckData, &EventSocket::error, this, [this](int number, const QString& text) {
            onSocketError(QStringLiteral("S"), QStringLiteral("FN: Filebase.SckSend_Error"), number, text);
        });
    } else {
        buffer.resize(kReceiveChunk);
        sckData.readBufferSize = kReceiveChunk;
        connect(&sckSystem, &EventSocket::connected, this, &FileTransfer::onSystemConnected);
        connect(&sckData, &EventSocket::connectionRequest, this, &FileTransfer::onReceiveRequest);
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
    v.SizeLabel = QStringLiteral("File Size : ") + (sending && !started ? QString() : QString::number(size));
    v.TotalLabel = (sending ? QStringLiteral("Total Sent : ") : QStringLiteral("Total Received : ")) +
                   (started ? QString::number(done) : QString());
    v.status = status;
    v.pctlabel = started && size > 0 ? QString::number(static_cast<qint64>(static_cast<double>(done) / size * 100.0)) +
                                           QStringLiteral("%")
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
    v.running = !finishedFlag;
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

void FileTransfer::startSending()
{
    file.setFileName(PathToFile);
    if (!file.open(QIODevice::ReadOnly)) {
        ctx.AddText(QStringLiteral("*** Error : Cannot read ") + PathToFile + QStringLiteral(" - ") + file.errorString(),
                    ErrorLine);
        noRetry = true;
        end(3);
        return;
    }
    size = file.size();
    blockSizeUsed = TransferRules::blockSize(size);
    ctx.AddText(QStringLiteral("*** Sending File : ") + NameOfFile + QStringLiteral(" (") + QString::number(size) +
                    QStringLiteral(" bytes)"),
                StatusLine);
    title = QStringLiteral("Sending");
    status = QStringLiteral("Waiting For Connection...");
    sckSystem.close();
    sckSystem.setListenAddress(ctx.listenAddress);
    sckSystem.setLocalPort(setup.port);
    if (!sckSystem.listen()) {
        ReportSockError(ctx, sckSystem.lastErrorNumber(), sckSystem.lastErrorText(), QStringLiteral("Sys"),
                        NameOfFile, QStringLiteral("FN: Filebase.sckSystem_error"));
        end(3);
        return;
    }
    sckData.setRemoteHost(setup.hostIP);
    sckData.setRemotePort(static_cast<quint16>(setup.port + 1));
    touch(true);
}

void FileTransfer::onSystemRequest(int requestId)
{
    sckSystem.close(); // one peer: stop listening
    sckSystem.accept(requestId);
    if (!fromPeer(sckSystem))
        return;
    if (sckSystem.state() == EventSocket::Connected) {
        status = QStringLiteral("Waiting On Receiver...");
        touch(true);
    }
}

void FileTransfer::onAnswer(bool resume, const QByteArray& offset)
{
    if (answered || closing)
        return;
    answered = true;
    timeOutTimer.stop();
    status = QStringLiteral("Sending File...");
    if (resume) {
        qint64 at = 0;
        if (!offset.isEmpty() && !TransferRules::parseSize(QString::fromLatin1(offset), at))
            at = -1;
        if (at < 0 || at > size) {
            ctx.AddText(QStringLiteral("*** Error : The receiver asked to resume %1 at byte %2, beyond its %3 bytes")
                            .arg(NameOfFile, QString::fromLatin1(offset), QString::number(size)),
                        ErrorLine);
            noRetry = true;
            end(3);
            return;
        }
        done = at;
        resumeAt = at;
    }
    sckData.connectToPeer();
    touch(true);
}

void FileTransfer::onSendConnected()
{
    if (closing)
        return;
    dataConnected = true;
    visibleFlag = true;
    if (!file.seek(done)) {
        fileError(QStringLiteral("Cannot read ") + PathToFile + QStringLiteral(" - ") + file.errorString());
        return;
    }
    started = true;
    secondsElapsed = 0;
    kpsTimer.start();
    touch(true);
    sendNextBlock();
}

void FileTransfer::sendNextBlock()
{
    // One block in flight: a block is read only once the previous one has been handed to
    // the system. While the system takes each block at once, several follow in one turn of
    // the event loop (a bounded burst), so that a fast connection is not held back by a
    // round trip through the loop per block.
    for (int i = 0; i < kBurstBlocks; ++i) {
        if (closing)
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
            fileError(QStringLiteral("Cannot read ") + PathToFile + QStringLiteral(" - ") +
                      (got < 0 || file.error() != QFileDevice::NoError ? file.errorString()
                                                                       : QStringLiteral("the file became shorter")));
            return;
        }
        done += n;
        totalsent += n;
        ++blockCount;
        sckData.send(buffer);
        sckData.flush();
        if (sckData.bytesToWrite() > 0) {
            blockInFlight = true; // sendComplete() brings the next block
            startWait(Wait::Block, timeouts.blockMs);
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
    if (closing)
        return;
    if (done >= size)
        lastBlockSent();
    else
        sendNextBlock();
}

void FileTransfer::lastBlockSent()
{
    kpsTimer.stop();
    if (gotAll)
        sendEnd();
    else
        startWait(Wait::GotAll, timeouts.gotAllMs);
}

void FileTransfer::sendEnd()
{
    file.close();
    kpsTimer.stop();
    if (sckSystem.state() == EventSocket::Connected)
        sendCommand(CommandReader::text(CommandReader::EndTransfer));
    startWait(Wait::Close, timeouts.closeMs);
}

// ---- receiving ----

void FileTransfer::startReceiving()
{
    const int choice = setup.existsChoice;
    const QString verb = choice == 1   ? QStringLiteral("Overwriting")
                         : choice == 2 ? QStringLiteral("Resuming")
                                       : QStringLiteral("Receiving");
    ctx.AddText(QStringLiteral("*** ") + verb + QStringLiteral(" File : ") + NameOfFile + QStringLiteral(" (") +
                    QString::number(size) + QStringLiteral(" bytes)"),
                StatusLine);
    title = QStringLiteral("Receiving");
    status = QStringLiteral("Connecting To Sender...");
    visibleFlag = true;
    sckSystem.close();
    sckSystem.setRemoteHost(setup.hostIP);
    sckSystem.setRemotePort(setup.port);
    sckSystem.connectToPeer();
    touch(true);
}

void FileTransfer::onSystemConnected()
{
    if (closing)
        return;
    sckData.close();
    sckData.setListenAddress(ctx.listenAddress);
    sckData.setLocalPort(static_cast<quint16>(setup.port + 1));
    if (!sckData.listen()) {
        ReportSockError(ctx, sckData.lastErrorNumber(), sckData.lastErrorText(), QStringLiteral("R"), NameOfFile,
                        QStringLiteral("FN: Filebase.sckReceive_error"));
        end(3);
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
    if (rq.choice == 2)
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
    started = true;
    secondsElapsed = 0;
    kpsTimer.start();
    status = QStringLiteral("Receiving File...");
    if (setup.existsChoice == 2)
        sendCommand(CommandReader::text(CommandReader::Resume) + QByteArray::number(resumeAt));
    else
        sendCommand(CommandReader::text(CommandReader::AcceptTransfer));
    if (done >= size) {
        gotAllSent = true; // an empty file is complete at once
        sendCommand(CommandReader::text(CommandReader::GotAll));
    }
    startWait(Wait::Idle, timeouts.idleMs);
    touch(true);
}

void FileTransfer::onReceiveRequest(int requestId)
{
    sckData.close();
    sckData.accept(requestId);
    if (!fromPeer(sckData))
        return;
    dataConnected = sckData.state() == EventSocket::Connected;
}

void FileTransfer::onDataArrived()
{
    // Read in pieces into one reused buffer: memory stays bounded whatever the size.
    for (;;) {
        const qint64 k = sckData.take(buffer.data(), buffer.size());
        if (k <= 0)
            break;
        if (closing || !file.isOpen())
            continue; // not ours to keep
        totalsent += k;
        // Never past the offered size: the rest of a chunk that straddles the end is dropped.
        const qint64 n = std::min<qint64>(k, size - done);
        if (n > 0) {
            QString why;
            if (!TargetFile::writeAll(file, buffer.constData(), n, why)) {
                fileError(QStringLiteral("Cannot write ") + PathToFile + NameOfFile + QStringLiteral(" - ") + why);
                return;
            }
            done += n;
        }
        if (!gotAllSent && done == size) {
            gotAllSent = true;
            sendCommand(CommandReader::text(CommandReader::GotAll));
        }
    }
    if (waiting == Wait::Idle)
        waitTimer.start(timeouts.idleMs);
    touch();
}

// ---- both sides ----

bool FileTransfer::fromPeer(EventSocket& socket)
{
    // Only the peer of the control connection may take part: anyone else who reaches the
    // port first is turned away and the port listens again.
    if (socket.state() == EventSocket::Connected && socket.remoteHostIP() == setup.hostIP)
        return true;
    const quint16 port = &socket == &sckSystem ? setup.port : static_cast<quint16>(setup.port + 1);
    socket.close();
    socket.setListenAddress(ctx.listenAddress);
    socket.setLocalPort(port);
    if (!socket.listen()) {
        ReportSockError(ctx, socket.lastErrorNumber(), socket.lastErrorText(), &socket == &sckSystem ? "Sys" : "R",
                        NameOfFile, QString());
        end(3);
    }
    return false;
}

void FileTransfer::sendCommand(const QByteArray& command)
{
    sckSystem.send(command);
}

void FileTransfer::onCommands()
{
    for (const CommandReader::Command& c : reader.take()) {
        if (finishedFlag)
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
                if (waiting == Wait::GotAll)
                    sendEnd();
            }
            break;
        case CommandReader::EndTransfer:
            if (setup.type == Receiving && !closing) {
                file.close();
                kpsTimer.stop();
                status = QStringLiteral("Transfer Complete.");
                finish();
            }
            break;
        case CommandReader::Cancel:
            if (cancelling)
                break; // both asked at once; our own cancel decides
            status = QStringLiteral("Transfer Canceled.");
            closing = true;
            sendCommand(CommandReader::text(CommandReader::CancelOkay));
            ctx.setTransferEndCode(setup.type == Receiving ? 1 : 2);
            break;
        case CommandReader::CancelOkay:
            if (cancelling && waiting == Wait::CancelAck)
                completeCancel();
            break;
        }
    }
}

void FileTransfer::onSystemClosed()
{
    if (cancelling) {
        completeCancel();
        return;
    }
    finish();
}

void FileTransfer::onSocketError(const QString& tag, const QString& where, int number, const QString& description)
{
    if (finishedFlag)
        return;
    if (cancelling) {
        completeCancel();
        return;
    }
    ReportSockError(ctx, number, description, tag, NameOfFile, where);
    end(3);
}

void FileTransfer::onTimeOut()
{
    if (sckData.state() == EventSocket::Connected)
        return;
    end(6);
}

void FileTransfer::startWait(Wait what, int ms)
{
    waiting = what;
    waitTimer.start(ms);
}

void FileTransfer::onWaitOver()
{
    const Wait what = std::exchange(waiting, Wait::None);
    switch (what) {
    case Wait::Block:
        if (!blockInFlight)
            return;
        status = QStringLiteral("File Send Timed Out.");
        blockInFlight = false;
        closing = true;
        sendEnd();
        break;
    case Wait::GotAll:
        sendEnd();
        break;
    case Wait::CancelAck:
        completeCancel();
        break;
    case Wait::Close:
        finish();
        break;
    case Wait::Idle:
        // A sender silent this long has stopped; with every byte here the file is done anyway.
        if (done == size) {
            finish();
        } else {
            status = QStringLiteral("Transfer Timed Out.");
            startCancel(6);
        }
        break;
    case Wait::None:
        break;
    }
}

void FileTransfer::onEndCodeChanged(int code)
{
    if (code == 0 || finishedFlag)
        return;
    closing = true;
    // Set by the control connection or a question; end on the next turn, outside its handler.
    QTimer::singleShot(0, this, &FileTransfer::finish);
}

void FileTransfer::onKpsTick()
{
    ++secondsElapsed;
    kbps = TransferRules::rate(totalsent, secondsElapsed);
    touch();
}

void FileTransfer::requestCancel()
{
    if (finishedFlag || cancelling || cancelQuestion || askingCancel)
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
    startCancel(5);
}

void FileTransfer::abandon()
{
    if (finishedFlag)
        return;
    if (!cancelling && sckSystem.state() == EventSocket::Connected) {
        sendCommand(CommandReader::text(CommandReader::Cancel));
        sckSystem.flush(); // the socket lingers on close, but the program may end right after
    }
    end(5);
}

void FileTransfer::fileError(const QString& problem)
{
    ctx.AddText(QStringLiteral("*** Error : ") + problem, ErrorLine);
    noRetry = true;
    file.close();
    startCancel(3);
}

void FileTransfer::startCancel(int code)
{
    if (finishedFlag || cancelling)
        return;
    closing = true;
    cancelling = true;
    cancelCode = code;
    kpsTimer.stop();
    if (sckSystem.state() == EventSocket::Connected) {
        sendCommand(CommandReader::text(CommandReader::Cancel));
        startWait(Wait::CancelAck, timeouts.cancelAckMs);
    } else {
        completeCancel();
    }
}

void FileTransfer::completeCancel()
{
    waitTimer.stop();
    waiting = Wait::None;
    end(cancelCode);
}

void FileTransfer::end(int code)
{
    if (finishedFlag)
        return;
    closing = true;
    if (ctx.TransferEndCode() == 0 || code == 5)
        ctx.setTransferEndCode(code);
    finish();
}

void FileTransfer::finish()
{
    if (finishedFlag)
        return;
    finishedFlag = true;
    closing = true;
    timeOutTimer.stop();
    waitTimer.stop();
    kpsTimer.stop();
    burstTimer.stop();
    if (cancelQuestion)
        prompts.withdraw(std::exchange(cancelQuestion, 0));

    const int code = ctx.TransferEndCode();
    finalEndCode = code;
    const bool sending = setup.type == Sending;
    // The sender counts as done only once the receiver confirmed every byte.
    completeFlag = done == size && (sending ? gotAll : !noRetry);
    if (!sending && code == 7) {
        completeFlag = false; // the peer says we already have it: nothing to report
    } else if (completeFlag) {
        outcome = QStringLiteral("*** File Transfer Complete : ") + NameOfFile + QStringLiteral(" (") +
                  QString::number(size) + QStringLiteral(" bytes)");
    } else {
        if (sending && code != 1 && code != 2 && code != 7 && !noRetry)
            putBackFlag = true;
        if (sending && code == 6)
            session.SendCtlMsg(QStringLiteral("FTIMEOUT"));
        if (code == 2 || code == 5)
            stopQueueFlag = true;
        outcome = QStringLiteral("*** File Transfer ") + reasonFor(code) + QStringLiteral(" : ") + NameOfFile;
    }
    if (!outcome.isEmpty())
        ctx.AddText(outcome, StatusLine);

    sckData.close();
    sckSystem.close();
    file.close();
    ctx.TransferBusy = false;
    viewTimer.stop();
    viewDirty = false;
    Q_EMIT viewChanged();
    Q_EMIT finished();
}
