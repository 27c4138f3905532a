#include "core/LineText.h"

namespace {

bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

} // namespace

QString LineText::visible(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && !isControl(text[i].unicode()))
        ++i;
    if (i == text.size())
        return text; // the common case: nothing to change, no copy
    QString out = text.left(i);
    static const char hex[] = "0123456789abcdef";
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (!isControl(c))
            out += text[i];
        else if (c == '\r')
            out += QLatin1String("\\r");
        else if (c == '\n')
            out += QLatin1String("\\n");
        else if (c == '\t')
            out += QLatin1String("\\t");
        else
            out += QLatin1String("\\x") + QLatin1Char(hex[c >> 4]) + QLatin1Char(hex[c & 0xF]);
    }
    return out;
}

QString LineText::peerStatus(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    if (i < text.size() && (text[i] == '*' || text[i] == '['))
        return QStringLiteral("stat:") + text;
    return text;
}
