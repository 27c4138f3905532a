#include "queue/FileQueue.h"

#include "core/PeerState.h"
#include "session/Session.h"
#include "transfer/TransferManager.h"
#include "transfer/TransferRules.h"
#include "transfer/TransferRun.h"

#include <QDir>
#include <QFileInfo>

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
        expansion.finish();
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
    if (FolderExpansion::skipSpecial(ctx, path)) {
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
        expansion.finish();
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
    expansion.finish();
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
    if (flying.isEmpty() && !expansion.active())
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
    if (stepping || expansion.active())
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
    if (entries.isEmpty() && !expansion.active()) {
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
        if (!expansion.start(head.path, head.name))
            ++endedCount; // dropped: gone, unreadable, or led out of the folder the user picked
        return false;
    }
    // A run of files open to the peer finds a file gone when it opens it, and skips it with
    // the same line: the look is spared for each of its thousands of files.
    const TransferRun* run = transfers.currentRun();
    if ((!run || !run->sending() || run->isFinished()) && !QFileInfo::exists(head.path)) {
        ++endedCount; // gone since it was queued: nothing to send, but the user is told
        FolderExpansion::noteSkipped(ctx, head.path, QStringLiteral("it no longer exists"));
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
        if (flying.isEmpty() && !sendTimer.isActive() && !expansion.active()) {
            // Nothing more to offer: a run of files opened by this file closes at once.
            if (entries.isEmpty() || isStopped())
                transfers.queueRanEmpty();
            Q_EMIT idle();
        }
    }
    tickSoon(); // the transfer slot is free again
}

// ---- folder expansion ----

FolderExpansion::Hooks FileQueue::expansionHooks()
{
    return {
        [this](bool shown) { Q_EMIT expansionShown(shown); },
        [this](const QString& folder) { Q_EMIT expandingFolderChanged(folder); },
        [this](int count) { Q_EMIT filesAddedChanged(count); },
        [this](qsizetype count) {
            queuedKeys.reserve(queuedKeys.size() + count);
            entries.reserve(entries.size() + count);
        },
        [this](QList<QueueEntry> fresh) { appendListed(std::move(fresh)); },
        [this] { expansionEnded(); },
    };
}

void FileQueue::appendListed(QList<QueueEntry> fresh)
{
    setRunning(!isStopped());
    beginInsertRows({}, count(), count() + static_cast<int>(fresh.size()) - 1);
    entries.append(std::move(fresh));
    endInsertRows(); // a view may add an entry here, which queues the rest at once
}

void FileQueue::expansionEnded()
{
    if (entries.isEmpty()) {
        setRunning(false);
        if (flying.isEmpty())
            Q_EMIT idle();
    } else {
        tickSoon();
    }
}
