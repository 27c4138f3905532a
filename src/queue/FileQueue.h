#pragma once
#include "queue/FolderExpansion.h"
#include "queue/QueueEntry.h"

#include <QAbstractListModel>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

class PeerState;
class Session;
class TransferManager;
struct TransferOutcome;

// The file queue: every file this peer sends goes through it. Each entry is a local path and
// the name the file is offered under. A path ending in "/" is a folder still to be expanded;
// every other entry is a file. Row 0 is the head, the next entry the send loop takes.
//
// Names are kept in local form (components separated by "/": "a/b/y.txt"); the offered form,
// components joined by "\" ("a\b\y.txt"), is what OfferedNameRole shows and what goes on the
// wire. Paths are local ("/" separators) throughout.
//
// The send loop runs on sendTimer: each tick, when the peer is logged in and no transfer
// runs or is being decided, it takes the head entry and either expands it (a folder) or
// offers it through TransferManager. A folder is read a batch of directory entries per turn of
// the event loop, so the window stays responsive and cancelDir() is seen at once; its entries
// are queued once read, in the order a file manager lists them (sub-folders first, then
// files, by name in natural order). Only regular files and folders are queued. Sorting and
// queueing the listing take a few milliseconds per turn too; the send loop waits until the
// whole folder is queued, and adding at the end meanwhile queues the rest of it first.
//
// The ordering operations take the selected rows and return the rows to select afterwards.
class FileQueue : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        // Qt::DisplayRole: the path as the list shows it (a folder entry ends in "/").
        OfferedNameRole = Qt::UserRole + 1, // "a\b\y.txt"
        NameRole,                           // "a/b/y.txt"
        FolderRole,                         // bool: a folder waiting for expansion
    };

    // Where the send loop stands.
    enum class State {
        Ready,   // as created: nothing has switched the loop off yet
        Sending, // the loop runs (on sendTimer)
        Resting, // the loop ran empty or has nothing to do: the next entry added starts it
        Stopped, // the user's Stop, or a cancel: only Go starts it again
    };
    Q_ENUM(State)

    FileQueue(PeerState& ctx, Session& session, TransferManager& transfers, QObject* parent = nullptr);
    ~FileQueue() override;

    // ---- the model ----
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const { return static_cast<int>(entries.size()); }
    bool isEmpty() const { return entries.isEmpty(); }
    QString path(int row) const;
    QString name(int row) const;        // local form
    QString offeredName(int row) const; // wire form, "\"-joined, for the connected peer

    // ---- adding ----
    // Adds one entry unless the same path is already queued under the same name (exact,
    // case-sensitive): one file queued alone and again inside its folder goes to both places. atHead
    // puts it at the head. Starts the loop unless the queue is stopped.
    void add(const QString& entryPath, const QString& entryName, bool atHead = false);
    // What the send command and a drop add for one local path: a file with its path and file
    // name; a folder with its path + "/" and the folder's own name.
    void addPath(const QString& localPath);
    // The drop rule: each item in order, as addPath.
    void addDropped(const QStringList& localPaths);

    // ---- ordering (rows of the selected entries, any order; returns the rows selected
    // afterwards) ----
    QList<int> moveUp(const QList<int>& selected);
    QList<int> moveDown(const QList<int>& selected);
    QList<int> moveToTop(const QList<int>& selected);    // returns nothing selected
    QList<int> moveToBottom(const QList<int>& selected); // returns nothing selected
    QList<int> remove(const QList<int>& selected);       // returns nothing selected
    // Empties the queue (the confirmation is the window's).
    void clear();

    // ---- the send loop ----
    // The user's Stop: the loop is off until start().
    void stop();
    // The user's Go: the loop is on.
    void start();
    State state() const { return phase; }
    // Only Stop (the user's, or a cancel's) stops; a loop that ran empty rests unstopped.
    bool isStopped() const { return phase == State::Stopped; }
    // The loop's timer runs.
    bool running() const { return sendTimer.isActive(); }
    // Interval of sendTimer, applied whenever it is switched on.
    int sendTickMs = 200;

    // ---- folder expansion ----
    // Most directory entries handled per turn of the event loop (fewer when they take longer
    // than sliceMs): each turn also shows the count read so far.
    int dirBatch = 1000;
    // Longest a turn sorts or queues a listing before it lets the event loop go on.
    int sliceMs = 4;
    bool expanding() const { return expansion.active(); }
    // Asks a running expansion to end; the entries found so far stay queued.
    void cancelDir() { expansion.cancel(); }
    // The folder being expanded (shortened as shortenDirLabel does), and the entries read
    // from it so far, "." and ".." included.
    QString expandingFolder() const { return expansion.folderShown(); }
    int filesAdded() const { return expansion.entriesRead(); }
    // The panel's shortening: beyond 16 characters, "..." and the last 13.
    static QString shortenDirLabel(const QString& text) { return FolderExpansion::shortenLabel(text); }

    // ---- for a headless peer ----
    // How often one entry may be put back by unfinished transfers before it is given up
    // (counted as ended, not complete); negative: no limit, as in the window.
    int maxPutBacks = -1;
    // Without that limit (the window), an entry that keeps failing would be offered again five
    // times a second for ever: each time it has come back this many times the loop stops with
    // a line saying so, and Go tries again.
    int stopEveryPutBacks = 3;
    // Files taken that have ended for good (complete, failed, given up or gone), and how many
    // of them completed.
    int ended() const { return endedCount; }
    int completed() const { return completedCount; }
    // Entries not yet ended: queued, being expanded or in flight.
    int remaining() const { return count() + static_cast<int>(flying.size()) + (expansion.active() ? 1 : 0); }
    // Most offers the loop hands over in one tick (a run of files takes several at once).
    int offersPerTick = 64;

Q_SIGNALS:
    // An entry was added to the empty queue (through add(); the entries a folder expands
    // into follow its own entry).
    void firstEntryAdded();
    // state() or the loop's timer changed.
    void stateChanged();
    // An expansion started (true) or ended (false).
    void expansionShown(bool shown);
    void expandingFolderChanged(const QString& folder);
    void filesAddedChanged(int count);
    // The loop switched itself off (emptied or stopped) with nothing in flight: a headless
    // peer may look whether it is done.
    void idle();

private:
    struct Entry {
        QString path;
        QString name;
    };

    QList<int> moveSelected(const QList<int>& selected, bool toTop);
    void tick();
    void tickSoon(); // a tick soon, when the loop runs
    // Switches the loop on (Sending) or off (Stopped stays Stopped, else Resting).
    void setRunning(bool on);
    void setPhase(State state);
    // What the folder expansion hands the queue.
    FolderExpansion::Hooks expansionHooks();
    void appendListed(QList<QueueEntry> fresh);
    void expansionEnded();
    void onPutBack(const QString& path, const QString& name);
    void onEnded(const TransferOutcome& outcome);
    void onLoggedIn();
    void reset(QList<QueueEntry> newEntries);

    PeerState& ctx;
    Session& session;
    TransferManager& transfers;
    QList<QueueEntry> entries;
    // The entries queued, by path and name together, to leave out duplicates.
    QSet<QueueEntry> queuedKeys;
    QTimer sendTimer;
    State phase = State::Ready;
    bool loggedIn = false;
    bool stepping = false;
    bool tickAsked = false; // a tick on the next turn of the event loop is on its way
    // The files offered and not yet ended, in the order they were offered (several while a
    // run of files is open).
    struct Flying {
        Entry entry;
        bool putBack = false; // went back to the queue: its end is no end
    };
    QList<Flying> flying;
    qsizetype flyingIndex(const QString& path, const QString& name) const;
    // The entry being offered by offerHead (the last one in `flying`): what ends or is put
    // back while its offer is made is that entry, not an older one of the same file.
    bool offering = false;
    bool offeredEnded = false;   // it ended while being offered...
    bool offeredPutBack = false; // ...put back at the front to be tried again
    // One offer from the head of the queue; false when it has to wait.
    bool offerHead();
    QHash<QString, int> putBacks;
    int endedCount = 0;
    int completedCount = 0;
    FolderExpansion expansion{ctx, queuedKeys, dirBatch, sliceMs, expansionHooks()};
};
