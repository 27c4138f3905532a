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

namespace {

constexpr int kBurstPieces = 16; // pieces handed to the data connection at most in one turn

// The file of the run numbered `number`, or nullptr.
template <class File>
File* numbered(const std::deque<std::unique_ptr<File>>& files, quint64 number)
{
    for (const auto& f : files)
        if (f->number == number)
            return f.get();
    return nullptr;
}

QByteArray numberText(quint64 n)
{
    return QByteArray::number(n);
}

// A line from the peer as an error line shows it: one line, at most 80 characters.
QString shown(const QByteArray& line)
{
    QString text = QString::fromUtf8(line.left(80));
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QChar('?');
    return text;
}

} // namespace

// ==== the run ====

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

// ==== sending ====

struct SendingRun::File {
    enum class Stage {
        Offered,  // "OFFER" is out, no answer yet
        Accepted, // its bytes are being handed to the data connection
        Sent,     // every byte handed over; "SENT" goes out once the checksum is known
    };
    quint64 number = 0;
    QString wire;
    QString path;
    QString queuedName;
    qint64 size = 0;
    qint64 done = 0; // bytes handed over (the resume offset included)
    qint64 from = 0; // where they started
    Stage stage = Stage::Offered;
    FileSystem::RegularFile file;
    // Between peers that share "verify": a file sent from byte 0 has its checksum taken from
    // the bytes as they go (stream); a resumed one has it read on a worker (sum).
    std::unique_ptr<StreamChecksum> stream;
    std::unique_ptr<TransferChecksum> sum;
    QByteArray own; // our checksum once known; empty when it could not be computed
    bool ownKnown = false;
    bool sumOut = false; // "SENT" went out
};

SendingRun::SendingRun(PeerState& peerState, Session& sess, Prompts& p, const FileTransfer::Setup& s,
                       const TransferTimeouts& t, QObject* parent)
    : TransferRun(peerState, sess, p, s, t, parent)
{
    idleTimer.setSingleShot(true);
    pumpTimer.setSingleShot(true);
    connect(&idleTimer, &QTimer::timeout, this, [this] {
        if (!closed && files.empty())
            end(TransferEndCode::None);
    });
    connect(&pumpTimer, &QTimer::timeout, this, &SendingRun::pump);
    connect(&dataSocket, &EventSocket::sendComplete, this, [this] {
        if (!pieceInFlight)
            return;
        pieceInFlight = false;
        progressed();
        pump();
    });
}

SendingRun::~SendingRun() = default;

bool SendingRun::canOffer() const
{
    return !closed && !closing && static_cast<int>(files.size()) < limits.window;
}

bool SendingRun::offer(const QString& path, const QString& wire, const QString& queuedName)
{
    auto f = std::make_unique<File>();
    QString problem;
    // Each piece is read straight into the piece going out.
    if (!f->file.open(path, problem)) {
        // The queue does not look whether a file is still there before a run offers it: the
        // open tells, and a file that is gone is skipped as the queue would have skipped it.
        if (!QFileInfo::exists(path))
            state.addText(QStringLiteral("*** Skipped : ") + path + QStringLiteral(" - it no longer exists"),
                          LineKind::Status);
        else
            state.addText(QStringLiteral("*** Error : Cannot read ") + path + QStringLiteral(" - ") + problem,
                          LineKind::Error);
        TransferOutcome o;
        o.sending = true;
        o.name = wire;
        o.path = path;
        o.queuedName = queuedName;
        o.endCode = TransferEndCode::StoppedByError;
        Q_EMIT fileEnded(o);
        return false;
    }
    f->number = ++lastNumber;
    f->wire = wire;
    f->path = path;
    f->queuedName = queuedName;
    f->size = f->file.size();
    sendLine(QByteArrayLiteral("OFFER ") + numberText(f->number) + ' '
             + TransferRules::offerBlockField(f->size).toLatin1() + ' ' + QByteArray::number(f->size) + ' '
             + wire.toUtf8());
    files.push_back(std::move(f));
    idleTimer.stop();
    progressed();
    return true;
}

bool SendingRun::peerLeft()
{
    if (closed || commandSocket.state() != EventSocket::Connected)
        return false;
    peerGone = true;
    closeWhenDone();
    return !closed;
}

void SendingRun::closeWhenDone()
{
    closing = true;
    checkIdle();
}

void SendingRun::checkIdle()
{
    if (closed || !files.empty())
        return;
    if (closing)
        end(TransferEndCode::None);
    else
        idleTimer.start(limits.idleMs);
}

QString SendingRun::pathOfOffer(const QString& wire, qint64 length) const
{
    for (const auto& f : files)
        if (f->stage == File::Stage::Offered && f->wire == wire && length <= f->size)
            return f->path;
    return {};
}

void SendingRun::receiveLine(const QByteArray& line, const QList<QByteArray>& field)
{
    const QByteArray& word = field[0];
    quint64 number = 0;
    File* f = field.size() >= 2 && parseNumber(field[1], number) ? numbered(files, number) : nullptr;
    if (!f || !expected(word, *f) || field.size() != (word == "ACCEPT" ? 3 : 2)) {
        unexpected(line);
        return;
    }
    if (word == "ACCEPT") {
        receiveAccept(*f, field[2]);
    } else if (word == "HAVE") {
        finishFile(*f, TransferEndCode::ReceiverHasFile, false, false);
    } else if (word == "REFUSE") {
        finishFile(*f, TransferEndCode::CanceledByReceiver, false, false);
    } else if (word == "DONE") {
        finishFile(*f, TransferEndCode::None, true, false);
    } else {
        state.addText(QStringLiteral("*** Error : The receiver's copy of %1 differed from the file sent - "
                                     "it is offered again")
                          .arg(f->wire),
                      LineKind::Error);
        finishFile(*f, TransferEndCode::StoppedByError, false, true);
    }
}

bool SendingRun::expected(const QByteArray& word, const File& f) const
{
    // Answers come in the order of the offers; verdicts only for files whose bytes all left.
    if (word == "ACCEPT" || word == "HAVE" || word == "REFUSE") {
        for (const auto& each : files)
            if (each->stage == File::Stage::Offered)
                return each.get() == &f;
        return false;
    }
    if (word == "DONE" || word == "DIFFERS")
        return f.stage == File::Stage::Sent && f.sumOut;
    return false;
}

void SendingRun::receiveAccept(File& f, const QByteArray& offset)
{
    qint64 at = -1;
    if (!parseNumber(offset, at) || at > f.size) {
        state.addText(QStringLiteral("*** Error : The receiver asked to resume %1 at byte %2, beyond its %3 bytes")
                          .arg(f.wire, shown(offset), QString::number(f.size)),
                      LineKind::Error);
        finishFile(f, TransferEndCode::StoppedByError, false, false);
        fail(QStringLiteral("*** Error : The run of files is stopped"));
        return;
    }
    f.stage = File::Stage::Accepted;
    f.done = f.from = at;
    QString problem;
    if (at > 0 && !f.file.seek(at, problem)) { // a file just opened is at its start
        state.addText(QStringLiteral("*** Error : Cannot read ") + f.path + QStringLiteral(" - ") + problem,
                      LineKind::Error);
        abortWith(f);
        return;
    }
    if (setup.verify && f.size > 0 && at == 0) {
        f.stream = std::make_unique<StreamChecksum>();
    } else if (setup.verify && f.size > 0) {
        f.sum = std::make_unique<TransferChecksum>();
        const quint64 n = f.number;
        connect(f.sum.get(), &TransferChecksum::done, this, [this, n](const QString& sum, const QString& problem) {
            File* g = numbered(files, n);
            if (!g || closed)
                return;
            g->own = sum.toLatin1();
            g->ownKnown = true;
            if (sum.isEmpty())
                state.addText(QStringLiteral("*** Error : Cannot check %1 - %2").arg(g->wire, problem),
                              LineKind::Error);
            if (g->stage == File::Stage::Sent && !g->sumOut)
                sendSum(*g);
        });
        f.sum->startSending(at, f.path, f.size);
    }
    pumpSoon();
}

void SendingRun::pumpSoon()
{
    // The bytes of every file accepted in this turn go out together, before the lines.
    pumpWanted = true;
    atTurnEnd();
}

void SendingRun::beforeFlush()
{
    if (std::exchange(pumpWanted, false))
        pump();
}

void SendingRun::pump()
{
    if (closed || pieceInFlight)
        return;
    int pieces = 0;
    for (const auto& each : files) {
        File& f = *each;
        if (f.stage == File::Stage::Sent)
            continue;
        if (f.stage == File::Stage::Offered)
            break; // its answer comes before anything of the files after it
        while (f.done < f.size) {
            if (!readInto(f, std::min(f.size - f.done, limits.piece - piece.size())))
                return;
            if (piece.size() < limits.piece)
                continue;
            if (!sendPiece())
                return;
            if (++pieces >= kBurstPieces) {
                pumpTimer.start(0); // other events have their turn, then it goes on
                return;
            }
        }
        fileSent(f);
    }
    if (!piece.isEmpty() && !sendPiece())
        return;
    touch();
}

bool SendingRun::sendPiece()
{
    dataSocket.send(piece);
    piece.resize(0);
    dataSocket.flush();
    if (closed)
        return false; // the connection failed while writing: the run ended, `files` with it
    pieceInFlight = dataSocket.bytesToWrite() > 0; // then sendComplete() brings the next piece
    return !pieceInFlight;
}

bool SendingRun::readInto(File& f, qint64 n)
{
    const qsizetype at = piece.size();
    piece.resize(at + n);
    QString problem;
    const qint64 got = f.file.read(piece.data() + at, n, problem);
    if (got != n) {
        piece.resize(at);
        state.addText(QStringLiteral("*** Error : Cannot read ") + f.path + QStringLiteral(" - ")
                          + (got < 0 ? problem : QStringLiteral("the file became shorter")),
                      LineKind::Error);
        // The receiver waits for bytes that will not come: the run ends at once (nothing more
        // goes out on the data connection), this file for good.
        abortWith(f);
        return false;
    }
    if (f.stream)
        f.stream->add(piece.constData() + at, n);
    f.done += n;
    moved += n;
    currentName = f.wire;
    currentSize = f.size;
    currentDone = f.done;
    return true;
}

void SendingRun::abortWith(File& f)
{
    failed = &f;
    cancelled = true;
    sendLine(QByteArrayLiteral("CANCEL"));
    end(TransferEndCode::StoppedByError);
}

void SendingRun::fileSent(File& f)
{
    f.stage = File::Stage::Sent;
    f.file.close();
    currentName = f.wire;
    currentSize = f.size;
    currentDone = f.size;
    if (f.stream) {
        f.own = f.stream->result().toLatin1();
        f.ownKnown = true;
        f.stream.reset();
    }
    if (!f.sum || f.ownKnown)
        sendSum(f);
}

void SendingRun::sendSum(File& f)
{
    f.sumOut = true;
    sendLine(QByteArrayLiteral("SENT ") + numberText(f.number) + ' '
             + (f.own.isEmpty() ? QByteArrayLiteral("-") : f.own));
}

void SendingRun::finishFile(File& f, TransferEndCode code, bool complete, bool putBack, bool stopQueue)
{
    writeOutcome(f.wire, f.size, code, complete);
    TransferOutcome o;
    o.sending = true;
    o.complete = complete;
    o.endCode = code;
    o.name = f.wire;
    o.path = f.path;
    o.queuedName = f.queuedName;
    o.putBack = putBack;
    o.stopQueue = stopQueue;
    const auto at = std::find_if(files.begin(), files.end(), [&](const auto& each) { return each.get() == &f; });
    if (at != files.end())
        files.erase(at);
    ++filesEnded;
    touch();
    Q_EMIT fileEnded(o);
    if (closed)
        return;
    progressed();
    pumpSoon();
    checkIdle();
}

void SendingRun::endFiles(TransferEndCode code)
{
    idleTimer.stop();
    pumpTimer.stop();
    if (files.empty())
        return;
    // The file that was moving (the first one answered) ends with the code and its line;
    // the others were only offered or wait for their verdict: they go back to the queue as
    // they were, in order, without a line.
    File* moving = failed ? failed : files.front().get();
    for (const auto& each : files)
        if (!failed && each->stage != File::Stage::Offered) {
            moving = each.get();
            break;
        }
    const bool userCancel = code == TransferEndCode::Canceled || code == TransferEndCode::CanceledByReceiver;
    // As for a single file, the receiver's cancel leaves the moving file out of the queue; our
    // own cancel, like an error, puts it back at the front.
    const bool retry = code != TransferEndCode::CanceledBySender && code != TransferEndCode::CanceledByReceiver
                       && code != TransferEndCode::None;
    std::vector<TransferOutcome> back;
    TransferOutcome movingOutcome;
    for (const auto& each : files) {
        TransferOutcome o;
        o.sending = true;
        o.name = each->wire;
        o.path = each->path;
        o.queuedName = each->queuedName;
        o.endCode = code == TransferEndCode::None ? TransferEndCode::Disconnected : code;
        if (each.get() == moving) {
            // A file that could not be read would fail the same way again.
            o.putBack = each.get() != failed && (retry || each->stage == File::Stage::Offered);
            o.stopQueue = userCancel;
            movingOutcome = o;
        } else {
            o.putBack = true;
            o.untouched = each->stage == File::Stage::Offered
                          || (each->stage == File::Stage::Accepted && each->done == each->from);
            back.push_back(o);
        }
    }
    writeOutcome(moving->wire, moving->size, movingOutcome.endCode, false);
    ++filesEnded;
    files.clear();
    // Put back last first, so that each going to the front leaves them in their order.
    for (auto it = back.rbegin(); it != back.rend(); ++it)
        Q_EMIT fileEnded(*it);
    Q_EMIT fileEnded(movingOutcome);
}

// ==== receiving ====

struct ReceivingRun::File {
    quint64 number = 0;
    QString wire;
    QString name;   // the name it is saved under
    QString folder; // ending in "/"
    QString path;   // folder and name, while held
    qint64 size = 0;
    qint64 offset = 0; // where writing started
    qint64 done = 0;
    FileSystem::RegularFile file;
    TargetFile::Request request;
    bool opened = false; // the target is open (an existing file is replaced or resumed only then)
    TargetFile target;
    std::unique_ptr<TransferChecksum> sum;
    bool sentCame = false; // "SENT" came
    QString peerSum;       // its checksum, empty when none
    bool checking = false; // the checksum of a resumed file is being finished
#ifdef ZANTIRO_TEST_HOOKS
    qint64 flipAt = -1;
#endif
};

ReceivingRun::ReceivingRun(PeerState& peerState, Session& sess, Prompts& p, const FileTransfer::Setup& s,
                           const TransferTimeouts& t, QObject* parent)
    : TransferRun(peerState, sess, p, s, t, parent)
{
    buffer.resize(qsizetype{256} * 1024);
}

ReceivingRun::~ReceivingRun()
{
    for (const auto& f : files)
        f->sum.reset();
}

void ReceivingRun::receiveLine(const QByteArray& line, const QList<QByteArray>& field)
{
    const QByteArray& word = field[0];
    auto bad = [&] { unexpected(line); };
    quint64 number = 0;
    if (field.size() < 2 || !parseNumber(field[1], number))
        return bad();
    if (word == "OFFER" && field.size() == 5) {
        Offered o;
        o.number = number;
        if (number != lastNumber + 1 || !parseNumber(field[2], o.block) || o.block <= 0
            || !parseNumber(field[3], o.size) || field[4].isEmpty())
            return bad();
        if (offers.size() + files.size() >= 2 * static_cast<size_t>(limits.window))
            return fail(QStringLiteral("*** Error : The sender offered more files at once than a run allows"));
        o.wire = QString::fromUtf8(field[4]);
        lastNumber = number;
        offers.push_back(o);
        Q_EMIT offerArrived();
        return;
    }
    if (word == "SENT" && field.size() == 3) {
        File* f = numbered(files, number);
        const QString sum = QString::fromLatin1(field[2]);
        if (!f || f->sentCame || (sum != QLatin1String("-") && !ControlMessages::isHexDigits(sum.toLower(), 32)))
            return bad();
        f->sentCame = true;
        f->peerSum = sum == QLatin1String("-") ? QString() : sum.toLower();
        tryFinish(*f);
        return;
    }
    bad();
}

ReceivingRun::Offered ReceivingRun::takeOffer()
{
    Offered o = offers.front();
    offers.pop_front();
    return o;
}

void ReceivingRun::answerHave(quint64 number)
{
    if (!closed)
        sendLine(QByteArrayLiteral("HAVE ") + numberText(number));
    progressed();
}

void ReceivingRun::answerRefused(quint64 number)
{
    if (!closed)
        sendLine(QByteArrayLiteral("REFUSE ") + numberText(number));
    progressed();
}

void ReceivingRun::accept(quint64 number, const QString& wire, const TargetFile::Request& request)
{
    if (closed)
        return;
    auto f = std::make_unique<File>();
    f->number = number;
    f->wire = wire;
    f->size = request.size;
    f->folder = request.folder;
    f->request = request;
#ifdef ZANTIRO_TEST_HOOKS
    f->flipAt = std::exchange(testFlipByteAt, -1);
#endif
    if (request.choice == ExistingFileChoice::Overwrite || request.choice == ExistingFileChoice::Resume) {
        // The file there is replaced or cut back only when its first new byte is written:
        // a run that breaks before leaves it as it was.
        f->name = request.name;
        f->offset = f->done = resumeOffsetOf(request);
        sendLine(QByteArrayLiteral("ACCEPT ") + numberText(number) + ' ' + QByteArray::number(f->offset));
        hold(*f);
        files.push_back(std::move(f));
        progressed();
        return;
    }
    QString problem;
    const bool cached = folders.descriptorFor(request.root, request.folder) >= 0;
    bool opened = f->target.open(f->file, request, problem, &folders);
    if (!opened && cached) {
        // The folder kept open from the file before may be gone (removed during the run): it
        // is opened again from the download folder, made again where missing, once.
        folders.forget();
        FileSystem::makePath(request.root);
        problem.clear();
        opened = f->target.open(f->file, request, problem, &folders);
    }
    f->name = f->target.name();
    if (!opened) {
        // The folders made on the way go again, and with them the one kept open for the next file.
        folders.forget();
        f->target.discardUnused();
        state.addText(QStringLiteral("*** Error : ") + problem, LineKind::Error);
        answerRefused(number);
        writeOutcome(f->name, f->size, TransferEndCode::StoppedByError, false);
        TransferOutcome o;
        o.name = f->name;
        o.path = f->folder + f->name;
        o.endCode = TransferEndCode::StoppedByError;
        Q_EMIT fileEnded(o);
        return;
    }
    f->offset = f->done = f->target.resumeAt();
    f->opened = true;
    startChecksum(*f);
    sendLine(QByteArrayLiteral("ACCEPT ") + numberText(number) + ' ' + QByteArray::number(f->offset));
    hold(*f);
    files.push_back(std::move(f));
    progressed();
}

qint64 ReceivingRun::resumeOffsetOf(const TargetFile::Request& request)
{
    if (request.choice != ExistingFileChoice::Resume)
        return 0;
    const QFileInfo info(request.folder + request.name);
    if (!info.isFile() || info.isSymLink() || info.size() > request.size)
        return 0; // a longer file is not a part of this one: it is received anew
    return TransferRules::resumeOffset(info.size(), request.block, request.size);
}

void ReceivingRun::startChecksum(File& f)
{
    if (!setup.verify || f.size == 0)
        return;
    f.sum = std::make_unique<TransferChecksum>();
    const quint64 number = f.number;
    connect(f.sum.get(), &TransferChecksum::done, this, [this, number](const QString& sum, const QString& why) {
        File* g = numbered(files, number);
        if (!g || closed)
            return;
        if (g->checking) {
            verdict(*g, !sum.isEmpty() && sum == g->peerSum, why);
        } else {
            g->sum->ownKnown = true; // failed before the end; the end decides
            g->sum->problem = why;
        }
    });
    f.sum->startReceiving(f.done, f.file.handle());
}

bool ReceivingRun::openLate(File& f)
{
    QString problem;
    if (f.target.open(f.file, f.request, problem, &folders) && f.target.resumeAt() == f.offset) {
        f.opened = true;
        release(f);
        f.name = f.target.name();
        hold(f);
        startChecksum(f);
        return true;
    }
    if (problem.isEmpty())
        problem = QStringLiteral("%1 changed while the run of files was under way").arg(f.folder + f.name);
    folders.forget();
    f.file.close();
    state.addText(QStringLiteral("*** Error : ") + problem, LineKind::Error);
    // Its bytes are on their way and have nowhere to go: the run ends, this file with an error.
    finishFile(f, TransferEndCode::StoppedByError, false);
    cancelled = true;
    sendLine(QByteArrayLiteral("CANCEL"));
    end(TransferEndCode::StoppedByError);
    return false;
}

bool ReceivingRun::holds(const QString& path) const
{
    return held.contains(path);
}

void ReceivingRun::hold(File& f)
{
    f.path = f.folder + f.name;
    ++held[f.path];
    if (f.name != f.request.name)
        ++held[f.request.folder + f.request.name];
}

void ReceivingRun::release(const File& f)
{
    const auto drop = [this](const QString& path) {
        const auto at = held.find(path);
        if (at != held.end() && --*at <= 0)
            held.erase(at);
    };
    drop(f.path);
    if (f.name != f.request.name)
        drop(f.request.folder + f.request.name);
}

void ReceivingRun::receiveData()
{
    for (;;) {
        const qint64 k = dataSocket.take(buffer.data(), buffer.size());
        if (k <= 0)
            break;
        moved += k;
        qint64 at = 0;
        while (at < k) {
            File* f = nullptr;
            for (const auto& each : files)
                if (each->done < each->size) {
                    f = each.get();
                    break;
                }
            if (!f) {
                fail(QStringLiteral("*** Error : The sender sent more bytes than the files of the run hold"));
                return;
            }
            const qint64 n = std::min(k - at, f->size - f->done);
            if (!keep(*f, at, n))
                return;
            at += n;
        }
    }
    progressed();
    touch();
}

bool ReceivingRun::keep(File& f, qint64 at, qint64 n)
{
    if (!f.opened && !openLate(f))
        return false;
#ifdef ZANTIRO_TEST_HOOKS
    if (f.flipAt >= f.done && f.flipAt < f.done + n)
        buffer[at + f.flipAt - f.done] = static_cast<char>(~buffer[at + f.flipAt - f.done]);
#endif
    QString why;
    if (!f.file.writeAll(buffer.constData() + at, n, why)) {
        state.addText(QStringLiteral("*** Error : Cannot write ") + f.folder + f.name + QStringLiteral(" - ") + why,
                      LineKind::Error);
        finishFile(f, TransferEndCode::StoppedByError, false);
        cancelled = true;
        sendLine(QByteArrayLiteral("CANCEL"));
        end(TransferEndCode::StoppedByError);
        return false;
    }
    if (f.sum) {
        if (f.sum->fromBlocks())
            f.sum->add(buffer.constData() + at, n);
        else
            f.sum->extend(f.done + n);
    }
    f.done += n;
    currentName = f.name;
    currentSize = f.size;
    currentDone = f.done;
    if (f.done == f.size)
        tryFinish(f);
    return !closed;
}

void ReceivingRun::tryFinish(File& f)
{
    // Files end in the order they were accepted, so that their outcome lines keep the order
    // of the queue: one complete early (an empty file) waits for those before it.
    if (files.front().get() != &f || f.done < f.size || !f.sentCame || f.checking)
        return;
    if (!f.opened && !openLate(f))
        return;
    if (!f.sum || f.peerSum.isEmpty()) {
        verdict(f, true);
    } else if (f.sum->fromBlocks()) {
        verdict(f, f.sum->blocksResult() == f.peerSum);
    } else if (f.sum->ownKnown) {
        verdict(f, false, f.sum->problem); // reading it back failed already
    } else {
        f.checking = true;
        f.sum->finish(f.size);
    }
}

void ReceivingRun::verdict(File& f, bool same, const QString& problem)
{
    f.file.close();
    sendLine((same ? QByteArrayLiteral("DONE ") : QByteArrayLiteral("DIFFERS ")) + numberText(f.number));
    if (same) {
        finishFile(f, TransferEndCode::None, true);
        return;
    }
    // Not kept: a later offer of the file starts from its first byte, not from this content.
    const QString& path = f.path;
    const QFileInfo info(path);
    if (info.isFile() && !info.isSymLink())
        QFile::remove(path);
    state.addText(!problem.isEmpty() ? QStringLiteral("*** Error : Cannot check %1 - %2").arg(f.name, problem)
                                     : QStringLiteral("*** Error : The received content of %1 differed from the "
                                                      "sender's file - the file is not kept")
                                           .arg(f.name),
                  LineKind::Error);
    finishFile(f, TransferEndCode::StoppedByError, false);
}

void ReceivingRun::finishFile(File& f, TransferEndCode code, bool complete)
{
    writeOutcome(f.name, f.size, code, complete);
    TransferOutcome o;
    o.complete = complete;
    o.endCode = code;
    o.name = f.name;
    o.path = f.path;
    f.sum.reset();
    const auto at = std::find_if(files.begin(), files.end(), [&](const auto& each) { return each.get() == &f; });
    if (at != files.end()) {
        release(f);
        files.erase(at);
    }
    ++filesEnded;
    touch();
    Q_EMIT fileEnded(o);
    progressed();
    if (!closed && !files.empty())
        tryFinish(*files.front());
}

void ReceivingRun::endFiles(TransferEndCode code)
{
    offers.clear();
    // A file that got bytes stays as far as it came (a later offer resumes it) and ends with
    // its line; one that got none is taken away again with the folders made for it.
    std::deque<std::unique_ptr<File>> left;
    left.swap(files);
    held.clear();
    for (const auto& f : left) {
        f->sum.reset();
        f->file.close();
        if (f->done == f->offset) {
            f->target.discardUnused();
            continue;
        }
        writeOutcome(f->name, f->size, code == TransferEndCode::None ? TransferEndCode::Disconnected : code, false);
        ++filesEnded;
        TransferOutcome o;
        o.endCode = code == TransferEndCode::None ? TransferEndCode::Disconnected : code;
        o.name = f->name;
        o.path = f->folder + f->name;
        Q_EMIT fileEnded(o);
    }
}
