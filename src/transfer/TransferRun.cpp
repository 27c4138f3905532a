#include "transfer/TransferRun.h"

#include "core/PeerState.h"
#include "session/ControlMessages.h"
#include "transfer/RunLines.h"
#include "transfer/TransferRules.h"
#include "util/FileSystem.h"

#include <QFileInfo>
#include <QPointer>

#include <algorithm>

using RunLines::fieldsOf;
using RunLines::parseNumber;

TransferRun::TransferRun(PeerState& peerState, Session& sess, Prompts& p, const FileTransfer::Setup& s,
                         const TransferTimeouts& t, QObject* parent)
    : TransferActivity(parent), state(peerState), session(sess), prompts(p), setup(s), timeouts(t)
{
    limits.quietMs = timeouts.idleMs;
    for (QTimer* timer : {&flushTimer, &quietTimer, &viewTimer})
        timer->setSingleShot(true);
    connect(&flushTimer, &QTimer::timeout, this, [this] {
        beforeFlush();
        flushLines();
        // Every offer is answered: a peer that sends offers and never reads the answers
        // would have them pile up here without end.
        if (commandSocket.bytesToWrite() > limits.maxUnsent)
            fail(QStringLiteral("*** Error : The %1 does not read the command connection of the run of files")
                     .arg(sending() ? QStringLiteral("receiver") : QStringLiteral("sender")));
    });
    connect(&quietTimer, &QTimer::timeout, this, &TransferRun::onQuiet);
    moreTimer.setSingleShot(true);
    connect(&moreTimer, &QTimer::timeout, this, [this] {
        if (!closed)
            onCommandBytes();
    });
    connect(&viewTimer, &QTimer::timeout, this, [this] {
        if (viewDirty) {
            viewDirty = false;
            viewTimer.start(limits.viewMs);
            Q_EMIT viewChanged();
        }
    });
    commandSocket.readBufferSize = limits.maxLine;
    dataSocket.readBufferSize = qint64{1024} * 1024;
    connect(&commandSocket, &EventSocket::dataArrived, this, &TransferRun::onCommandBytes);
    connect(&dataSocket, &EventSocket::dataArrived, this, [this] {
        if (!closed)
            receiveData();
    });
    connect(&commandSocket, &EventSocket::closed, this, [this] { onClosed(false); });
    connect(&dataSocket, &EventSocket::closed, this, [this] { onClosed(true); });
    connect(&commandSocket, &EventSocket::error, this,
            [this](int number, const QString& text) { onError(false, number, text); });
    connect(&dataSocket, &EventSocket::error, this,
            [this](int number, const QString& text) { onError(true, number, text); });
}

TransferRun::~TransferRun()
{
    withdrawCancelQuestion();
}

void TransferRun::start(FileTransfer& opener)
{
    opener.handOverConnections(commandSocket, dataSocket);
    clock.start();
    touch(true);
    if (commandSocket.state() != EventSocket::Connected || dataSocket.state() != EventSocket::Connected) {
        end(TransferEndCode::None);
        return;
    }
    progressed();
    begun();
    if (commandSocket.bytesAvailable() > 0)
        onCommandBytes();
    if (!closed && dataSocket.bytesAvailable() > 0)
        receiveData();
}

void TransferRun::onCommandBytes()
{
    if (flushing) { // reading while our lines are sent: the lines are taken next turn
        moreTimer.start(0);
        return;
    }
    inbox += commandSocket.takeAll();
    qsizetype from = 0;
    while (!closed) {
        const qsizetype end = inbox.indexOf('\n', from);
        if (end < 0)
            break;
        const QByteArray line = inbox.mid(from, end - from);
        from = end + 1;
        progressed();
        takeLine(line);
    }
    if (closed)
        return;
    inbox.remove(0, from);
    if (inbox.size() > limits.maxLine)
        fail(QStringLiteral("*** Error : The peer sent a command line of more than %1 bytes in a run of files")
                 .arg(limits.maxLine));
}

void TransferRun::takeLine(const QByteArray& line)
{
    // An offer's line has five fields, the name taking the rest; the receiver's lines three.
    const QList<QByteArray> field = fieldsOf(line, sending() ? 3 : 5);
    if (field[0] == "CANCEL" && field.size() == 1) {
        // A peer that left cancels what it still had: as a disconnection.
        end(peerGone    ? TransferEndCode::Disconnected
            : sending() ? TransferEndCode::CanceledByReceiver
                        : TransferEndCode::CanceledBySender);
        return;
    }
    receiveLine(line, field);
}

void TransferRun::unexpected(const QByteArray& line)
{
    fail(QStringLiteral("*** Error : The %1 sent an unexpected command in a run of files : ")
             .arg(sending() ? QStringLiteral("receiver") : QStringLiteral("sender"))
         + shown(line));
}

void TransferRun::sendLine(const QByteArray& line)
{
    outbox += line;
    outbox += '\n';
    // A turn can bring hundreds of lines (answers, verdicts): every few go out at once, so
    // the peer works on them while the rest are made, instead of each side waiting for the
    // whole of the other's batch.
    if (!sending() && ++outboxLines >= limits.linesPerWrite && !flushing) {
        flushLines();
        if (commandSocket.bytesToWrite() <= limits.maxUnsent)
            return;
        // judged at the end of the turn, outside the handler that made this line
    }
    atTurnEnd();
}

void TransferRun::atTurnEnd()
{
    if (!flushTimer.isActive())
        flushTimer.start(0);
}

void TransferRun::flushLines()
{
    if (flushing || outbox.isEmpty() || commandSocket.state() != EventSocket::Connected)
        return;
    // Taken out first: a handler that runs while they are sent may add lines, which must go
    // out after these, not be dropped with them.
    const QByteArray lines = std::exchange(outbox, {});
    outboxLines = 0;
    // Sending may report what happened on the connection (lines that came, a close, an
    // error): those are taken once this is over, never inside the handler that sent.
    flushing = true;
    commandSocket.send(lines);
    commandSocket.flush();
    flushing = false;
}

void TransferRun::progressed()
{
    // A receiver bounds even a run with nothing in it: a sender that neither offers nor
    // closes would hold the transfer slot for as long as it liked.
    // Things move thousands of times a second: the time is noted, and the timer, once
    // running, is only moved on when it fires.
    if (closed)
        return;
    if (awaiting() || !sending()) {
        lastMove = clock.elapsed();
        if (!quietTimer.isActive())
            quietTimer.start(limits.quietMs);
    } else {
        quietTimer.stop();
    }
}

void TransferRun::onQuiet()
{
    if (closed)
        return;
    const qint64 left = lastMove + limits.quietMs - clock.elapsed();
    if (left > 0 && (awaiting() || !sending())) {
        quietTimer.start(static_cast<int>(left));
        return;
    }
    end(awaiting() ? TransferEndCode::TimedOut : TransferEndCode::None);
}

void TransferRun::onClosed(bool data)
{
    if (closed)
        return;
    if (flushing) {
        QTimer::singleShot(0, this, [this, data] { onClosed(data); });
        return;
    }
    // The last answers that came before the close, also those left for a later turn.
    if (commandSocket.bytesAvailable() > 0 || inbox.contains('\n'))
        onCommandBytes();
    if (closed)
        return;
    if (!awaiting() || peerGone) {
        end(peerGone ? TransferEndCode::Disconnected : TransferEndCode::None);
        return;
    }
    const bool reset = (data ? dataSocket : commandSocket).closedByReset();
    fail(QStringLiteral("*** Error : The %1 %2 the connections of the run of files while files were moving")
             .arg(sending() ? QStringLiteral("receiver") : QStringLiteral("sender"),
                  reset ? QStringLiteral("reset") : QStringLiteral("closed")));
}

void TransferRun::onError(bool data, int number, const QString& text)
{
    if (closed)
        return;
    if (flushing) {
        QTimer::singleShot(0, this, [this, data, number, text] { onError(data, number, text); });
        return;
    }
    if (number == 10054) {
        onClosed(data);
        return;
    }
    fail(QStringLiteral("*** Error : The %1 connection of the run of files failed - %2")
             .arg(data ? QStringLiteral("data") : QStringLiteral("command"), text));
}

void TransferRun::fail(const QString& line, TransferEndCode code)
{
    if (closed)
        return;
    state.addText(line, LineKind::Error);
    end(code);
}

void TransferRun::end(TransferEndCode code)
{
    if (closed)
        return;
    closed = true;
    for (QTimer* timer : {&quietTimer, &viewTimer, &moreTimer})
        timer->stop();
    withdrawCancelQuestion();
    endFiles(code);
    flushLines();
    dataSocket.close();
    commandSocket.close();
    flushTimer.stop();
    Q_EMIT viewChanged();
    Q_EMIT finished();
}

void TransferRun::cancelConfirmed()
{
    if (closed)
        return;
    cancelled = true;
    sendLine(QByteArrayLiteral("CANCEL"));
    end(TransferEndCode::Canceled);
}

void TransferRun::abandon()
{
    cancelConfirmed();
    commandSocket.flush();
}

// ---- the view ----

void TransferRun::touch(bool urgent)
{
    viewDirty = true;
    if (urgent || !viewTimer.isActive()) {
        viewDirty = false;
        viewTimer.start(limits.viewMs);
        Q_EMIT viewChanged();
    }
}

TransferView TransferRun::view() const
{
    using namespace TransferRules;
    TransferView v;
    const bool out = sending();
    v.title = out ? QStringLiteral("Sending") : QStringLiteral("Receiving");
    v.setNames(out, setup.userName, currentName);
    v.sizeText = QStringLiteral("File Size : ") + QString::number(currentSize);
    v.movedText = TransferView::movedLabel(out) + QString::number(currentDone);
    v.stateText = closed ? QStringLiteral("Transfer Complete.")
                         : QStringLiteral("%1 Files... %2 done")
                               .arg(out ? QStringLiteral("Sending") : QStringLiteral("Receiving"))
                               .arg(filesEnded);
    v.percentText = TransferView::percentOf(currentDone, currentSize);
    const qint64 seconds = clock.isValid() ? clock.elapsed() / 1000 : 0;
    const double kbps = rate(moved, std::max<qint64>(seconds, 1));
    v.rateText = rateText(kbps);
    v.elapsedText = elapsedText(seconds);
    v.timeLeftText = timeLeftText(currentSize - currentDone, kbps);
    v.setProgress(currentDone, currentSize);
    v.visible = true;
    v.running = !closed;
    return v;
}

void TransferRun::writeOutcome(const QString& name, qint64 fileSize, TransferEndCode code, bool complete)
{
    state.addText(complete ? QStringLiteral("*** File Transfer Complete : ") + name + QStringLiteral(" (")
                                 + QString::number(fileSize) + QStringLiteral(" bytes)")
                           : QStringLiteral("*** File Transfer ") + FileTransfer::reasonText(code)
                                 + QStringLiteral(" : ") + name,
                  LineKind::Status);
}

// A line from the peer as an error line shows it: one line, at most 80 characters.
QString TransferRun::shown(const QByteArray& line)
{
    QString text = QString::fromUtf8(line.left(80));
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QChar('?');
    return text;
}
