#include "transfer/RunLines.h"

namespace RunLines {

QList<QByteArray> fieldsOf(const QByteArray& line, int count)
{
    QList<QByteArray> out;
    qsizetype from = 0;
    while (out.size() + 1 < count) {
        const qsizetype space = line.indexOf(' ', from);
        if (space < 0)
            break;
        out << line.mid(from, space - from);
        from = space + 1;
    }
    out << line.mid(from);
    return out;
}

bool parseNumber(const QByteArray& text, qint64& value)
{
    if (text.isEmpty() || text.size() > 18)
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    value = text.toLongLong();
    return true;
}

bool parseNumber(const QByteArray& text, quint64& value)
{
    qint64 v = 0;
    if (!parseNumber(text, v))
        return false;
    value = static_cast<quint64>(v);
    return true;
}

} // namespace RunLines
