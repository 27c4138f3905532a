#pragma once
#include <QString>

#include <memory>

// Where queue entries start: a path and a name that the entry's own part (its leaf) follows.
// All the files of one folder listing share one head (the folder's path and the name it is
// offered under, each ending in "/"), so an entry of a listing costs its file name only.
struct QueueEntryHead {
    QString path;
    QString name;
};

// One entry of the file queue: the local path is head path + leaf, the name head name + leaf.
// Two entries are equal when their paths and their names are, however they are split into
// head and leaf, so the queue's duplicate check needs no second copy of either.
struct QueueEntry {
    std::shared_ptr<const QueueEntryHead> head;
    QString leaf;

    // An entry with a head of its own and no leaf.
    static QueueEntry single(const QString& path, const QString& name);
    QString path() const { return leaf.isEmpty() ? head->path : head->path + leaf; }
    QString name() const { return leaf.isEmpty() ? head->name : head->name + leaf; }
    // A folder still to be expanded: its path ends in "/".
    bool isFolder() const { return leaf.isEmpty() ? head->path.endsWith('/') : leaf.endsWith('/'); }
};

bool operator==(const QueueEntry& a, const QueueEntry& b);
inline bool operator!=(const QueueEntry& a, const QueueEntry& b)
{
    return !(a == b);
}
size_t qHash(const QueueEntry& e, size_t seed = 0);
