#include "transfer/SendingRun.h"

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

} // namespace

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
        Q_EMIT fileEnded(TransferOutcome::ofSent(wire, path, queuedName, TransferEndCode::StoppedByError));
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
    TransferOutcome o = TransferOutcome::ofSent(f.wire, f.path, f.queuedName, code);
    o.complete = complete;
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
        TransferOutcome o =
            TransferOutcome::ofSent(each->wire, each->path, each->queuedName,
                                    code == TransferEndCode::None ? TransferEndCode::Disconnected : code);
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
