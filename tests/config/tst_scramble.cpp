#include "config/Scramble.h"

#include <QTest>

class TestScramble : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scramble_data()
    {
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<QByteArray>("scrambled"); // empty: only the round trip is checked
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("one char") << QByteArray("a") << QByteArray("\x13");
        QTest::newRow("abc") << QByteArray("abc") << QByteArray("\x14\x13\x15");
        // x1..x5 -> x4 x2 x1 x3 x5, each shifted by 177 modulo 255
        QTest::newRow("five") << QByteArray("12345") << QByteArray("\xE5\xE3\xE2\xE4\xE6");
        QTest::newRow("to line feed") << QByteArray("X") << QByteArray("\n");
        QTest::newRow("to carriage return") << QByteArray("[") << QByteArray("\r");
        QByteArray all;
        for (int c = 0; c < 256; ++c)
            all.append(static_cast<char>(c));
        QTest::newRow("every byte") << all << QByteArray();
        QTest::newRow("every byte but 254 and 255, even length") << all.left(254) << QByteArray();
        QTest::newRow("two") << QByteArray("ab") << QByteArray();
        QTest::newRow("terminator bytes") << QByteArray("{\xBF}") << QByteArray();
    }
    void scramble()
    {
        QFETCH(QByteArray, plain);
        QFETCH(QByteArray, scrambled);
        const QByteArray s = EncryptText(plain);
        QCOMPARE(s.size(), plain.size());
        if (!scrambled.isEmpty())
            QCOMPARE(s, scrambled);
        QCOMPARE(DecryptText(s), QByteArray(plain).replace('\xFF', '\0')); // code 255 comes back as 0
    }
};

QTEST_APPLESS_MAIN(TestScramble)
#include "tst_scramble.moc"
