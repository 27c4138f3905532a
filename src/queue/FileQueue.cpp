#include "queue/FileQueue.h"

#include "core/PeerState.h"
#include "session/Session.h"
#include "transfer/TransferManager.h"
#include "transfer/TransferRules.h"
#include "transfer/TransferRun.h"
#include "util/FileSystem.h"

#include <QCollator>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>

#include <numeric>
#include <vector>

namespace {

// The order a file manager lists a folder in compares names in the user's language, digits
// as numbers ("track 2" before "track 10") and case ignored.
QCollator listingCollator()
{
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates); // the C locale collates by code only
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

} // namespace

// One folder being expanded: the listing, the folder's path (ending in "/"), its name, and
// the canonical path of the folder the user picked, which links must not lead out of. Once
// read, the listing is sorted by a merge sort a few runs per turn, and then queued in slices.
struct FileQueue::Expansion {
    enum class Step { Reading, Sorting, Appending };
    FileSystem::FolderListing listing;
    QString folder;
    QString name;
    QString inside;
    Step step = Step::Reading;
    QList<Listed> found; // read so far; queued in listing order once all are read
    QCollator collator = listingCollator();
    std::vector<QCollatorSortKey> keys;             // one per entry of found, made as it is read
    std::vector<qint32> order, merged;              // the merge sort's runs: indexes into found
    qsizetype width = 0, from = 0;                  // its pass (length of the runs merged) and place
    qsizetype appended = 0;                         // entries of order queued so far
    std::shared_ptr<const QueueEntryHead> fileHead; // shared by the files of the listing
    explicit Expansion(const QString& dir) : listing(dir) {}

    // Sub-folders first, then files; each by name as the collator orders them, and names
    // equal that way by their characters, so the order is always the same.
    bool before(qint32 x, qint32 y) const
    {
        const Listed& a = found[x];
        const Listed& b = found[y];
        if (a.folder != b.folder)
            return a.folder;
        const int c = keys[static_cast<size_t>(x)].compare(keys[static_cast<size_t>(y)]);
        return c != 0 ? c < 0 : a.leaf < b.leaf;
    }
};

namespace {

// The folder the user picked for a folder entry: its name has one component more than the
// number of folders to go up ("a/b" for ".../a/b/").
QString pickedFolder(const QString& folder, const QString& name)
{
    QString root = folder.endsWith('/') && folder.size() > 1 ? folder.chopped(1) : folder;
    for (int up = static_cast<int>(name.count('/')); up > 0; --up) {
        const qsizetype slash = root.lastIndexOf('/');
        if (slash <= 0)
            break;
        root.truncate(slash);
    }
    return root;
}

// The folder the user picked, canonical and ending in "/", when `folder` (the entry's path
// without its "/") is a folder still inside it; empty when it is gone, no folder, or a
// sub-folder that no longer lies inside the picked one.
QString insidePicked(const QString& folder, const QString& folderEntry, const QString& entryName)
{
    const QFileInfo info(folder);
    const QString root = QFileInfo(pickedFolder(folderEntry, entryName)).canonicalFilePath();
    const QString canonical = info.canonicalFilePath();
    QString inside = root.endsWith('/') ? root : root + '/';
    if (!info.isDir() || canonical.isEmpty() || root.isEmpty()
        || (entryName.contains('/') && !(canonical + '/').startsWith(inside)))
        return {};
    return inside;
}

// Why a link found in a folder is not queued, or nullptr when it is. A link is followed only
// to a file inside the picked folder: never out of it, and never to a folder, which could
// lead back into it. A link that leads nowhere (dangling, or a loop, whose canonical path
// can still come back non-empty) is not a file either.
const char* linkSkipReason(const QFileInfo& link, const QString& inside)
{
    const QString target = link.canonicalFilePath();
    if (!link.exists() || target.isEmpty())
        return "it is a link that leads nowhere";
    if (link.isDir())
        return "it is a link to a folder";
    if (!target.startsWith(inside))
        return "it is a link that leads out of the folder";
    return nullptr;
}

} // namespace

FileQueue::FileQueue(PeerState& c, Session& s, TransferManager& t, QObject* parent)
    : QAbstractListModel(parent), ctx(c), session(s), transfers(t)
{
    connect(&sendTimer, &QTimer::timeout, this, &FileQueue::tick);
    expandTimer.setSingleShot(true);
    expandTimer.setInterval(0);
    connect(&expandTimer, &QTimer::timeout, this, &FileQueue::expandBatch);
    connect(&transfers, &TransferManager::putBack, this, &FileQueue::onPutBack);
    connect(&transfers, &TransferManager::handBack, this, [this](const QString& path, const QString& name) {
        if (const qsizetype at = flyingIndex(path, name); at >= 0) {
            flying[at].putBack = true;
            add(path, name, true);
        }
    });
    connect(&transfers, &TransferManager::stopQueue, this, &FileQueue::stop);
    connect(&transfers, &TransferManager::transferEnded, this, &FileQueue::onEnded);
    connect(&transfers, &TransferManager::readyToOffer, this, &FileQueue::tickSoon);
    connect(&session, &Session::loggedIn, this, &FileQueue::onLoggedIn);
    connect(&session, &Session::connectionStateChanged, this, [this](Session::State state) {
        if (state == Session::State::Idle)
            loggedIn = false;
    });
}

FileQueue::~FileQueue() = default;

// ---- the model ----

int FileQueue::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant FileQueue::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    const QueueEntry& e = entries[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return e.path();
    case OfferedNameRole:
        return offeredName(index.row());
    case NameRole:
        return e.name();
    case FolderRole:
        return e.isFolder();
    default:
        return {};
    }
}

QHash<int, QByteArray> FileQueue::roleNames() const
{
    QHash<int, QByteArray> roles = QAbstractListModel::roleNames();
    roles[OfferedNameRole] = "offeredName";
    roles[NameRole] = "name";
    roles[FolderRole] = "folder";
    return roles;
}

QString FileQueue::path(int row) const
{
    return row >= 0 && row < count() ? entries[row].path() : QString();
}

QString FileQueue::name(int row) const
{
    return row >= 0 && row < count() ? entries[row].name() : QString();
}

QString FileQueue::offeredName(int row) const
{
    // As the connected peer would be offered it: the real name once it reads UTF-8.
    return row >= 0 && row < count() ? TransferRules::wireName(entries[row].name(), nullptr, session.sendsUtf8())
                                     : QString();
}

// ---- adding ----

void FileQueue::add(const QString& entryPath, const QString& entryName, bool atHead)
{
    if (!atHead)
        finishAppending();
    setRunning(!isStopped());
    if (entries.isEmpty())
        Q_EMIT firstEntryAdded();
    QueueEntry entry = QueueEntry::single(entryPath, entryName);
    const qsizetype known = queuedKeys.size();
    queuedKeys.insert(entry);
    if (queuedKeys.size() == known)
        return; // queued already
    const int row = atHead ? 0 : count();
    beginInsertRows({}, row, row);
    if (atHead)
        entries.prepend(std::move(entry));
    else
        entries.append(std::move(entry));
    endInsertRows();
}

void FileQueue::addPath(const QString& localPath)
{
    const QFileInfo info(localPath);
    QString path = QDir::cleanPath(info.absoluteFilePath());
    if (skipSpecial(path)) {
        ++endedCount; // asked for and never sent
        return;
    }
    if (info.isDir()) {
        const QString own = QFileInfo(path).fileName();
        add(path.endsWith('/') ? path : path + '/', own, false);
    } else {
        add(path, info.fileName(), false);
    }
}

void FileQueue::addDropped(const QStringList& localPaths)
{
    for (const QString& p : localPaths)
        addPath(p);
}

// ---- ordering ----

namespace {

QList<bool> selectionOf(const QList<int>& rows, int n)
{
    QList<bool> sel(n, false);
    for (int r : rows)
        if (r >= 0 && r < n)
            sel[r] = true;
    return sel;
}

QList<int> rowsOf(const QList<bool>& sel)
{
    QList<int> rows;
    for (int i = 0; i < sel.size(); ++i)
        if (sel[i])
            rows << i;
    return rows;
}

} // namespace

QList<int> FileQueue::moveUp(const QList<int>& selected)
{
    QList<bool> sel = selectionOf(selected, count());
    int first = -1, last = -1;
    for (int i = 1; i < count(); ++i) {
        if (!sel[i])
            continue;
        sel[i] = false;
        entries.swapItemsAt(i, i - 1);
        sel[i - 1] = true;
        first = first < 0 ? i - 1 : first;
        last = i;
        ++i; // the next position is skipped
    }
    if (first >= 0)
        Q_EMIT dataChanged(index(first), index(last));
    return rowsOf(sel);
}

QList<int> FileQueue::moveDown(const QList<int>& selected)
{
    QList<bool> sel = selectionOf(selected, count());
    int first = -1, last = -1;
    for (int i = 0; i + 1 < count(); ++i) {
        if (!sel[i])
            continue;
        sel[i] = false;
        sel[i + 1] = true;
        entries.swapItemsAt(i, i + 1);
        first = first < 0 ? i : first;
        last = i + 1;
        ++i;
    }
    if (first >= 0)
        Q_EMIT dataChanged(index(first), index(last));
    return rowsOf(sel);
}

QList<int> FileQueue::moveToTop(const QList<int>& selected)
{
    return moveSelected(selected, true);
}

QList<int> FileQueue::moveToBottom(const QList<int>& selected)
{
    return moveSelected(selected, false);
}

QList<int> FileQueue::moveSelected(const QList<int>& selected, bool toTop)
{
    // Taking each selected entry in turn to the front leaves them in reverse order; to the
    // end, in their order. Either way they end unselected.
    if (!toTop)
        finishAppending();
    const QList<bool> sel = selectionOf(selected, count());
    QList<QueueEntry> moved, rest;
    for (int i = 0; i < count(); ++i)
        (sel[i] ? moved : rest).append(entries[i]);
    if (moved.isEmpty())
        return {};
    if (toTop)
        std::reverse(moved.begin(), moved.end());
    entries = toTop ? moved + rest : rest + moved;
    Q_EMIT dataChanged(index(0), index(count() - 1));
    return {};
}

QList<int> FileQueue::remove(const QList<int>& selected)
{
    const QList<bool> sel = selectionOf(selected, count());
    QList<QueueEntry> kept;
    kept.reserve(count());
    for (int i = 0; i < count(); ++i) {
        if (sel[i])
            queuedKeys.remove(entries[i]);
        else
            kept.append(entries[i]);
    }
    if (kept.size() != entries.size())
        reset(std::move(kept));
    return {};
}

void FileQueue::clear()
{
    finishAppending();
    queuedKeys.clear();
    reset({});
}

void FileQueue::reset(QList<QueueEntry> newEntries)
{
    beginResetModel();
    entries = std::move(newEntries);
    endResetModel();
}

// ---- the send loop ----

void FileQueue::setRunning(bool on)
{
    setPhase(on ? State::Sending : isStopped() ? State::Stopped : State::Resting);
}

void FileQueue::setPhase(State state)
{
    // The loop's timer runs exactly while Sending.
    const bool on = state == State::Sending;
    if (on != sendTimer.isActive()) {
        if (on)
            sendTimer.start(sendTickMs);
        else
            sendTimer.stop();
        Q_EMIT stateChanged();
    }
    if (state != phase) {
        phase = state;
        Q_EMIT stateChanged();
    }
}

void FileQueue::stop()
{
    setPhase(State::Stopped);
    Q_EMIT stateChanged();
    if (flying.isEmpty() && !expansion)
        Q_EMIT idle();
}

void FileQueue::start()
{
    setPhase(State::Sending);
    Q_EMIT stateChanged();
    tickSoon();
}

void FileQueue::onLoggedIn()
{
    loggedIn = true;
    // A new connection gives every entry its tries afresh: a transfer cut with the
    // connection is not held against a file that goes on after a reconnection.
    putBacks.clear();
    if (ctx.options.autoResend) {
        // The peers came together: the queue goes on by itself, as "Go" would.
        start();
    } else {
        tickSoon();
    }
}

void FileQueue::tickSoon()
{
    // Files of a run end by the thousand a second: one tick is asked at a time.
    if (!sendTimer.isActive() || tickAsked)
        return;
    tickAsked = true;
    QTimer::singleShot(0, this, [this] {
        tickAsked = false;
        if (sendTimer.isActive())
            tick();
    });
}

void FileQueue::tick()
{
    // One step at a time: an expansion in progress is a step, and a folder waits until the
    // files before it have ended.
    if (stepping || expansion)
        return;
    // After the user's Disconnect nothing is offered (the connection is going away): the head
    // entry stays where it is instead of being taken and put back on every tick.
    if (!loggedIn || !session.isConnected() || session.userDisconnected || ctx.transferBusy || transfers.busy()
        || transfers.pausing() || transfers.awaitingPeerCaps())
        return;
    if (entries.isEmpty() || isStopped()) {
        // Run empty, the loop only rests: the next entry added starts it again. Only the
        // user's Stop and a cancel set Stopped.
        setRunning(false);
        transfers.queueRanEmpty();
        if (flying.isEmpty())
            Q_EMIT idle();
        return;
    }
    stepping = true;
    for (int i = 0; i < offersPerTick && !entries.isEmpty() && !isStopped(); ++i) {
        if (entries.first().isFolder() && !flying.isEmpty())
            break;
        if (i > 0 && (transfers.busy() || ctx.transferBusy || !session.isConnected()))
            break;
        if (!offerHead())
            break;
    }
    stepping = false;
    if (entries.isEmpty() && !expansion) {
        setRunning(false);
        transfers.queueRanEmpty();
        if (flying.isEmpty())
            Q_EMIT idle();
    }
}

bool FileQueue::offerHead()
{
    beginRemoveRows({}, 0, 0);
    const QueueEntry taken = entries.takeFirst();
    queuedKeys.remove(taken);
    const Entry head{taken.path(), taken.name()};
    if (entries.isEmpty()) {
        // What a long queue held goes back once it has run empty.
        entries.squeeze();
        queuedKeys.squeeze();
    }
    endRemoveRows();

    if (head.path.endsWith('/')) {
        expandFolder(head.path, head.name);
        return false;
    }
    // A run of files open to the peer finds a file gone when it opens it, and skips it with
    // the same line: the look is spared for each of its thousands of files.
    const TransferRun* run = transfers.currentRun();
    if ((!run || !run->sending() || run->isFinished()) && !QFileInfo::exists(head.path)) {
        ++endedCount; // gone since it was queued: nothing to send, but the user is told
        noteSkipped(head.path, QStringLiteral("it no longer exists"));
        return true;
    }
    flying.append({head, false});
    offering = true;
    offeredEnded = offeredPutBack = false;
    const bool offered = transfers.offerFile(head.path, head.name);
    offering = false;
    if (offered)
        return true;
    // It ended already (it could not be read, or is gone): the next entry may go, unless it
    // was put back to be tried again, which waits for the next tick.
    if (offeredEnded)
        return !offeredPutBack;
    // Nothing went out and nothing ended: it waits at the front for the next tick.
    flying.removeLast();
    add(head.path, head.name, true);
    return false;
}

qsizetype FileQueue::flyingIndex(const QString& path, const QString& name) const
{
    if (offering && !flying.isEmpty() && flying.last().entry.path == path && flying.last().entry.name == name)
        return flying.size() - 1;
    // The same file may fly under two names (alone and within its folder): the name decides
    // where it can, the path alone otherwise.
    qsizetype byPath = -1;
    for (qsizetype i = 0; i < flying.size(); ++i) {
        if (flying[i].entry.path != path)
            continue;
        if (flying[i].entry.name == name)
            return i;
        if (byPath < 0)
            byPath = i;
    }
    return byPath;
}

void FileQueue::onPutBack(const QString& path, const QString& name)
{
    const qsizetype at = flyingIndex(path, name);
    if (at < 0)
        return;
    int& n = putBacks[path];
    if (maxPutBacks >= 0 && n >= maxPutBacks) {
        ctx.addText(QStringLiteral("*** File Given Up : %1 did not go through %2 times in a row").arg(name).arg(n + 1),
                    LineKind::Status);
        return;
    }
    ++n;
    flying[at].putBack = true;
    add(path, name, true);
    if (maxPutBacks < 0 && stopEveryPutBacks > 0 && n % stopEveryPutBacks == 0) {
        stop();
        ctx.addText(
            QStringLiteral("*** File Queue Stopped : %1 did not go through %2 times in a row - press Go to try again")
                .arg(name)
                .arg(n),
            LineKind::Status);
    }
}

void FileQueue::onEnded(const TransferOutcome& outcome)
{
    const qsizetype at = outcome.sending ? flyingIndex(outcome.path, outcome.queuedName) : -1;
    if (at >= 0) {
        if (offering && at == flying.size() - 1) {
            offeredEnded = true;
            offeredPutBack = flying[at].putBack;
        }
        const Flying done = flying.takeAt(at);
        if (!done.putBack) {
            ++endedCount;
            if (outcome.complete)
                ++completedCount;
            putBacks.remove(outcome.path);
        }
        if (flying.isEmpty() && !sendTimer.isActive() && !expansion) {
            // Nothing more to offer: a run of files opened by this file closes at once.
            if (entries.isEmpty() || isStopped())
                transfers.queueRanEmpty();
            Q_EMIT idle();
        }
    }
    tickSoon(); // the transfer slot is free again
}

// ---- folder expansion ----

QString FileQueue::shortenDirLabel(const QString& text)
{
    return text.size() > 16 ? QStringLiteral("...") + text.right(13) : text;
}

void FileQueue::cancelDir()
{
    cancelRequested = true;
}

void FileQueue::expandFolder(const QString& folderEntry, const QString& entryName)
{
    const QString folder = folderEntry.endsWith('/') && folderEntry.size() > 1 ? folderEntry.chopped(1) : folderEntry;
    const QString inside = insidePicked(folder, folderEntry, entryName);
    if (inside.isEmpty()) {
        ++endedCount;
        return;
    }
    const QFileInfo info(folder);
    if (!info.isReadable() || !info.isExecutable()) {
        ctx.addText(QStringLiteral("*** Error : Cannot read ") + folder + QStringLiteral(" - permission denied"),
                    LineKind::Error);
        ++endedCount;
        return;
    }
    expansion = std::make_unique<Expansion>(folder);
    expansion->folder = folder.endsWith('/') ? folder : folder + '/';
    expansion->name = entryName;
    expansion->inside = inside;
    cancelRequested = false;
    entriesRead = 0;
    folderShown = shortenDirLabel(folderEntry);
    Q_EMIT expansionShown(true);
    Q_EMIT expandingFolderChanged(folderShown);
    Q_EMIT filesAddedChanged(entriesRead);
    expandTimer.start();
}

void FileQueue::expandBatch()
{
    if (!expansion)
        return;
    Expansion& x = *expansion;
    if (x.step == Expansion::Step::Reading) {
        if (entriesRead == 0 && !cancelRequested)
            entriesRead = 2; // "." and ".." are read first
        bool done = cancelRequested;
        QElapsedTimer clock;
        clock.start();
        QString entryName;
        auto kind = FileSystem::FolderListing::Kind::Other;
        for (int n = 0; n < dirBatch && !done && (n % 64 != 63 || clock.elapsed() < sliceMs); ++n) {
            if (!x.listing.next(entryName, kind)) {
                done = true;
                break;
            }
            ++entriesRead;
            readEntry(entryName, kind);
        }
        if (!cancelRequested)
            Q_EMIT filesAddedChanged(entriesRead);
        if (done || cancelRequested) {
            // What was read is queued, also when the expansion was cancelled midway.
            x.step = Expansion::Step::Sorting;
            x.order.resize(static_cast<size_t>(x.found.size()));
            std::iota(x.order.begin(), x.order.end(), 0);
            x.merged.resize(x.order.size());
            x.width = 1;
            x.from = 0;
        }
    } else if (x.step == Expansion::Step::Sorting) {
        if (sortSlice()) {
            x.step = Expansion::Step::Appending;
            x.keys = {};
            x.merged = {};
            x.fileHead = std::make_shared<const QueueEntryHead>(QueueEntryHead{x.folder, x.name + '/'});
            queuedKeys.reserve(queuedKeys.size() + x.found.size());
            entries.reserve(entries.size() + x.found.size());
        }
    } else {
        appendSlice();
        if (!expansion)
            return; // a command had the rest queued at once, and the expansion ended there
        if (expansion->appended >= static_cast<qsizetype>(expansion->order.size())) {
            endExpansion();
            return;
        }
    }
    expandTimer.start();
}

void FileQueue::readEntry(const QString& entryName, FileSystem::FolderListing::Kind kind)
{
    Expansion& x = *expansion;
    if (kind == FileSystem::FolderListing::Kind::BadName) {
        noteSkipped(x.folder + entryName, QStringLiteral("its name is not valid text in this system's encoding"));
        return;
    }
    bool folder = kind == FileSystem::FolderListing::Kind::Folder;
    if (kind == FileSystem::FolderListing::Kind::Other) {
        // A link, a special file, or an entry whose kind the listing did not give: a closer
        // look. Each skipped link gets a line.
        const QFileInfo f(x.folder + entryName);
        if (const char* why = f.isSymLink() ? linkSkipReason(f, x.inside) : nullptr) {
            noteSkipped(f.filePath(), QLatin1String(why));
            return;
        }
        folder = f.isDir();
        if (!folder && !f.isFile() && skipSpecial(f.filePath()))
            return;
    }
    x.found.append({entryName, folder});
    // The sort keys are made as the entries come, not all at once at the end.
    x.keys.push_back(x.collator.sortKey(entryName));
}

bool FileQueue::sortSlice()
{
    // A bottom-up merge sort: each pass merges neighbouring runs of `width` entries into runs
    // twice as long; a merge is never cut, so a slice ends between two of them.
    Expansion& x = *expansion;
    const auto n = static_cast<qsizetype>(x.order.size());
    QElapsedTimer clock;
    clock.start();
    const auto less = [&x](qint32 a, qint32 b) { return x.before(a, b); };
    while (x.width < n) {
        const qsizetype mid = std::min(x.from + x.width, n);
        const qsizetype end = std::min(x.from + 2 * x.width, n);
        std::merge(x.order.begin() + x.from, x.order.begin() + mid, x.order.begin() + mid, x.order.begin() + end,
                   x.merged.begin() + x.from, less);
        x.from = end;
        if (x.from >= n) {
            std::swap(x.order, x.merged);
            x.width *= 2;
            x.from = 0;
        }
        if (clock.elapsed() >= sliceMs)
            return x.width >= n;
    }
    return true;
}

void FileQueue::appendSlice()
{
    Expansion& x = *expansion;
    QElapsedTimer clock;
    clock.start();
    const auto n = static_cast<qsizetype>(x.order.size());
    QList<QueueEntry> fresh;
    while (x.appended < n) {
        const Listed& l = x.found[x.order[static_cast<size_t>(x.appended++)]];
        QueueEntry e = l.folder ? QueueEntry::single(x.folder + l.leaf + '/', x.name + '/' + l.leaf)
                                : QueueEntry{x.fileHead, l.leaf};
        const qsizetype known = queuedKeys.size();
        queuedKeys.insert(e);
        if (queuedKeys.size() > known)
            fresh.append(std::move(e));
        if (x.appended % 256 == 0 && clock.elapsed() >= sliceMs)
            break;
    }
    if (!fresh.isEmpty()) {
        setRunning(!isStopped());
        beginInsertRows({}, count(), count() + static_cast<int>(fresh.size()) - 1);
        entries.append(std::move(fresh));
        endInsertRows(); // a view may add an entry here, which queues the rest at once
    }
}

void FileQueue::finishAppending()
{
    const auto appending = [this] { return expansion && expansion->step == Expansion::Step::Appending; };
    while (appending() && expansion->appended < static_cast<qsizetype>(expansion->order.size()))
        appendSlice();
    if (appending())
        endExpansion();
}

bool FileQueue::skipSpecial(const QString& path)
{
    // Only regular files are sent: a named pipe would wait for a writer, a device never end.
    const QString kind = FileSystem::specialKind(path);
    if (kind.isEmpty())
        return false;
    noteSkipped(path, kind + QStringLiteral(", not a regular file"));
    return true;
}

void FileQueue::noteSkipped(const QString& path, const QString& why)
{
    ctx.addText(QStringLiteral("*** Skipped : ") + path + QStringLiteral(" - ") + why, LineKind::Status);
}

void FileQueue::endExpansion()
{
    cancelRequested = true;
    expansion.reset();
    Q_EMIT expansionShown(false);
    if (entries.isEmpty()) {
        setRunning(false);
        if (flying.isEmpty())
            Q_EMIT idle();
    } else {
        tickSoon();
    }
}
