#include "core/LineText.h"

namespace {

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Characters that take no visible place of their own in a line, or reorder or break it:
// controls, format characters (soft hyphen, zero-width ones, the bidirectional controls, byte
// order mark, tags), line and paragraph separators, and the fillers that draw nothing.
// Variation selectors stay: they choose how the character before them looks.
bool shownEscaped(char32_t c)
{
    if (c < 0xA0)
        return isControl(c);
    switch (QChar::category(c)) {
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        break;
    }
    switch (c) {
    case 0x034F: // combining grapheme joiner
    case 0x115F:
    case 0x1160:
    case 0x3164:
    case 0xFFA0: // Hangul fillers
    case 0x17B4:
    case 0x17B5: // Khmer inherent vowels
    case 0x180B:
    case 0x180C:
    case 0x180D:
    case 0x180F: // Mongolian free variation selectors
        return true;
    default:
        return false;
    }
}

// The code point at i (a surrogate pair taken whole); n is set to its length.
char32_t codeAt(const QString& text, qsizetype i, qsizetype& n)
{
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
        n = 2;
        return QChar::surrogateToUcs4(c, text[i + 1]);
    }
    n = 1;
    return c.unicode();
}

// The code point that ends right before i (a surrogate pair taken whole).
char32_t codeBefore(const QString& text, qsizetype i)
{
    const QChar c = text[i - 1];
    if (c.isLowSurrogate() && i >= 2 && text[i - 2].isHighSurrogate())
        return QChar::surrogateToUcs4(text[i - 2], c);
    return c.unicode();
}

// Whether the character at i (of length n) is written out. The zero-width joiner and
// non-joiner are part of how some scripts are written (Persian, the Indic scripts) and of
// emoji sequences: between two visible characters they stay; alone, at an end or beside a
// blank they could only hide something, and show.
bool escapedAt(const QString& text, qsizetype i, char32_t c, qsizetype n)
{
    if (!shownEscaped(c))
        return false;
    if ((c != 0x200C && c != 0x200D) || i == 0 || i + n >= text.size())
        return true;
    qsizetype m = 1;
    for (const char32_t side : {codeBefore(text, i), codeAt(text, i + n, m)})
        if (QChar::isSpace(side) || shownEscaped(side))
            return true;
    return false;
}

// What the eye passes over at the start of a line: blanks, the characters above, marks
// with nothing to sit on, and the braille blank.
bool blankLooking(char32_t c)
{
    if (QChar::isSpace(c) || shownEscaped(c) || c == 0x2800)
        return true;
    const QChar::Category k = QChar::category(c);
    return k == QChar::Mark_NonSpacing || k == QChar::Mark_Enclosing;
}

// "*" and "[" and the characters drawn like them.
bool startsOurLine(char32_t c)
{
    switch (c) {
    case '*':
    case '[':
    case 0x066D:
    case 0x204E:
    case 0x2217:
    case 0x2731:
    case 0x2732:
    case 0xFE61:
    case 0xFF0A: // asterisks
    case 0x2772:
    case 0x27E6:
    case 0xFF3B: // brackets
        return true;
    default:
        return false;
    }
}

// Appends character c written out: "\\r", "\\n", "\\t", else "\\x" with two hex digits,
// "\\u" with four or "\\U" with eight.
void appendEscaped(QString& out, char32_t c)
{
    if (c == '\r') {
        out += QLatin1String("\\r");
    } else if (c == '\n') {
        out += QLatin1String("\\n");
    } else if (c == '\t') {
        out += QLatin1String("\\t");
    } else {
        static const char hex[] = "0123456789abcdef";
        const int digits = c <= 0xFF ? 2 : c <= 0xFFFF ? 4 : 8;
        out += QLatin1String(digits == 2 ? "\\x" : digits == 4 ? "\\u" : "\\U");
        for (int d = digits - 1; d >= 0; --d)
            out += QLatin1Char(hex[(c >> (4 * d)) & 0xF]);
    }
}

} // namespace

QString LineText::visible(const QString& text)
{
    qsizetype i = 0;
    qsizetype n = 1;
    while (i < text.size() && !escapedAt(text, i, codeAt(text, i, n), n))
        i += n;
    if (i == text.size())
        return text; // the common case: nothing to change, no copy
    QString out = text.left(i);
    for (; i < text.size(); i += n) {
        const char32_t c = codeAt(text, i, n);
        if (escapedAt(text, i, c, n))
            appendEscaped(out, c);
        else
            out += QStringView(text).mid(i, n);
    }
    return out;
}

QString LineText::peerStatus(const QString& text)
{
    qsizetype i = 0;
    qsizetype n = 1;
    while (i < text.size() && blankLooking(codeAt(text, i, n)))
        i += n;
    if (i < text.size() && startsOurLine(codeAt(text, i, n)))
        return QStringLiteral("stat:") + text;
    return text;
}
