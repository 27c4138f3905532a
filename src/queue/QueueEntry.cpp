#include "queue/QueueEntry.h"

#include <QHashFunctions>

#include <algorithm>
#include <array>

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

// The hash of head + leaf as one text, without joining them on the heap: the same however
// the text is cut, and with Qt's own hash, which takes many characters at a time.
size_t hashJoined(QStringView head, QStringView leaf, size_t seed)
{
    constexpr qsizetype kOnStack = 512;
    const qsizetype n = head.size() + leaf.size();
    if (n > kOnStack)
        return qHash(head.toString().append(leaf), seed);
    std::array<char16_t, kOnStack> text; // only its first n are hashed
    std::copy(head.utf16(), head.utf16() + head.size(), text.data());
    std::copy(leaf.utf16(), leaf.utf16() + leaf.size(), text.data() + head.size());
    return qHash(QStringView(text.data(), n), seed);
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
    return hashJoined(e.head->name, e.leaf, hashJoined(e.head->path, e.leaf, seed));
}
