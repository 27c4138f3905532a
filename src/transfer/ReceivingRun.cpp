#include "transfer/ReceivingRun.h"

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
