#include "app/Context.h"
#include "support/Harness.h"
#include "util/TranscriptLog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
// Points folder's single log file at /dev/full, where every write fails as on a full disk.
bool fullLogFile(const QString& folder)
{
    return QFile::exists("/dev/full") && QDir().mkpath(folder) && QFile::link("/dev/full", folder + "QvLogs.log");
}
} // namespace

class TestLog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fileNames_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("name");
        QTest::newRow("day") << 0 << "03052001.log";
        QTest::newRow("year") << 1 << "2001.log";
        QTest::newRow("month") << 2 << "032001.log";
        QTest::newRow("single") << 3 << "QvLogs.log";
        QTest::newRow("other value names by year") << 9 << "2001.log";
    }
    void fileNames()
    {
        QFETCH(int, mode);
        QFETCH(QString, name);
        QCOMPARE(TranscriptLog::fileName(mode, QDate(2001, 3, 5)), name);
    }

    void batchesOf301()
    {
        QTemporaryDir dir;
        Context ctx(dir.path());
        ctx.options.LogDir = dir.filePath("logs"); // no trailing separator, not yet there
        TranscriptLog log(ctx);
        const QString path = dir.filePath("logs/QvLogs.log");
        for (int i = 0; i < 300; ++i)
            log.AddLogLine(i == 5 ? QString() : QString::fromUtf8("line %1 \u20ac").arg(i));
        QVERIFY(!QFile::exists(path));
        log.AddLogLine("line 300");
        QByteArray expected;
        for (int i = 0; i < 300; ++i)
            expected += i == 5 ? QByteArray("\r\n") : QByteArray("line ") + QByteArray::number(i) + " \x80\r\n";
        QCOMPARE(readFile(path), expected + "line 300\r\n");
        QCOMPARE(log.pending(), 0);
        log.AddLogLine("again"); // a second batch appends
        QCOMPARE(log.FlushLog(), QString());
        QCOMPARE(readFile(path), expected + "line 300\r\nagain\r\n");
        // Nothing buffered: no file is touched.
        QFile::remove(path);
        QCOMPARE(log.FlushLog(), QString());
        QVERIFY(!QFile::exists(path));
    }

    void loggingOff()
    {
        QTemporaryDir dir;
        Context ctx(dir.path());
        ctx.options.LogMode = 4;
        TranscriptLog log(ctx);
        log.AddLogLine("secret");
        QCOMPARE(log.FlushLog(), QString());
        QCOMPARE(log.pending(), 0);
        QVERIFY(QDir(ctx.options.LogDir).entryList(QDir::Files).isEmpty());
    }

    void unusableFolders()
    {
        QTemporaryDir dir;
        Context ctx(dir.path());
        // A log folder that cannot be created falls back to the program's log folder.
        QVERIFY(writeFile(dir.filePath("file")));
        ctx.options.LogDir = dir.filePath("file/sub/");
        TranscriptLog log(ctx);
        log.AddLogLine("kept");
        QCOMPARE(log.FlushLog(QDate(2001, 3, 5)), QString());
        QCOMPARE(ctx.options.LogDir, dir.filePath("log") + "/");
        QCOMPARE(readFile(dir.filePath("log/QvLogs.log")), QByteArray("kept\r\n"));

        // A file that cannot be written (a full disk) keeps the lines and says why.
        ctx.options.LogDir = dir.filePath("ro/");
        if (fullLogFile(ctx.options.LogDir)) {
            log.AddLogLine("not lost");
            QVERIFY(!log.FlushLog().isEmpty());
            QCOMPARE(log.pending(), 1);
            QVERIFY(!log.lastProblem().isEmpty());
        }
    }

    void wiredToContext()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("log/QvLogs.log");
        {
            Context ctx(dir.path());
            LineRecorder rec(ctx);
            ctx.transcriptLog().batchLimit = 2;
            for (const char* l : {"one", "two", "three", "four"})
                ctx.AddText(QString::fromLatin1(l), StatusLine);
            QCOMPARE(readFile(path), QByteArray("one\r\ntwo\r\nthree\r\n"));
        } // the context flushes what is left when it goes
        QCOMPARE(readFile(path), QByteArray("one\r\ntwo\r\nthree\r\nfour\r\n"));

        Context ctx(dir.path());
        LineRecorder rec(ctx);
        ctx.transcriptLog().batchLimit = 1;
        ctx.options.LogDir = dir.filePath("full/");
        if (!fullLogFile(ctx.options.LogDir))
            QSKIP("needs /dev/full");
        for (int i = 0; i < 5; ++i)
            ctx.AddText(QStringLiteral("shown %1").arg(i), MessageLine);
        ctx.FlushLog();
        // Said once, every line still shown, nothing held back in memory.
        QCOMPARE(rec.lines.filter("*** Logging Off : ").size(), 1);
        QCOMPARE(rec.lines.filter("shown ").size(), 5);
        QVERIFY(ctx.loggingOff());
        QCOMPARE(ctx.transcriptLog().pending(), 0);
    }
};

QTEST_APPLESS_MAIN(TestLog)
#include "tst_log.moc"
