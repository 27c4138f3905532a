#include "core/LineText.h"
#include "support/Harness.h"

#include <QTest>

namespace {

// A row whose text is shown as `shown`, or as it is when shown is left out.
void row(const char* name, const QString& text, const QString& shown = QString())
{
    QTest::newRow(name) << text << (shown.isNull() ? text : shown);
}

// A peer's status text that could pass for one of this program's lines: shown with "stat:".
void marked(const char* name, const QString& text)
{
    row(name, text, "stat:" + text);
}

} // namespace

class TestLineText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void visible_data()
    {
        columns<QString, QString>("text", "shown");
        row("plain", "hello there");
        row("empty", "");
        row("lone LF at the end", "a\n", "a\\n");
        row("C0 and DEL", "a\t\a\x1f\x7f", "a\\t\\x07\\x1f\\x7f");
        row("C1, first of the range and last", QString(QChar(0x85)) + QChar(0x9F), "\\x85\\x9f");
        row("backslash stays", "Music\\Live\\n.bin");
        row("printable beyond ASCII", QString::fromUtf8("\u00a0\u00e9\u20ac\u00ff"));
        row("right-to-left override", QString::fromUtf8("a\u202etxt.exe"), "a\\u202etxt.exe");
        row("bidi controls, both ends", QString::fromUtf8("\u202a\u202d\u2066\u2069"), "\\u202a\\u202d\\u2066\\u2069");
        row("soft hyphen, zero width, BOM", QString::fromUtf8("\u00adx\u200b\u200d\ufeff"),
            "\\xadx\\u200b\\u200d\\ufeff");
        row("joiners inside a word or an emoji stay",
            QString::fromUtf8("\u0645\u06cc\u200c\u062e\u0648\u0627\u0645 \U0001f469\u200d\U0001f4bb"));
        row("joiners alone, at an end or by a blank", QString::fromUtf8("\u200cx\u200d y\u200c \u200d"),
            "\\u200cx\\u200d y\\u200c \\u200d");
        row("line separators, filler", QString::fromUtf8("\u2028\u2029\u3164"), "\\u2028\\u2029\\u3164");
        row("tag beyond the BMP", QString::fromUtf8("\U000e0041!"), "\\U000e0041!");
        row("emoji and variation selector stay",
            QString::fromUtf8("\U0001f600\u2764\ufe0f \u0141\u00f3d\u017a \u65e5\u672c"));
    }
    void visible()
    {
        auto [text, shown] = fetch<QString, QString>("text", "shown");
        QCOMPARE(LineText::visible(text), shown);
    }

    void peerStatus_data()
    {
        columns<QString, QString>("text", "shown");
        row("ordinary", "away for lunch");
        row("empty", "");
        row("star inside", "5 *** stars");
        marked("debug line", "*QVDEBUG* : x");
        marked("time stamp", "[9:05] *** x");
        marked("after blanks", QString::fromUtf8(" \u00a0*** x"));
        for (const char32_t invisible : {0xAD, 0x200B, 0x202E, 0xFEFF, 0x3164, 0x301, 0xE0020, 0x2800}) {
            const QString text = QString::fromUcs4(&invisible, 1) + "*** x";
            QTest::addRow("U+%04X before stars", unsigned(invisible)) << text << "stat:" + text;
        }
        marked("look-alike stars", QString::fromUtf8("\u2217\u2217\u2217 x"));
        marked("full-width bracket", QString::fromUtf8("\uff3b9:05] x"));
        row("letter first", QString::fromUtf8("\u00e9*** x"));
    }
    void peerStatus()
    {
        auto [text, shown] = fetch<QString, QString>("text", "shown");
        QCOMPARE(LineText::peerStatus(text), shown);
    }
};

QTEST_APPLESS_MAIN(TestLineText)
#include "tst_linetext.moc"
