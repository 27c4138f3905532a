#include "config/Options.h"
#include "support/Harness.h"
#include "util/TranscriptLog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestLog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fileNames_data()
    {
        columns<int, QString>("mode", "name");
        QTest::newRow("day") << 0 << "03052001.log";
        QTest::newRow("year") << 1 << "2001.log";
        QTest::newRow("month") << 2 << "032001.log";
        QTest::newRow("single") << 3 << "QvLogs.log";
        QTest::newRow("other value names by year") << 9 << "2001.log";
    }
    void fileNames()
    {
        auto [mode, name] = fetch<int, QString>("mode", "name");
        QCOMPARE(TranscriptLog::fileName(mode, QDate(2001, 3, 5)), name);
    }

    void batchesOf301()
    {
        QTemporaryDir dir;
        Options o;
        o.setDefaults(dir.path());
        o.logFolder = dir.filePath("logs"); // no trailing separator, not yet there
        TranscriptLog log(o, dir.path());
        const QString path = dir.filePath("logs/QvLogs.log");
        for (int i = 0; i < 300; ++i)
            log.addLine(i == 5 ? QString() : QString::fromUtf8("line %1 \u20ac").arg(i));
        QVERIFY(!QFile::exists(path));
        log.addLine("line 300");
        QByteArray expected;
        for (int i = 0; i < 300; ++i)
            expected += i == 5 ? QByteArray("\r\n") : QByteArray("line ") + QByteArray::number(i) + " \xe2\x82\xac\r\n";
        QCOMPARE(readFile(path), expected + "line 300\r\n");
        QCOMPARE(log.pending(), 0);
        log.addLine("again"); // a second batch appends
        QCOMPARE(log.flushLog(), QString());
        QCOMPARE(readFile(path), expected + "line 300\r\nagain\r\n");
        // Nothing buffered: no file is touched.
        QFile::remove(path);
        QCOMPARE(log.flushLog(), QString());
        QVERIFY(!QFile::exists(path));
    }

    // The log is UTF-8. A file an earlier version wrote in Windows-1252 is converted before the
    // first line is appended to it; lines already UTF-8 or ASCII stay as they are. (A new
    // file: batchesOf301.)
    void utf8AndOldFiles_data()
    {
        QTest::addColumn<QByteArray>("old");
        QTest::addColumn<QByteArray>("converted");
        QTest::newRow("Windows-1252") << QByteArray("caf\xe9 \x80\r\nold\r\n")
                                      << QByteArray("caf\xc3\xa9 \xe2\x82\xac\r\nold\r\n");
        QTest::newRow("mixed") << QByteArray("\xe9\r\n\xc5\x81\r\n") << QByteArray("\xc3\xa9\r\n\xc5\x81\r\n");
        const QByteArray block(1 << 20, 'a'); // lines across the blocks the file is read in
        QTest::newRow("long lines") << block + "\xe9\r\n" + block + "\xe9" + "\r\n"
                                    << block + "\xc3\xa9\r\n" + block + "\xc3\xa9" + "\r\n";
    }
    void utf8AndOldFiles()
    {
        auto [old, converted] = fetch<QByteArray, QByteArray>("old", "converted");
        QTemporaryDir dir;
        Options o;
        o.setDefaults(dir.path());
        o.logFolder = dir.filePath("log/");
        const QString path = dir.filePath("log/QvLogs.log");
        QVERIFY(writeFile(path, old));
        TranscriptLog log(o, dir.path());
        const QString chat = QString::fromUtf8("<Ann> \u0141\u00f3d\u017a \u65e5\u672c");
        log.addLine(chat);
        QCOMPARE(log.pendingBytes(), chat.toUtf8().size() + 2);
        QCOMPARE(log.flushLog(), QString());
        log.addLine(QString(QChar(0xE9))); // Latin-1 letters too go as UTF-8
        QCOMPARE(log.flushLog(), QString());
        QCOMPARE(readFile(path), converted + chat.toUtf8() + "\r\n\xc3\xa9\r\n");
    }

    void unusableFolderAndLoggingOff()
    {
        // A log folder that cannot be created falls back to the program's log folder.
        QTemporaryDir dir;
        Options o;
        o.setDefaults(dir.path());
        QVERIFY(writeFile(dir.filePath("file")));
        o.logFolder = dir.filePath("file/sub/");
        TranscriptLog log(o, dir.path());
        log.addLine("kept");
        QCOMPARE(log.flushLog(QDate(2001, 3, 5)), QString());
        QCOMPARE(o.logFolder, dir.filePath("log") + "/");
        QCOMPARE(readFile(dir.filePath("log/QvLogs.log")), QByteArray("kept\r\n"));
        // Logging off (mode 4): nothing is kept or written.
        o.logMode = 4;
        log.addLine("secret");
        QCOMPARE(log.flushLog(), QString());
        QCOMPARE(log.pending(), 0);
        QCOMPARE(QDir(o.logFolder).entryList(QDir::Files), QStringList{"QvLogs.log"});
        QCOMPARE(readFile(dir.filePath("log/QvLogs.log")), QByteArray("kept\r\n"));
    }

    // The buffer flushes by size too. While writes fail (a full disk) it holds at most that
    // size: the newest lines stay, the oldest are dropped and counted; the next write that
    // works writes the kept lines.
    void boundedBySize()
    {
        QTemporaryDir dir;
        Options o;
        o.setDefaults(dir.path());
        o.logFolder = dir.filePath("ok/");
        TranscriptLog log(o, dir.path());
        log.sizeLimit = 100; // bytes as written, CR LF included
        auto line = [](int i) { return QStringLiteral("line %1").arg(i, 13, 10, QLatin1Char('0')); }; // 20 bytes
        const QString path = dir.filePath("ok/QvLogs.log");
        QByteArray expected;
        for (int i = 0; i < 6; ++i) {
            QVERIFY(!QFile::exists(path));
            log.addLine(line(i));
            expected += line(i).toLatin1() + "\r\n";
        }
        QCOMPARE(readFile(path), expected);
        QCOMPARE(log.pendingBytes(), 0);

        o.logFolder = dir.filePath("full/");
        if (!fullLogFile(o.logFolder))
            QSKIP("needs /dev/full");
        for (int i = 0; i < 12; ++i) {
            log.addLine(line(i));
            QVERIFY(log.pendingBytes() <= 100);
        }
        QVERIFY(!log.lastProblem().isEmpty());
        QVERIFY(!log.flushLog().isEmpty()); // a failed write says why and keeps the lines
        QCOMPARE(log.pending(), 5);
        o.logFolder = dir.filePath("ok/");
        QCOMPARE(log.flushLog(), QString());
        for (int i = 7; i < 12; ++i)
            expected += line(i).toLatin1() + "\r\n";
        QCOMPARE(readFile(path), expected);
        QCOMPARE(log.takeDropped(), 7);
        QCOMPARE(log.takeDropped(), 0);
    }
};

QTEST_APPLESS_MAIN(TestLog)
#include "tst_log.moc"
