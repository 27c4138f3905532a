#include "support/Harness.h"
#include "transfer/CommandReader.h"
#include "transfer/TransferRules.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <array>

using namespace TransferRules;

class TestRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void resumeOffsets_data()
    {
        columns<qint64, qint64, qint64, qint64>("local", "block", "offered", "offset");
        const qint64 rows[][4] = {{0, 512, 9000, 0},
                                  {98303, 32768, 200000, 0}, // under three blocks
                                  {100000, 32768, 200000, 65536},
                                  {1536, 512, 2000, 1024},    // exactly three
                                  {300000, 32768, 200000, 0}, // longer than the offer
                                  {5000, 0, 9000, 0},         // block 0
                                  {qint64(5) << 32, 32768, qint64(6) << 32, (qint64(5) << 32) - 32768}};
        for (const auto& r : rows)
            QTest::addRow("%lld of %lld", r[0], r[2]) << r[0] << r[1] << r[2] << r[3];
    }
    void resumeOffsets()
    {
        auto [local, block, offered, offset] =
            fetch<qint64, qint64, qint64, qint64>("local", "block", "offered", "offset");
        QCOMPARE(resumeOffset(local, block, offered), offset);
    }

    void texts()
    {
        using Texts = std::initializer_list<std::pair<qint64, const char*>>;
        for (const auto& [seconds, text] :
             Texts{{0, "0:00"}, {59, "0:59"}, {3600, "60:00"}, {3601, "1:00:01"}, {36125, "10:02:05"}})
            QCOMPARE(elapsedText(seconds), QString(text));
        // Ties go to even; 0.005 rounds to 0, and a rate that rounds to 0 shows as 0.1.
        for (const auto& [bytes, expected] : std::initializer_list<std::pair<qint64, double>>{
                 {0, 0.1}, {1234, 1.23}, {25, 0.02}, {35, 0.04}, {1225, 1.22}, {5, 0.1}})
            QCOMPARE(rate(bytes, bytes ? 1 : 5), expected);
        QCOMPARE(rate(qint64(6) << 32, 10), 2576980.38);
        QCOMPARE((QStringList{rateText(0.1), rateText(12.5), rateText(3)}),
                 (QStringList{"0.1 KB/SEC", "12.5 KB/SEC", "3 KB/SEC"}));
        for (const auto& [bytes, text] :
             Texts{{0, "0:00"}, {150, "0:01"}, {360000, "60:00"}, {361000, "60:10"}, {366000, "1:01:00"}})
            QCOMPARE(timeLeftText(bytes, 0.1), QString(text));
        QCOMPARE(offerBlockField(32767), QStringLiteral("512"));
        QCOMPARE(offerBlockField(32768), QStringLiteral("32768"));
        QCOMPARE(numberedWireName("d\\__.txt", 2), QStringLiteral("d\\__ (2).txt"));
        QCOMPARE(numberedWireName("d.x\\README", 3), QStringLiteral("d.x\\README (3)"));
        QCOMPARE(numberedWireName(".profile", 2), QStringLiteral(".profile (2)"));
        QCOMPARE(makeOffer(2001, QStringLiteral("Music/Live/song.mp3"), qint64(5) << 32).message(),
                 QStringLiteral("file:2001|Music\\Live\\song.mp3|32768|21474836480"));
    }

    void uniqueNames_data()
    {
        columns<QStringList, QString, QString>("present", "name", "expected");
        QTest::newRow("third") << QStringList{"report1.txt", "report2.txt"} << QString("report.txt")
                               << QString("report3.txt");
        QTest::newRow("last dot") << QStringList{} << QString("archive.tar.gz") << QString("archive.tar1.gz");
        QTest::newRow("no dot") << QStringList{} << QString("README") << QString("README1");
        QTest::newRow("folder counts") << QStringList{"x1/"} << QString("x") << QString("x2");
        QStringList thousand;
        for (int i = 1; i <= 1000; ++i)
            thousand << QStringLiteral("report%1.txt").arg(i);
        QTest::newRow("second thousand") << thousand << QString("report.txt") << QString("reporta1.txt");
    }
    void uniqueNames()
    {
        auto [present, name, expected] = fetch<QStringList, QString, QString>("present", "name", "expected");
        QTemporaryDir dir;
        for (const QString& p : present) {
            if (p.endsWith('/'))
                QVERIFY(QDir(dir.path()).mkdir(p.chopped(1)));
            else
                QVERIFY(QFile(dir.filePath(p)).open(QIODevice::WriteOnly));
        }
        QCOMPARE(uniqueName(name, dir.path() + '/'), expected);
    }

    void names_data()
    {
        QTest::addColumn<QString>("wire");
        QTest::addColumn<int>("parts"); // 0: refused
        QTest::newRow("plain") << "a.txt" << 1;
        QTest::newRow("sub-folders") << "Music\\Live\\song.mp3" << 3;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("drive root folder") << "\\x" << 1;
        QTest::newRow("drive root sub-folder") << "\\etc\\passwd" << 2;
        QTest::newRow("doubled separator") << "a\\\\b" << 2;
        QTest::newRow("trailing") << "a\\" << 1;
        QTest::newRow("only separators") << "\\\\" << 0;
        QTest::newRow("network path") << "\\\\srv\\x" << 0;
        QTest::newRow("absolute slash") << "/etc/passwd" << 0;
        QTest::newRow("drive after separator") << "\\C:\\x" << 0;
        QTest::newRow("drive") << "C:\\x.txt" << 0;
        QTest::newRow("drive relative") << "c:x.txt" << 0;
        QTest::newRow("parent") << "..\\x" << 0;
        QTest::newRow("parent inside") << "a\\..\\..\\x" << 0;
        QTest::newRow("dot") << "a\\.\\x" << 0;
        QTest::newRow("slash inside") << "a/../x" << 0;
        QTest::newRow("control") << QString("a\x01"
                                            "b")
                                 << 0;
        QTest::newRow("C1 control") << QString(QChar(0x85)) + "b" << 0;
    }
    void names()
    {
        auto [wire, parts] = fetch<QString, int>("wire", "parts");
        QString problem;
        const QStringList got = offeredComponents(wire, &problem);
        QCOMPARE(got.size(), parts);
        QVERIFY(!got.contains(QString())); // no empty component survives
        QCOMPARE(checkPlainName(wire).isEmpty(), parts == 1 && !wire.contains('\\'));
        QCOMPARE(problem.isEmpty(), parts > 0);
    }

    void wireNames_data()
    {
        columns<QString, QString>("local", "wire");
        const std::array<QString, 3> rows[] = {
            {"folders", "Music/Live/song.mp3", "Music\\Live\\song.mp3"},
            {"bar", "a|b.txt", "a_b.txt"},
            {"backslash in name", "a\\b.txt", "a_b.txt"},
            {"euro kept", QString::fromUtf8("\u20acuro.txt"), QString::fromUtf8("\u20acuro.txt")},
            {"not 1252", QString::fromUtf8("\u65e5\u672c.txt"), "__.txt"},
            {"outside BMP", QString::fromUtf8("\U0001F600__.txt"), "___.txt"},
            {"control", "a\tb", "a_b"}};
        for (const auto& [row, local, wire] : rows)
            QTest::newRow(qPrintable(row)) << local << wire;
    }
    void wireNames()
    {
        auto [local, wire] = fetch<QString, QString>("local", "wire");
        QCOMPARE(wireName(local), wire);
        QVERIFY(!offeredComponents(wire).isEmpty()); // the receiver parses it back
    }

    void numbers()
    {
        qint64 v = 0;
        quint16 port = 0;
        QVERIFY(parseSize("9223372036854775807", v) && v == std::numeric_limits<qint64>::max());
        for (const char* bad : {"", "-1", "12a", " 1", "9223372036854775808", "99999999999999999999"})
            QVERIFY2(!parseSize(bad, v), bad);
        QVERIFY(parsePort("65534", port) && port == 65534);
        for (const char* bad : {"0", "65535", "x", "-2", "123456"})
            QVERIFY2(!parsePort(bad, port), bad);
        Offer o;
        QVERIFY(Offer::parse("2001|a b.txt|512|10|x", o));
        QCOMPARE(QStringList({o.port, o.name, o.block, o.size}), QStringList({"2001", "a b.txt", "512", "10|x"}));
        QVERIFY(!Offer::parse("2001|a|512", o));
    }

    void commands_data()
    {
        columns<QList<QByteArray>, QStringList>("segments", "commands");
        using L = QList<QByteArray>;
        QTest::newRow("coalesced") << L{"Got AllCANC_TRAN"} << QStringList{"Got All", "CANC_TRAN"};
        QTest::newRow("split name") << L{"Go", "t A", "ll"} << QStringList{"Got All"};
        QTest::newRow("resume split before digits") << L{"RESUME_TR", "65536"} << QStringList{"RESUME_TR65536"};
        QTest::newRow("resume split in digits")
            << L{"RESUME_TR655", "36Got All"} << QStringList{"RESUME_TR65536", "Got All"};
        QTest::newRow("resume alone") << L{"RESUME_TR"} << QStringList{"RESUME_TR"};
        QTest::newRow("garbage around") << L{"zz\x01", "ACCE_TRANqq", "END_TRANS"}
                                        << QStringList{"ACCE_TRAN", "END_TRANS"};
        QTest::newRow("all") << L{"ACCE_TRANRESUME_TR1Got AllEND_TRANSCANC_TRANCANC_OKAY"}
                             << QStringList{"ACCE_TRAN", "RESUME_TR1", "Got All",
                                            "END_TRANS", "CANC_TRAN",  "CANC_OKAY"};
    }
    void commands()
    {
        auto [segments, commands] = fetch<QList<QByteArray>, QStringList>("segments", "commands");
        CommandReader r;
        r.quietMs = 20;
        QStringList got;
        connect(&r, &CommandReader::ready, this, [&] {
            for (const CommandReader::Command& c : r.take())
                got << QString::fromLatin1(CommandReader::text(c.kind) + c.argument);
        });
        for (const QByteArray& s : segments)
            r.feed(s);
        QTRY_COMPARE_WITH_TIMEOUT(got, commands, 2000);
    }
};

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
