#pragma once
#include <QByteArray>
#include <QString>

#include <vector>

// The public keys of the peers this installation has met: "known-peers" in the program
// folder, readable by the owner only, written atomically.
//
// The file holds one entry a line, ending in "\n"; fields are separated by one tab:
//
//   site <TAB> host <TAB> port <TAB> key <TAB> name     a server this side connected to
//   peer <TAB> key <TAB> name                           a client that connected to this side
//
// host is the text the user connected to (compared case-insensitively), port a decimal
// number 1-65535, key the base64 (RFC 4648, with padding) of the peer's DER
// SubjectPublicKeyInfo, and name the name the peer gave. host and name are UTF-8 in which
// "%", every byte below 0x20 and 0x7F are written "%XX" (two upper-case hex digits), so no
// tab, CR or newline can split a line. Bounds: host MaxHostLength and name MaxNameLength
// characters (a longer name is cut when remembered), key MaxKeySize bytes, and at most
// MaxEntries entries of each kind (remembering one more forgets the least recently
// remembered one of its kind). A later entry for the same site or key replaces an earlier
// one. Any other line (an unknown kind, a bad field, a comment) is skipped when reading and
// written back unchanged, in its place, when saving; empty lines are dropped.
class KnownPeers {
public:
    static constexpr int MaxHostLength = 255;
    static constexpr int MaxNameLength = 100;
    static constexpr int MaxKeySize = 1024;
    static constexpr int MaxEntries = 1000;
    // At most this much of the file is read; a larger file is used as far as it was read
    // but is not written over (save() refuses), so entries beyond the bound are not lost.
    static constexpr qint64 MaxFileSize = qint64(4) << 20;

    explicit KnownPeers(const QString& programFolder);
    static QString filePath(const QString& programFolder);

    // Reads the file; a missing file is an empty list. False with `problem` set when it
    // cannot be read (the list is then empty). True with `problem` set when it was larger
    // than MaxFileSize and only its beginning was read; otherwise `problem` is cleared.
    bool load(QString* problem = nullptr);
    // Writes the file atomically, mode 0600. Refused (false, `problem` set) when a file is
    // there that the last load() did not read completely (not loaded, unreadable, too large),
    // so that entries this object never saw are not lost.
    bool save(QString* problem = nullptr) const;

    // Client side: the key remembered for a site, by the host text as the user gave it
    // (compared case-insensitively) and the port; empty when none.
    QByteArray siteKey(const QString& host, quint16 port) const;
    // Stores or replaces the key of a site; false (nothing stored) for an empty or too
    // long host or key, or port 0.
    bool rememberSite(const QString& host, quint16 port, const QByteArray& key, const QString& peerName);
    bool forgetSite(const QString& host, quint16 port); // true when one was removed

    // Server side: keys of clients that connected before, with the name they gave.
    bool knowsPeer(const QByteArray& key) const;
    // Stores a key or updates its name; false (nothing stored) for an empty or too long key.
    bool rememberPeer(const QByteArray& key, const QString& peerName);

    // The display name stored with a site or a key (empty when none).
    QString siteName(const QString& host, quint16 port) const;
    QString peerName(const QByteArray& key) const;

    // The line format's escaping of host and name fields, and back (false for a text that
    // is no such field: a bad escape, a raw control byte or a tab, or bytes that are not UTF-8).
    static QByteArray escapeField(const QString& text);
    static bool unescapeField(const QByteArray& field, QString& text);

private:
    enum class Kind { Site, Peer, Kept };
    struct Line {
        Kind kind = Kind::Kept;
        QString host;
        quint16 port = 0;
        QByteArray key;
        QString name;
        QByteArray raw;  // Kept lines: the bytes as read
        quint64 age = 0; // larger is more recently remembered
    };
    static bool parse(const QByteArray& bytes, Line& line);
    static QByteArray format(const Line& line);
    std::vector<Line>::const_iterator findSite(const QString& host, quint16 port) const;
    std::vector<Line>::const_iterator findPeer(const QByteArray& key) const;
    void add(Line line);

    QString path;
    std::vector<Line> lines;
    quint64 clock = 0;
    mutable bool readWhole = false; // the last load() read the whole file (or there was none)
};
