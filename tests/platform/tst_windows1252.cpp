#include "platform/Windows1252.h"
#include "support/Harness.h"

#include <QTest>

class TestWindows1252 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Each byte decodes to its character, and the 256 (as a file name or a chat line carries
    // them) encode back to themselves.
    void everyByte()
    {
        // 0x80..0x9F; the five codes the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90,
        // 0x9D) stand for the C1 control characters of the same number.
        const char16_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                   0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
        QByteArray all;
        QString want;
        for (int byte = 0; byte < 256; ++byte) {
            all.append(static_cast<char>(byte));
            want.append(QChar(byte >= 0x80 && byte < 0xA0 ? high[byte - 0x80] : char16_t(byte)));
        }
        QCOMPARE(Windows1252::decode(all), want);
        QVERIFY(Windows1252::representable(want));
        QCOMPARE(Windows1252::encode(want), all);
    }

    // A character without a code becomes the replacement, one for each UTF-16 unit.
    void withoutCode_data()
    {
        columns<QString, QByteArray>("text", "encoded");
        QTest::newRow("C1 control the euro sign stands in for") << QString(QChar(0x80)) << QByteArray("?");
        QTest::newRow("C1 control of a defined code") << QString(QChar(0x9F)) << QByteArray("?");
        QTest::newRow("CJK between Latin-1") << QString::fromUtf8("a\u4e2d\u00e9") << QByteArray("a?\xe9");
        QTest::newRow("outside the BMP") << QString::fromUtf8("\U0001F600") << QByteArray("??");
    }

    void withoutCode()
    {
        auto [text, encoded] = fetch<QString, QByteArray>("text", "encoded");
        QVERIFY(!Windows1252::representable(text));
        QCOMPARE(Windows1252::encode(text), encoded);
        QCOMPARE(Windows1252::encode(text, '_'), QByteArray(encoded).replace('?', '_'));
    }
};

QTEST_GUILESS_MAIN(TestWindows1252)
#include "tst_windows1252.moc"
