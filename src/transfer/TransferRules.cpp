#include "transfer/TransferRules.h"

#include "config/Scramble.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <limits>

namespace TransferRules {

namespace {

bool controlChar(QChar c)
{
    const ushort u = c.unicode();
    return u < 0x20 || u == 0x7F || (u >= 0x80 && u <= 0x9F);
}

QString twoDigits(qint64 v)
{
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

// 0.1, 12.5, 3: up to two decimals without trailing zeros.
QString plainDecimal(double value)
{
    QString s = QString::number(value, 'f', 2);
    while (s.endsWith('0'))
        s.chop(1);
    if (s.endsWith('.'))
        s.chop(1);
    return s;
}

} // namespace

qint64 resumeOffset(qint64 localLength, qint64 block, qint64 offeredSize)
{
    if (block <= 0 || localLength <= 0 || localLength > offeredSize)
        return 0;
    const qint64 n = localLength / block;
    return n < 3 ? 0 : (n - 1) * block;
}

QString offerBlockField(qint64 size)
{
    return size >= 32768 ? QStringLiteral("32768") : QStringLiteral("512");
}

Offer makeOffer(quint16 port, const QString& name, qint64 size)
{
    return Offer{QString::number(port), wireName(name), offerBlockField(size), QString::number(size)};
}

QString wireName(const QString& localName, bool* replaced, bool utf8)
{
    if (replaced)
        *replaced = false;
    QStringList parts = localName.split('/', Qt::SkipEmptyParts);
    for (QString& part : parts) {
        QString clean;
        clean.reserve(part.size());
        for (qsizetype i = 0; i < part.size(); ++i) {
            const QChar c = part[i];
            const bool pair = c.isHighSurrogate() && i + 1 < part.size() && part[i + 1].isLowSurrogate();
            if (!utf8 && pair) {
                clean += '_'; // one character outside Windows-1252, two UTF-16 units
                ++i;
                if (replaced)
                    *replaced = true;
            } else if (c == '\\' || c == '|' || controlChar(c) || (!utf8 && !isScramblable(QString(c)))) {
                clean += '_';
                if (replaced)
                    *replaced = true;
            } else {
                clean += c; // with UTF-8 every other character passes
            }
        }
        part = clean;
    }
    return parts.join('\\');
}

QString numberedWireName(const QString& wire, int n)
{
    const qsizetype slash = wire.lastIndexOf('\\');
    const qsizetype dot = wire.lastIndexOf('.');
    const qsizetype at = dot > slash + 1 ? dot : wire.size();
    return wire.left(at) + QStringLiteral(" (%1)").arg(n) + wire.mid(at);
}

QStringList offeredComponents(const QString& name, QString* problem)
{
    auto fail = [problem](const QString& why) {
        if (problem)
            *problem = why;
        return QStringList();
    };
    if (name.isEmpty())
        return fail(QStringLiteral("empty name"));
    if (name.startsWith('/') || name.startsWith(QLatin1String("\\\\")))
        return fail(QStringLiteral("absolute path"));
    if (name.size() >= 2 && name[1] == ':' && name[0].isLetter())
        return fail(QStringLiteral("drive letter"));
    // A peer sending a folder from a drive root writes "\x" or "a\\b": the empty parts go.
    QStringList parts = name.split('\\', Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return fail(QStringLiteral("empty name"));
    if (parts.first().size() >= 2 && parts.first()[1] == ':' && parts.first()[0].isLetter())
        return fail(QStringLiteral("drive letter"));
    for (const QString& part : parts) {
        if (part == QLatin1String(".") || part == QLatin1String(".."))
            return fail(QStringLiteral("\"%1\" in the path").arg(part));
        if (part.contains('/'))
            return fail(QStringLiteral("\"/\" inside a name"));
        for (QChar c : part)
            if (controlChar(c))
                return fail(QStringLiteral("control character"));
    }
    if (problem)
        problem->clear();
    return parts;
}

QString checkPlainName(const QString& name)
{
    QString problem;
    const QStringList parts = offeredComponents(name, &problem);
    if (!problem.isEmpty())
        return problem;
    if (parts.size() != 1 || name.contains('\\'))
        return QStringLiteral("\"\\\" inside a name");
    return {};
}

bool staysInside(const QString& root, const QString& path)
{
    const QString r = QFileInfo(root).canonicalFilePath();
    if (r.isEmpty())
        return false;
    QString p = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    for (;;) {
        const QFileInfo info(p);
        if (info.isSymLink() && !info.exists())
            return false; // creating through it would land wherever it points
        if (info.exists()) {
            const QString c = info.canonicalFilePath();
            return c == r || c.startsWith(r.endsWith('/') ? r : r + '/');
        }
        const QString parent = QFileInfo(p).path();
        if (parent == p)
            return false;
        p = parent;
    }
}

bool parsePort(const QString& text, quint16& port)
{
    qint64 value = 0;
    if (text.size() > 5 || !parseSize(text, value) || value < 1 || value > 65534)
        return false;
    port = static_cast<quint16>(value);
    return true;
}

bool parseSize(const QString& text, qint64& value)
{
    if (text.isEmpty() || text.size() > 19)
        return false;
    for (QChar c : text)
        if (c < '0' || c > '9')
            return false;
    bool ok = false;
    value = text.toLongLong(&ok);
    return ok;
}

QString uniqueName(const QString& name, const QString& folder)
{
    const qsizetype dot = name.lastIndexOf('.');
    const QString base = dot < 0 ? name : name.left(dot);
    const QString ext = dot < 0 ? QString() : name.mid(dot);
    const QDir dir(folder);
    // Far more thousands than any folder holds; the bound only keeps a broken disk from
    // spinning here forever.
    for (int thousand = 0; thousand < 1000; ++thousand) {
        const QString prefix(thousand, QLatin1Char('a'));
        for (int counter = 1; counter <= 1000; ++counter) {
            QString candidate = base + prefix + QString::number(counter) + ext;
            const QFileInfo info(dir.filePath(candidate));
            if (!info.exists() && !info.isSymLink())
                return candidate;
        }
    }
    return {};
}

double rate(qint64 bytes, qint64 seconds)
{
    if (seconds <= 0)
        return 0.1;
    // Hundredths of a kilobyte per second, rounded half to even on the exact quotient:
    // bytes / (seconds * 10).
    const qint64 bytesClamped = std::max<qint64>(bytes, 0);
    const qint64 div =
        seconds > std::numeric_limits<qint64>::max() / 10 ? std::numeric_limits<qint64>::max() : seconds * 10;
    qint64 hundredths = bytesClamped / div;
    const qint64 rest = bytesClamped % div;
    if (rest > div - rest || (rest == div - rest && hundredths % 2 == 1))
        ++hundredths;
    return hundredths == 0 ? 0.1 : static_cast<double>(hundredths) / 100.0;
}

QString rateText(double kbPerSecond)
{
    return plainDecimal(kbPerSecond) + QStringLiteral(" KB/SEC");
}

QString elapsedText(qint64 s)
{
    if (s <= 3600)
        return QString::number(s / 60) + ':' + twoDigits(s % 60);
    const qint64 h = s / 3600;
    const qint64 m = (s - 3600 * h) / 60;
    return QString::number(h) + ':' + twoDigits(m) + ':' + twoDigits(s - 3600 * h - 60 * m);
}

QString timeLeftText(qint64 remaining, double kbPerSecond)
{
    if (kbPerSecond <= 0)
        kbPerSecond = 0.1;
    const double seconds = std::floor(static_cast<double>(std::max<qint64>(remaining, 0)) / (kbPerSecond * 1000.0));
    const qint64 t = seconds > 9.0e15 ? static_cast<qint64>(9.0e15) : static_cast<qint64>(seconds);
    const qint64 m = t / 60;
    if (m <= 60)
        return QString::number(m) + ':' + twoDigits(t - 60 * m);
    const qint64 h = m / 60;
    const qint64 m2 = m - 60 * h;
    return QString::number(h) + ':' + twoDigits(m2) + ':' + twoDigits(t - 60 * m2 - 3600 * h);
}

QString cutEnd(const QString& text, int limit)
{
    return text.size() > limit ? text.left(limit - 3) + QStringLiteral("...") : text;
}

} // namespace TransferRules
