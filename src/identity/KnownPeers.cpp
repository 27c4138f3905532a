#include "identity/KnownPeers.h"

#include "config/SavedFile.h"

#include <QDir>
#include <QStringDecoder>

#include <sys/stat.h>

#include <algorithm>

namespace {

constexpr char FileName[] = "known-peers";

bool needsEscape(unsigned char c)
{
    return c < 0x20 || c == 0x7f || c == '%';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The text cut to at most n characters, never between the two halves of a surrogate pair.
QString bounded(const QString& text, int n)
{
    if (text.size() <= n)
        return text;
    return text.left(text.at(n - 1).isHighSurrogate() ? n - 1 : n);
}

// A decimal port 1-65535 written as the program writes it; 0 for anything else.
quint16 portField(const QByteArray& field)
{
    bool ok = false;
    const uint port = field.toUInt(&ok);
    if (!ok || port == 0 || port > 65535 || QByteArray::number(port) != field)
        return 0;
    return static_cast<quint16>(port);
}

QByteArray keyField(const QByteArray& field)
{
    auto decoded = QByteArray::fromBase64Encoding(field, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() > KnownPeers::MaxKeySize)
        return {};
    return decoded.decoded;
}

} // namespace

KnownPeers::KnownPeers(const QString& programFolder) : path(filePath(programFolder))
{}

QString KnownPeers::filePath(const QString& programFolder)
{
    return QDir(programFolder).filePath(QString::fromLatin1(FileName));
}

QByteArray KnownPeers::escapeField(const QString& text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        if (needsEscape(u))
            out += '%' + QByteArray::number(u, 16).toUpper().rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

bool KnownPeers::unescapeField(const QByteArray& field, QString& text)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < field.size(); ++i) {
        const auto u = static_cast<unsigned char>(field[i]);
        if (u < 0x20 || u == 0x7f)
            return false;
        if (u != '%') {
            bytes += field[i];
            continue;
        }
        const int hi = i + 2 < field.size() ? hexValue(field[i + 1]) : -1;
        const int lo = hi >= 0 ? hexValue(field[i + 2]) : -1;
        if (lo < 0)
            return false;
        bytes += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    text = utf8.decode(bytes);
    return !utf8.hasError();
}

bool KnownPeers::parse(const QByteArray& bytes, Line& line)
{
    const QList<QByteArray> f = bytes.split('\t');
    if (f[0] == "site" && f.size() == 5) {
        line.kind = Kind::Site;
        line.port = portField(f[2]);
        line.key = keyField(f[3]);
        return line.port != 0 && !line.key.isEmpty() && unescapeField(f[1], line.host) && !line.host.isEmpty()
               && line.host.size() <= MaxHostLength && unescapeField(f[4], line.name)
               && line.name.size() <= MaxNameLength;
    }
    if (f[0] == "peer" && f.size() == 3) {
        line.kind = Kind::Peer;
        line.key = keyField(f[1]);
        return !line.key.isEmpty() && unescapeField(f[2], line.name) && line.name.size() <= MaxNameLength;
    }
    return false;
}

QByteArray KnownPeers::format(const Line& line)
{
    switch (line.kind) {
    case Kind::Site:
        return "site\t" + escapeField(line.host) + '\t' + QByteArray::number(line.port) + '\t' + line.key.toBase64()
               + '\t' + escapeField(line.name);
    case Kind::Peer:
        return "peer\t" + line.key.toBase64() + '\t' + escapeField(line.name);
    case Kind::Kept:
        break;
    }
    return line.raw;
}

bool KnownPeers::load(QString* problem)
{
    lines.clear();
    LinesRead read = readLineFile(path, MaxFileSize);
    readWhole = read.whole;
    if (read.usable && !read.whole)
        read.problem += QStringLiteral("; move it away to keep new keys");
    for (QByteArray& text : read.bytes.split('\n')) {
        if (text.endsWith('\r'))
            text.chop(1);
        if (text.isEmpty())
            continue;
        Line line;
        if (!parse(text, line))
            line = Line{Kind::Kept, {}, 0, {}, {}, text, 0};
        add(std::move(line));
    }
    if (problem)
        *problem = read.problem;
    return read.usable;
}

bool KnownPeers::save(QString* problem) const
{
    QByteArray bytes;
    for (const Line& line : lines)
        bytes += format(line) + '\n';
    const QString why = saveLineFile(path, bytes, readWhole, true, QStringLiteral("entries"));
    readWhole = readWhole || why.isEmpty();
    if (problem)
        *problem = why;
    return why.isEmpty();
}

std::vector<KnownPeers::Line>::const_iterator KnownPeers::findSite(const QString& host, quint16 port) const
{
    return std::find_if(lines.begin(), lines.end(), [&](const Line& l) {
        return l.kind == Kind::Site && l.port == port && l.host.compare(host, Qt::CaseInsensitive) == 0;
    });
}

std::vector<KnownPeers::Line>::const_iterator KnownPeers::findPeer(const QByteArray& key) const
{
    return std::find_if(lines.begin(), lines.end(),
                        [&](const Line& l) { return l.kind == Kind::Peer && l.key == key; });
}

// Puts a line in: an entry replaces the earlier one for its site or key in its place, and
// one entry too many of a kind pushes out the least recently remembered of that kind.
void KnownPeers::add(Line line)
{
    line.age = ++clock;
    if (line.kind == Kind::Kept) {
        lines.push_back(std::move(line));
        return;
    }
    const auto same = line.kind == Kind::Site ? findSite(line.host, line.port) : findPeer(line.key);
    if (same != lines.end()) {
        lines[same - lines.begin()] = std::move(line);
        return;
    }
    const Kind kind = line.kind;
    lines.push_back(std::move(line));
    if (std::count_if(lines.begin(), lines.end(), [kind](const Line& l) { return l.kind == kind; }) > MaxEntries) {
        auto oldest = lines.end();
        for (auto it = lines.begin(); it != lines.end(); ++it)
            if (it->kind == kind && (oldest == lines.end() || it->age < oldest->age))
                oldest = it;
        lines.erase(oldest);
    }
}

QByteArray KnownPeers::siteKey(const QString& host, quint16 port) const
{
    const auto it = findSite(host, port);
    return it == lines.end() ? QByteArray() : it->key;
}

QString KnownPeers::siteName(const QString& host, quint16 port) const
{
    const auto it = findSite(host, port);
    return it == lines.end() ? QString() : it->name;
}

bool KnownPeers::rememberSite(const QString& host, quint16 port, const QByteArray& key, const QString& peerName)
{
    if (host.isEmpty() || host.size() > MaxHostLength || port == 0 || key.isEmpty() || key.size() > MaxKeySize)
        return false;
    add(Line{Kind::Site, host, port, key, bounded(peerName, MaxNameLength), {}, 0});
    return true;
}

bool KnownPeers::forgetSite(const QString& host, quint16 port)
{
    const auto it = findSite(host, port);
    if (it == lines.end())
        return false;
    lines.erase(it);
    return true;
}

bool KnownPeers::knowsPeer(const QByteArray& key) const
{
    return !key.isEmpty() && findPeer(key) != lines.end();
}

QString KnownPeers::peerName(const QByteArray& key) const
{
    const auto it = findPeer(key);
    return it == lines.end() ? QString() : it->name;
}

bool KnownPeers::rememberPeer(const QByteArray& key, const QString& peerName)
{
    if (key.isEmpty() || key.size() > MaxKeySize)
        return false;
    add(Line{Kind::Peer, {}, 0, key, bounded(peerName, MaxNameLength), {}, 0});
    return true;
}
