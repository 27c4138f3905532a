#include "core/LineText.h"

#include <QTest>

class TestLineText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void visible_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << "hello there" << "hello there";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("lone LF at the end") << "a\n" << "a\\n";
        QTest::newRow("tab") << "a\tb" << "a\\tb";
        QTest::newRow("bell and unit separator") << "\a\x1f" << "\\x07\\x1f";
        QTest::newRow("DEL") << "a\x7f" << "a\\x7f";
        QTest::newRow("C1 next line") << QString(QChar(0x85)) << "\\x85";
        QTest::newRow("C1 last") << QString(QChar(0x9F)) << "\\x9f";
        QTest::newRow("backslash stays") << "Music\\Live\\n.bin" << "Music\\Live\\n.bin";
        QTest::newRow("printable beyond ASCII") << QString::fromUtf8("\u00a0\u00e9\u20ac\u00ff")
                                                << QString::fromUtf8("\u00a0\u00e9\u20ac\u00ff");
    }
    void visible()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(LineText::visible(text), shown);
    }

    void peerStatus_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ordinary") << "away for lunch" << "away for lunch";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("star inside") << "5 *** stars" << "5 *** stars";
        QTest::newRow("debug line") << "*QVDEBUG* : x" << "stat:*QVDEBUG* : x";
        QTest::newRow("after blanks") << QString::fromUtf8(" \u00a0*** x") << QString::fromUtf8("stat: \u00a0*** x");
    }
    void peerStatus()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(LineText::peerStatus(text), shown);
    }
};

QTEST_APPLESS_MAIN(TestLineText)
#include "tst_linetext.moc"
