#pragma once
#include "session/Offer.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The pure rules of a transfer: resume offsets, the offer, names and the texts
// of rate, elapsed time and time left. Sizes are 64-bit throughout.
namespace TransferRules {

// Where a resume starts for a partial file of `localLength` bytes, given the offer's block
// size and size: 0 when fewer than three whole blocks are there, else one block before the
// last whole block. A local file longer than the offered size restarts at 0.
qint64 resumeOffset(qint64 localLength, qint64 block, qint64 offeredSize);

// The block field of an offer: "32768" for files of 32768 bytes and more, else "512".
QString offerBlockField(qint64 size);

// The offer for a file: name is the local form (components separated by "/"), turned into the
// wire form by wireName.
Offer makeOffer(quint16 port, const QString& name, qint64 size);

// The wire form of a queued name: components (separated by "/") joined by "\"; inside a
// component "\", "|", control characters, characters Windows-1252 cannot hold and "ÿ" (which
// the scrambling cannot carry) become "_".
// `replaced` tells whether any character was replaced. With `utf8` (a peer that reads UTF-8)
// every other character stays.
QString wireName(const QString& localName, bool* replaced = nullptr, bool utf8 = false);

// A wire name with " (n)" before the extension of its last component: "d\__.txt", 2 gives
// "d\__ (2).txt".
QString numberedWireName(const QString& wire, int n);

// An offered name checked and split into its components ("\" separates sub-folders).
// Leading "\" and empty components are dropped (a folder sent from a drive root gives
// "\x" and "a\\b"). Empty with `problem` set when the name could write outside the download
// folder or is not a file name: empty, starting with "/", a drive letter, "..", ".", "/"
// inside a component, control characters.
QStringList offeredComponents(const QString& wireName, QString* problem = nullptr);

// A single typed file name (no folders) checked the same way; empty problem when usable.
QString checkPlainName(const QString& name);

// True when `path` (existing or not) lies inside `root` once every existing symbolic link on
// its way is resolved; a dangling link on the way counts as outside.
bool staysInside(const QString& root, const QString& path);

// A transfer port: decimal, 1 to 65534 (the data port P + 1 must fit too).
bool parsePort(const QString& text, quint16& port);

// A decimal size or offset of 0 to 2^63-1 (digits only); false otherwise.
bool parseSize(const QString& text, qint64& value);

// The next free numbered name for `name` in `folder`: base + counter + extension, counter
// 1..1000, then with an "a" prefix before the counter for each further thousand. Anything
// existing (file, folder, link) is taken. Empty when no free name is found.
QString uniqueName(const QString& name, const QString& folder);

// Kilobytes (1000 bytes) per second rounded to two places, ties to even, 0.1 when the
// rounded rate is 0.
double rate(qint64 bytes, qint64 seconds);
// The rate as shown: plain decimal followed by " KB/SEC".
QString rateText(double kbPerSecond);
// m:ss up to 3600 s, h:mm:ss beyond.
QString elapsedText(qint64 seconds);
// The time left for `remaining` bytes at `kbPerSecond`: m:ss up to 60 minutes, else h:mm:ss.
QString timeLeftText(qint64 remaining, double kbPerSecond);

// Text shortened from its end: beyond `limit` characters the first (limit - 3) + "...".
QString cutEnd(const QString& text, int limit);

} // namespace TransferRules
