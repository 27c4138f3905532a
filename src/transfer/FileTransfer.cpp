#include "transfer/FileTransfer.h"

#include "core/PeerState.h"
#include "core/SocketErrorReport.h"
#include "session/Session.h"
#include "transfer/TokenGate.h"
#include "transfer/TransferRules.h"

#include <QPointer>

namespace {

constexpr qint64 kCommandChunk = 4096; // command bytes held at most

} // namespace

QString FileTransfer::reasonText(TransferEndCode code)
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

FileTransfer::FileTransfer(PeerState& peerState, Session& sess, Prompts& p, const Setup& s, const TransferTimeouts& t,
                           QObject* parent)
    : TransferActivity(parent), state(peerState), session(sess), prompts(p), setup(s), timeouts(t), fileName(s.name),
      filePath(s.path), size(s.size)
{
    reader.quietMs = timeouts.quietMs;
    commandSocket.readBufferSize = kCommandChunk; // commands are short: a flood waits in the system
    reader.longQuietMs = timeouts.offsetWaitMs;
    for (QTimer* timer : {&timeOutTimer, &waitTimer, &viewTimer, &gapTimer, &byeTimer})
        timer->setSingleShot(true);
    rateTimer.setInterval(timeouts.kpsMs);
    connect(&timeOutTimer, &QTimer::timeout, this, &FileTransfer::onTimeOut);
    connect(&waitTimer, &QTimer::timeout, this, &FileTransfer::onWaitTimer);
    connect(&rateTimer, &QTimer::timeout, this, &FileTransfer::onRateTick);
    connect(&gapTimer, &QTimer::timeout, this, &FileTransfer::sendNextQueuedCommand);
    connect(&viewTimer, &QTimer::timeout, this, [this] {
        if (viewDirty)
            emitView();
    });
    connect(&reader, &CommandReader::ready, this, &FileTransfer::onCommands);
    connect(&state, &PeerState::transferEndCodeChanged, this, &FileTransfer::onEndCodeChanged);
    connect(&session, &Session::connectionStateChanged, this, [this](Session::State connection) {
        if (connection == Session::State::Idle)
            onControlClosed();
    });
    connect(&byeTimer, &QTimer::timeout, this, &FileTransfer::finish);
    connect(&checksum, &TransferChecksum::done, this, [this](const QString& sum, const QString& problem) {
        if (stage != Stage::Closed)
            onChecksum(sum, problem);
    });

    if (!setup.tls.isNull()) {
        for (EventSocket* socket : {&listener, &commandSocket, &dataSocket}) {
            socket->setTls(setup.tls, setup.peerKey);
            socket->encryptOnConnect = true;
        }
    }
    connect(&listener, &EventSocket::connectionRequest, this, &FileTransfer::onListenerRequest);
    connect(&commandSocket, &EventSocket::dataArrived, this, [this] { reader.feed(commandSocket.takeAll()); });
    connect(&commandSocket, &EventSocket::closed, this, &FileTransfer::onCommandClosed);
    connect(&commandSocket, &EventSocket::error, this, [this](int number, const QString& text) {
        onSocketError(false, QStringLiteral("Sys"), QStringLiteral("FN: Filebase.sckSystem_error"), number, text);
    });
    connect(&dataSocket, &EventSocket::closed, this, [this] { onDataClosed(); });
}

FileTransfer::~FileTransfer()
{
    withdrawCancelQuestion();
}

void FileTransfer::start()
{
    timeOutTimer.start(timeouts.acceptMs);
    begin();
}

// ---- the view ----

TransferView FileTransfer::view() const
{
    using namespace TransferRules;
    TransferView v;
    const bool sending = type() == Sending;
    v.title = title;
    v.setNames(sending, setup.userName, fileName);
    v.sizeText = QStringLiteral("File Size : ") + (sending && !dataStarted ? QString() : QString::number(size));
    v.movedText = TransferView::movedLabel(sending) + (dataStarted ? QString::number(done) : QString());
    v.stateText = status;
    v.percentText = dataStarted ? TransferView::percentOf(done, size) : QStringLiteral("100%");
    v.rateText = secondsElapsed > 0 ? rateText(kilobytesPerSecond) : QStringLiteral("0.00 KB/SEC");
    v.elapsedText = elapsedText(secondsElapsed);
    v.timeLeftText = secondsElapsed > 0 ? timeLeftText(size - done, kilobytesPerSecond) : QStringLiteral("0:00");
    v.setProgress(done, size);
    v.visible = windowVisible;
    v.running = stage != Stage::Closed;
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

void FileTransfer::startCounting()
{
    dataStarted = true;
    secondsElapsed = 0;
    rateTimer.start();
}

void FileTransfer::onRateTick()
{
    ++secondsElapsed;
    kilobytesPerSecond = TransferRules::rate(movedThisRun, secondsElapsed);
    touch();
}

// ---- the connections ----

void FileTransfer::requireToken(EventSocket& socket, const QByteArray& proof)
{
    gate = std::make_unique<TokenGate>(socket, proof);
    gate->waitMs = timeouts.tokenMs;
    if (!setup.tls.isNull())
        gate->requireTls(setup.tls, setup.peerKey);
    connect(gate.get(), &TokenGate::proven, this, &FileTransfer::streamIn);
}

void FileTransfer::onListenerRequest(int requestId)
{
    if (stage == Stage::Closed)
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
                          .arg(QString::number(port), from, fileName));
        return;
    }
    if (from != setup.hostIP)
        return; // not the peer of the control connection: turned away, the port listens on
    listener.handOver(requestId, streamSocket());
    streamIn();
}

void FileTransfer::streamIn()
{
    if (stage == Stage::Closed)
        return;
    streamTaken = true;
    onStreamTaken();
}

void FileTransfer::onCommands()
{
    for (const CommandReader::Command& command : reader.take()) {
        if (stage == Stage::Cancelling) {
            // Our own cancel decides, also when both asked at once.
            if (command.kind == CommandReader::CancelOkay)
                end(cancelCode);
            continue;
        }
        if (stage == Stage::Closed)
            return;
        if (command.kind == CommandReader::Cancel) {
            status = QStringLiteral("Transfer Canceled.");
            sendCommand(CommandReader::text(CommandReader::CancelOkay));
            end(type() == Receiving ? TransferEndCode::CanceledBySender : TransferEndCode::CanceledByReceiver);
        } else if (command.kind != CommandReader::CancelOkay) { // nothing of ours to confirm
            receiveCommand(command);
        }
    }
}

void FileTransfer::onCommandClosed()
{
    if (stage == Stage::Closed)
        return;
    if (setup.verify && commandSocket.bytesAvailable() > 0) {
        reader.feed(commandSocket.takeAll()); // a verdict that came with the close
        if (stage == Stage::Closed)
            return;
    }
    if (running() && decidesOnClose())
        return; // the checksum decides; the sender has nothing more to say
    if (stage == Stage::Cancelling) {
        end(cancelCode);
        return;
    }
    // A reset while the transfer still needed the connection is an error of the peer's side
    // (it stopped the transfer, or a stranger raced it); an orderly close is the normal end,
    // decided by the bytes that moved.
    if (commandSocket.closedByReset() && !closeExpected()) {
        state.addText(QStringLiteral("*** Error : The peer reset the transfer connection : ") + fileName,
                      LineKind::Error);
        end(TransferEndCode::StoppedByError);
        return;
    }
    finish();
}

void FileTransfer::dataLost(bool reset)
{
    const bool sending = type() == Sending;
    const QString how = reset ? QStringLiteral("reset") : QStringLiteral("closed");
    if (sending && done == size) // every byte handed over, but not confirmed
        state.addText(
            QStringLiteral("*** Error : The receiver %1 the data connection before confirming all %2 bytes : %3")
                .arg(how, QString::number(size), fileName),
            LineKind::Error);
    else
        state.addText(QStringLiteral("*** Error : The %1 %2 the data connection after %3 of %4 bytes : %5")
                          .arg(sending ? QStringLiteral("receiver") : QStringLiteral("sender"), how,
                               QString::number(done), QString::number(size), fileName),
                      LineKind::Error);
    commandSocket.close();
    end(TransferEndCode::StoppedByError);
}

void FileTransfer::onSocketError(bool data, const QString& tag, const QString& where, int number,
                                 const QString& description)
{
    if (stage == Stage::Closed)
        return;
    if (stage == Stage::Cancelling) {
        end(cancelCode);
        return;
    }
    if (data && dataErrorHandled(number))
        return;
    if (data && number == 10054) {
        dataLost(true);
        return;
    }
    reportSocketError(state, number, description, tag, fileName, where);
    end(TransferEndCode::StoppedByError);
}

// ---- waits ----

void FileTransfer::onTimeOut()
{
    if (dataSocket.state() == EventSocket::Connected)
        return;
    end(TransferEndCode::TimedOut);
}

void FileTransfer::onWaitTimer()
{
    if (stage == Stage::Cancelling)
        end(cancelCode);
    else if (stage == Stage::Running)
        waitOver();
}

void FileTransfer::onEndCodeChanged(TransferEndCode code)
{
    if (code == TransferEndCode::None || stage == Stage::Closed || byeTimer.isActive())
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
    if (stage == Stage::Closed)
        return;
    if (byeTimer.isActive()) {
        byeTimer.start(0); // the peer has read our "bye": end on the next turn
        return;
    }
    // An offer of ours that nobody can answer any more ends now, instead of timing out a
    // minute later; the file goes back to the front for the next login.
    if (awaitingAnswer())
        QTimer::singleShot(0, this, [this] {
            if (stage != Stage::Closed && awaitingAnswer())
                end(TransferEndCode::Disconnected);
        });
}

// ---- cancelling and the end ----

void FileTransfer::cancelConfirmed()
{
    startCancel(TransferEndCode::Canceled);
}

void FileTransfer::abandon()
{
    if (stage == Stage::Closed)
        return;
    if (stage != Stage::Cancelling && commandSocket.state() == EventSocket::Connected) {
        // The program is leaving: this goes out now, whatever the spacing of commands.
        commandSocket.send(CommandReader::text(CommandReader::Cancel));
        commandSocket.flush(); // the socket lingers on close, but the program may end right after
    }
    end(TransferEndCode::Canceled);
}

void FileTransfer::fileError(const QString& problem)
{
    // The peer is told by "CANC_TRAN", which stops a sender's queue: offering the file again
    // would meet the same full disk or unwritable folder.
    state.addText(QStringLiteral("*** Error : ") + problem, LineKind::Error);
    noRetry = true;
    file.close();
    startCancel(TransferEndCode::StoppedByError);
}

void FileTransfer::stopWithError(const QString& line)
{
    state.addText(line, LineKind::Error);
    spoiled = true;
    dataSocket.reset();
    commandSocket.reset();
    end(TransferEndCode::StoppedByError);
}

void FileTransfer::startCancel(TransferEndCode code)
{
    if (ending())
        return;
    cancelCode = code;
    rateTimer.stop();
    stopSide();
    if (commandSocket.state() == EventSocket::Connected) {
        sendCommand(CommandReader::text(CommandReader::Cancel));
        stage = Stage::Cancelling; // "CANC_OKAY", the peer's close or the bound ends it
        startWait(timeouts.cancelAckMs);
    } else {
        end(code);
    }
}

void FileTransfer::end(TransferEndCode code)
{
    if (stage == Stage::Closed)
        return;
    if (state.transferEndCode() == TransferEndCode::None || code == TransferEndCode::Canceled)
        state.setTransferEndCode(code);
    finish();
}

void FileTransfer::finish()
{
    if (stage == Stage::Closed)
        return;
    wasComplete = everyByteConfirmed() && !spoiled && !(checked() && !checksum.matched);
    stage = Stage::Closed;
    for (QTimer* timer : {&timeOutTimer, &waitTimer, &rateTimer, &gapTimer, &byeTimer})
        timer->stop();
    stopSide();
    outbox.clear(); // the close tells the peer the rest
    withdrawCancelQuestion();

    finalEndCode = state.transferEndCode();
    writeOutcome(finalEndCode);

    listener.close();
    keepConnections = keepConnections && wasComplete && dataSocket.state() == EventSocket::Connected
                      && commandSocket.state() == EventSocket::Connected;
    if (!keepConnections) {
        dataSocket.close();
        commandSocket.close();
    }
    file.close();
    checksum.stop();
    gate.reset();
    state.transferBusy = false;
    viewTimer.stop();
    viewDirty = false;
    Q_EMIT viewChanged();
    Q_EMIT finished();
}

void FileTransfer::writeOutcome(TransferEndCode code)
{
    if (type() == Receiving && code == TransferEndCode::ReceiverHasFile) {
        wasComplete = false; // the peer says we already have it: nothing to report
        return;
    }
    if (wasComplete) {
        outcome = QStringLiteral("*** File Transfer Complete : ") + fileName + QStringLiteral(" (")
                  + QString::number(size) + QStringLiteral(" bytes)");
    } else {
        onIncomplete(code);
        if (code == TransferEndCode::CanceledByReceiver || code == TransferEndCode::Canceled)
            queueStops = true;
        outcome = QStringLiteral("*** File Transfer ") + reasonText(code) + QStringLiteral(" : ") + fileName;
    }
    state.addText(outcome, LineKind::Status);
}

// ---- commands out ----

void FileTransfer::sendCommand(const QByteArray& command)
{
    // A peer of this program reads commands from the stream however TCP cuts it: they need
    // a write each, but no pause between them.
    const bool spaced = setup.token.isEmpty() && !setup.verify;
    if (spaced && gapTimer.isActive()) {
        outbox.append(command);
        return;
    }
    commandSocket.send(command);
    commandSocket.flush();
    if (spaced)
        gapTimer.start(timeouts.commandGapMs);
}

void FileTransfer::sendNextQueuedCommand()
{
    if (!outbox.isEmpty())
        sendCommand(outbox.takeFirst());
}

void FileTransfer::sendQueuedCommandNow()
{
    gapTimer.stop();
    sendNextQueuedCommand();
}

void FileTransfer::sendAtOnce(const QByteArray& command)
{
    commandSocket.send(command);
    commandSocket.flush();
}
