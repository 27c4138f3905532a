#include "support/Harness.h"
#include "util/TranscriptLog.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class TestPeerWiring : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every shown line reaches the log, in batches and when the peer goes.
    void logWiredToPeer()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("log/QvLogs.log");
        {
            Peer peer(dir.path());
            PeerState& state = peer.state();
            LineRecorder rec(state);
            peer.transcriptLog().batchLimit = 2;
            for (const char* l : {"one", "two", "three", "four"})
                state.addText(QString::fromLatin1(l), LineKind::Status);
            QCOMPARE(readFile(path), QByteArray("one\r\ntwo\r\nthree\r\n"));
        } // the peer flushes what is left when it goes
        QCOMPARE(readFile(path), QByteArray("one\r\ntwo\r\nthree\r\nfour\r\n"));
    }

    // A quiet moment writes the buffered lines. A log that cannot be written says so once
    // per outage, keeps the lines and, once the folder takes them again, resumes by itself.
    void idleFlushAndOutage()
    {
        QTemporaryDir dir;
        Peer peer(dir.path());
        PeerState& state = peer.state();
        LineRecorder rec(state);
        peer.logIdleMs = 50;
        state.addText(QStringLiteral("quiet"), LineKind::Status);
        QTRY_COMPARE_WITH_TIMEOUT(readFile(dir.filePath("log/QvLogs.log")), QByteArray("quiet\r\n"), 5000);

        peer.transcriptLog().batchLimit = 1;
        state.options.logFolder = dir.filePath("full/");
        if (!fullLogFile(state.options.logFolder))
            QSKIP("needs /dev/full");
        rec.lines.clear();
        for (int i = 0; i < 5; ++i)
            state.addText(QStringLiteral("shown %1").arg(i), LineKind::Message);
        peer.flushLog();
        // Said once, right after the line whose write failed; every line still shown and kept.
        QCOMPARE(rec.lines.filter("*** Logging Off : ").size(), 1);
        QCOMPARE(rec.indexStarting("*** Logging Off : "), 2);
        QCOMPARE(rec.lines.filter("shown ").size(), 5);
        QVERIFY(peer.loggingOff());
        QCOMPARE(peer.transcriptLog().pending(), 6);

        // The folder takes lines again: the next quiet moment writes everything shown, in order.
        state.options.logFolder = dir.filePath("back/");
        QTRY_VERIFY_WITH_TIMEOUT(rec.contains("*** Logging Resumed"), 5000);
        QVERIFY(!peer.loggingOff());
        QTRY_COMPARE_WITH_TIMEOUT(readFile(dir.filePath("back/QvLogs.log")), (rec.lines.join("\r\n") + "\r\n").toUtf8(),
                                  5000);

        // A second outage is told again; lines beyond the size limit are lost and counted.
        state.options.logFolder = dir.filePath("full/");
        peer.transcriptLog().sizeLimit = 20;
        for (int i = 0; i < 3; ++i)
            state.addText(QStringLiteral("again %1").arg(i), LineKind::Message);
        QCOMPARE(rec.lines.filter("*** Logging Off : ").size(), 2);
        state.options.logFolder = dir.filePath("back/");
        QTRY_COMPARE_WITH_TIMEOUT(
            rec.lines.filter(QRegularExpression(R"(^\*\*\* Logging Resumed : \d+ lines lost$)")).size(), 1, 5000);
    }
};

QTEST_GUILESS_MAIN(TestPeerWiring)
#include "tst_peer.moc"
