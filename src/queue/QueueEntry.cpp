#include "queue/QueueEntry.h"

#include <algorithm>

namespace {

// Whether head + leaf of one entry and of another are the same text, without joining them.
bool sameJoined(QStringView a1, QStringView a2, QStringView b1, QStringView b2)
{
    if (a1.size() + a2.size() != b1.size() + b2.size())
        return false;
    if (a1.size() > b1.size()) {
        std::swap(a1, b1);
        std::swap(a2, b2);
    }
    // a1 is the shorter head: it starts b1, whose rest starts a2, whose rest is b2.
    const qsizetype over = b1.size() - a1.size();
    return b1.startsWith(a1) && b1.sliced(a1.size()) == a2.first(over) && a2.sliced(over) == b2;
}

// FNV-1a over UTF-16 units, so that a text hashes the same however it is cut.
size_t hashOn(size_t h, QStringView text)
{
    for (const QChar c : text) {
        h ^= c.unicode();
        h *= 1099511628211ULL;
    }
    return h;
}

} // namespace

QueueEntry QueueEntry::single(const QString& path, const QString& name)
{
    return {std::make_shared<const QueueEntryHead>(QueueEntryHead{path, name}), {}};
}

bool operator==(const QueueEntry& a, const QueueEntry& b)
{
    if (a.head == b.head)
        return a.leaf == b.leaf;
    return sameJoined(a.head->path, a.leaf, b.head->path, b.leaf)
           && sameJoined(a.head->name, a.leaf, b.head->name, b.leaf);
}

size_t qHash(const QueueEntry& e, size_t seed)
{
    // The name, the path's length and the path's first characters (which tell apart folders
    // of one name picked from different places, such as one "home" in each dated backup): the
    // rest of the path mostly repeats the name, and hashing it all would double the time.
    constexpr qsizetype kPathStart = 64;
    size_t h = 14695981039346656037ULL ^ seed;
    h = (h ^ static_cast<size_t>(e.head->path.size() + e.leaf.size())) * 1099511628211ULL;
    const QStringView headPath = QStringView(e.head->path).first(std::min(kPathStart, e.head->path.size()));
    h = hashOn(h, headPath);
    h = hashOn(h, QStringView(e.leaf).first(std::min(kPathStart - headPath.size(), e.leaf.size())));
    return hashOn(hashOn(h, e.head->name), e.leaf);
}
