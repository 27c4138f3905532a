#pragma once
#include "queue/QueueEntry.h"
#include "util/FileSystem.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class PeerState;

// The expansion of the file queue's folder entries into the entries of the folder, one
// folder at a time and over many turns of the event loop, so the window stays responsive and
// cancel() is seen at once. The folder is read a batch of directory entries per turn; once
// read, its entries are sorted in the order a file manager lists them (sub-folders first,
// then files, by name in natural order) by a merge sort a few runs per turn, and handed to
// the queue in slices of a few milliseconds. Only regular files and folders are handed on:
// what is left out gets a status line saying why.
class FolderExpansion {
public:
    // What the queue that owns the expansion is told, as it happens.
    struct Hooks {
        std::function<void(bool shown)> shown;                  // an expansion started or ended
        std::function<void(const QString& folder)> folderShown; // the folder, as shown
        std::function<void(int count)> read;                    // entries read so far
        std::function<void(qsizetype count)> sorted;            // sorted: this many entries follow
        // A slice of the listing in order, the entries not queued before: queue them at the end.
        std::function<void(QList<QueueEntry> fresh)> slice;
        std::function<void()> ended; // after shown(false)
    };

    // `queued` holds the queue's entries, to leave out duplicates: each entry handed on is
    // added to it. `batch` and `sliceMs` are the owner's settings, read at every turn: the
    // most directory entries read per turn, and the longest a turn sorts or hands on.
    FolderExpansion(PeerState& ctx, QSet<QueueEntry>& queued, const int& batch, const int& sliceMs, Hooks hooks);
    ~FolderExpansion();
    FolderExpansion(const FolderExpansion&) = delete;
    FolderExpansion& operator=(const FolderExpansion&) = delete;

    // Starts expanding a folder entry (its path ending in "/", and its name); false when it
    // is dropped instead (gone, unreadable, or led out of the folder the user picked).
    bool start(const QString& folderEntry, const QString& entryName);
    bool active() const { return current != nullptr; }
    // Asks a running expansion to end; the entries found so far are still handed on.
    void cancel() { cancelRequested = true; }
    // Hands on the rest of a listing being handed on at once, for the commands that must see
    // the whole folder queued first (adding at the end, moving to the bottom, clearing).
    void finish();
    // The folder being expanded (shortened as shortenLabel does), and the entries read from
    // it so far, "." and ".." included.
    QString folderShown() const { return shownFolder; }
    int entriesRead() const { return readCount; }
    // The panel's shortening: beyond 16 characters, "..." and the last 13.
    static QString shortenLabel(const QString& text);

    // A path that is neither a regular file nor a folder (named pipe, socket, device) is not
    // queued: true, with a status line naming it.
    static bool skipSpecial(PeerState& ctx, const QString& path);
    // The status line for an entry that is not queued or not sent, and why.
    static void noteSkipped(PeerState& ctx, const QString& path, const QString& why);

private:
    // One entry of the folder: its own name, and whether it is a sub-folder.
    struct Listed {
        QString leaf;
        bool folder = false;
    };
    struct Listing;

    void turn();
    void readEntry(const QString& entryName, FileSystem::FolderListing::Kind kind);
    // One slice of sorting the listing (true when it is sorted), and of handing it on.
    bool sortSlice();
    void appendSlice();
    void end();

    PeerState& ctx;
    QSet<QueueEntry>& queued;
    const int& batch;
    const int& sliceMs;
    Hooks hooks;
    std::unique_ptr<Listing> current;
    QTimer timer; // the next turn
    bool cancelRequested = false;
    QString shownFolder;
    int readCount = 0;
};
