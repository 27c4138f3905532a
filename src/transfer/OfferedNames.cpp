#include "transfer/OfferedNames.h"

#include "session/Session.h"
#include "transfer/TransferRules.h"

#include <QDir>
#include <QFileInfo>

OfferedNames::OfferedNames(const Session& s) : session(s)
{}

QString OfferedNames::of(const QString& path, const QString& name)
{
    // A peer that reads UTF-8 gets the real name; the names given to each kind of peer are
    // remembered apart. One file queued under two names (alone, then within its folder) is
    // two offers: each keeps the name its queue entry gives it.
    const bool utf8 = session.sendsUtf8();
    // Nothing is remembered for most files: no key is made for them.
    QString k;
    if (!wireByPath.isEmpty()) {
        k = key(path, name);
        if (const auto known = wireByPath.constFind(k); known != wireByPath.cend())
            return *known; // offered again (put back, resumed): the same name
    }
    bool replaced = false;
    QString plain = TransferRules::wireName(name, &replaced, utf8);
    // A name that kept every character always gives the same wire name and cannot be the
    // name of another file beside it: nothing to remember (a folder of 100,000 files would
    // otherwise hold them all).
    if (!replaced)
        return plain;
    if (k.isEmpty())
        k = key(path, name);
    QString wire = plain;
    {
        // Replacement characters can make two files one ("日本.txt" and "中国.txt" both give
        // "__.txt"): such a name is numbered until no other file offered so far, and no file
        // beside this one, has it.
        const QFileInfo source(path);
        auto taken = [&](const QString& candidate) {
            const auto holder = pathByWire.constFind(candidate);
            if (holder != pathByWire.cend() && *holder != k)
                return true;
            const QString last = candidate.mid(candidate.lastIndexOf('\\') + 1);
            return last != source.fileName() && QFileInfo(source.dir(), last).exists();
        };
        for (int n = 2; taken(wire) && n < 100000; ++n)
            wire = TransferRules::numberedWireName(plain, n);
    }
    wireByPath.insert(k, wire);
    if (!pathByWire.contains(wire))
        pathByWire.insert(wire, k);
    return wire;
}

QString OfferedNames::key(const QString& path, const QString& name) const
{
    return (session.sendsUtf8() ? QStringLiteral("u:") : QStringLiteral("a:")) + name + QChar(0) + path;
}

void OfferedNames::forget(const QString& path, const QString& name)
{
    const QString k = key(path, name);
    const QString wire = wireByPath.take(k);
    if (const auto holder = pathByWire.constFind(wire); holder != pathByWire.cend() && *holder == k)
        pathByWire.erase(holder);
}
