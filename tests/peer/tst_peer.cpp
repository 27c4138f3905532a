#include "support/Harness.h"
#include "util/TranscriptLog.h"

#include <QTemporaryDir>
#include <QTest>

class TestPeerWiring : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every shown line reaches the log; a log that cannot be written says so once and stops.
    void logWiredToPeer()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("log/QvLogs.log");
        {
            Peer peer(dir.path());
            Context& ctx = peer.state();
            LineRecorder rec(ctx);
            peer.transcriptLog().batchLimit = 2;
            for (const char* l : {"one", "two", "three", "four"})
                ctx.AddText(QString::fromLatin1(l), StatusLine);
            QCOMPARE(readFile(path), QByteArray("one\r\ntwo\r\nthree\r\n"));
        } // the peer flushes what is left when it goes
        QCOMPARE(readFile(path), QByteArray("one\r\ntwo\r\nthree\r\nfour\r\n"));

        Peer peer(dir.path());
        Context& ctx = peer.state();
        LineRecorder rec(ctx);
        peer.transcriptLog().batchLimit = 1;
        ctx.options.LogDir = dir.filePath("full/");
        if (!fullLogFile(ctx.options.LogDir))
            QSKIP("needs /dev/full");
        for (int i = 0; i < 5; ++i)
            ctx.AddText(QStringLiteral("shown %1").arg(i), MessageLine);
        peer.FlushLog();
        // Said once, right after the line whose write failed, every line still shown, nothing
        // held back in memory.
        QCOMPARE(rec.lines.filter("*** Logging Off : ").size(), 1);
        QCOMPARE(rec.indexStarting("*** Logging Off : "), 2);
        QCOMPARE(rec.lines.filter("shown ").size(), 5);
        QVERIFY(peer.loggingOff());
        QCOMPARE(peer.transcriptLog().pending(), 0);
    }
};

QTEST_GUILESS_MAIN(TestPeerWiring)
#include "tst_peer.moc"
