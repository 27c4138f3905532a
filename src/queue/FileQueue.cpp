#include "queue/FileQueue.h"

#include "core/PeerState.h"
#include "session/Session.h"
#include "transfer/TransferManager.h"
#include "transfer/TransferRules.h"
#include "util/FileSystem.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <numeric>

// One folder being expanded: the listing, the folder's path (ending in "/"), its name, and
// the canonical path of the folder the user picked, which links must not lead out of.
struct FileQueue::Expansion {
    QDirIterator it;
    QString folder;
    QString name;
    QString inside;
    QList<Listed> found; // read so far; queued in listing order once all are read
    Expansion(const QString& dir) : it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot) {}
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
    const Entry& e = entries[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return e.path;
    case OfferedNameRole:
        return offeredName(index.row());
    case NameRole:
        return e.name;
    case FolderRole:
        return e.path.endsWith('/');
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
    return row >= 0 && row < count() ? entries[row].path : QString();
}

QString FileQueue::name(int row) const
{
    return row >= 0 && row < count() ? entries[row].name : QString();
}

QString FileQueue::offeredName(int row) const
{
    // As the connected peer would be offered it: the real name once it reads UTF-8.
    return row >= 0 && row < count() ? TransferRules::wireName(entries[row].name, nullptr, session.sendsUtf8())
                                     : QString();
}

// ---- adding ----

void FileQueue::add(const QString& entryPath, const QString& entryName, bool atHead)
{
    setRunning(!isStopped());
    if (entries.isEmpty())
        Q_EMIT firstEntryAdded();
    const QString key = entryKey(entryPath, entryName);
    if (queuedKeys.contains(key))
        return;
    queuedKeys.insert(key);
    const int row = atHead ? 0 : count();
    beginInsertRows({}, row, row);
    if (atHead)
        entries.prepend({entryPath, entryName});
    else
        entries.append({entryPath, entryName});
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
    const QList<bool> sel = selectionOf(selected, count());
    QList<Entry> moved, rest;
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
    QList<Entry> kept;
    kept.reserve(count());
    for (int i = 0; i < count(); ++i) {
        if (sel[i])
            queuedKeys.remove(entryKey(entries[i].path, entries[i].name));
        else
            kept.append(entries[i]);
    }
    if (kept.size() != entries.size())
        reset(std::move(kept));
    return {};
}

void FileQueue::clear()
{
    queuedKeys.clear();
    reset({});
}

void FileQueue::reset(QList<Entry> newEntries)
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
        if (entries.first().path.endsWith('/') && !flying.isEmpty())
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
    const Entry head = entries.takeFirst();
    queuedKeys.remove(entryKey(head.path, head.name));
    endRemoveRows();

    if (head.path.endsWith('/')) {
        expandFolder(head.path, head.name);
        return false;
    }
    if (!QFileInfo::exists(head.path)) {
        ++endedCount; // gone since it was queued: nothing to send, but the user is told
        noteSkipped(head.path, QStringLiteral("it no longer exists"));
        return true;
    }
    flying.append({head, false});
    if (!transfers.offerFile(head.path, head.name)) {
        // Nothing went out and nothing ended: it waits at the front for the next tick.
        const qsizetype at = flyingIndex(head.path, head.name);
        if (at >= 0) {
            flying.removeAt(at);
            add(head.path, head.name, true);
        }
        return false;
    }
    return true;
}

qsizetype FileQueue::flyingIndex(const QString& path, const QString& name) const
{
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
    QTimer::singleShot(0, this, &FileQueue::expandBatch);
}

void FileQueue::expandBatch()
{
    if (!expansion)
        return;
    if (cancelRequested) {
        endExpansion();
        return;
    }
    if (entriesRead == 0)
        entriesRead = 2; // "." and ".." are read first
    Expansion& x = *expansion;
    bool done = false;
    for (int n = 0; n < dirBatch; ++n) {
        if (!x.it.hasNext()) {
            done = true;
            break;
        }
        x.it.next();
        ++entriesRead;
        readEntry(x.it.fileInfo());
    }
    Q_EMIT filesAddedChanged(entriesRead);
    if (done || cancelRequested)
        endExpansion();
    else
        QTimer::singleShot(0, this, &FileQueue::expandBatch);
}

void FileQueue::readEntry(const QFileInfo& f)
{
    Expansion& x = *expansion;
    const QString entryName = f.fileName();
    // Each skipped link gets a line.
    if (const char* why = f.isSymLink() ? linkSkipReason(f, x.inside) : nullptr) {
        noteSkipped(f.filePath(), QLatin1String(why));
        return;
    }
    if (f.isDir())
        x.found.append({{x.folder + entryName + '/', x.name + '/' + entryName}, entryName, true});
    else if (f.isFile() || !skipSpecial(x.folder + entryName)) // a regular file needs no second look
        x.found.append({{x.folder + entryName, x.name + '/' + entryName}, entryName, false});
}

// The order a file manager lists a folder in: sub-folders first, then files, each by name
// in the user's language, digits compared as numbers ("track 2" before "track 10") and case
// ignored; names equal that way by their characters, so the order is always the same.
void FileQueue::sortForListing(QList<Listed>& found)
{
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates); // the C locale collates by code only
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<QCollatorSortKey> keys;
    keys.reserve(static_cast<size_t>(found.size()));
    for (const Listed& l : found)
        keys.push_back(collator.sortKey(l.fileName));
    std::vector<qsizetype> order(keys.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](qsizetype x, qsizetype y) {
        const Listed& a = found[x];
        const Listed& b = found[y];
        if (a.folder != b.folder)
            return a.folder;
        const int c = keys[static_cast<size_t>(x)].compare(keys[static_cast<size_t>(y)]);
        return c != 0 ? c < 0 : a.fileName < b.fileName;
    });
    QList<Listed> sorted;
    sorted.reserve(found.size());
    for (qsizetype i : order)
        sorted.append(std::move(found[i]));
    found = std::move(sorted);
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

void FileQueue::appendBatch(QList<Listed>& batch)
{
    QList<Entry> fresh;
    fresh.reserve(batch.size());
    for (Listed& l : batch)
        if (const QString key = entryKey(l.entry.path, l.entry.name); !queuedKeys.contains(key)) {
            queuedKeys.insert(key);
            fresh.append(std::move(l.entry));
        }
    if (fresh.isEmpty())
        return;
    setRunning(!isStopped());
    beginInsertRows({}, count(), count() + static_cast<int>(fresh.size()) - 1);
    entries.append(fresh);
    endInsertRows();
}

void FileQueue::endExpansion()
{
    // What was read is queued, also when the expansion was cancelled midway.
    sortForListing(expansion->found);
    appendBatch(expansion->found);
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
