#include "support/RawPeer.h"
#include "support/TransferPair.h"

#include "queue/FileQueue.h"

#include <QSignalSpy>

#include <unistd.h>

using Pair = TransferPair;

class TestFiles : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Overwriting replaces the directory entry: other links to the old file keep its content.
    void overwriteKeepsLinks_data() { rowsOf<bool>("hard", {{"hard link", true}, {"symbolic link inside", false}}); }
    void overwriteKeepsLinks()
    {
        QFETCH(bool, hard);
        Pair p;
        p.b.ctx->options.existingFileDefault = 1;
        QVERIFY(writeFile(p.at(p.src, "f.bin"), "brand new content"));
        const QString other = p.at(p.down, "other.bin");
        QVERIFY(writeFile(other, "old"));
        if (hard)
            QVERIFY(::link(qPrintable(other), qPrintable(p.at(p.down, "f.bin"))) == 0);
        else
            QVERIFY(QFile::link(other, p.at(p.down, "f.bin")));
        QVERIFY(p.connect());
        QVERIFY(p.send("f.bin"));
        QCOMPARE(readFile(p.at(p.down, "f.bin")), QByteArray("brand new content"));
        QVERIFY(!QFileInfo(p.at(p.down, "f.bin")).isSymLink());
        QCOMPARE(readFile(other), QByteArray("old"));
    }

    // A folder swapped for a link while the question is open is caught when the file opens.
    void folderSwappedForLink()
    {
        Pair p;
        const QString outside = p.b.home.filePath("outside");
        QVERIFY(writeFile(p.at(p.src, "sub/f.bin"), "brand new content"));
        QVERIFY(writeFile(p.at(p.down, "sub/f.bin"), "old"));
        QVERIFY(writeFile(p.at(outside, "f.bin"), "old"));
        QObject::connect(p.askB, &ScriptedPrompts::asked, [&] {
            QDir().rename(p.at(p.down, "sub"), p.at(p.down, "sub.real"));
            QFile::link(outside, p.at(p.down, "sub"));
        });
        p.askB->existsReplies = {{ExistingFileChoice::Overwrite, false, {}}};
        QVERIFY(p.connect());
        QVERIFY(p.send("sub/f.bin"));
        QCOMPARE(readFile(p.at(outside, "f.bin")), QByteArray("old"));
        QVERIFY2(p.b.rec->indexStarting("*** Error : Refused to write ") >= 0, qPrintable(p.b.rec->text()));
    }

    // Offers that end before any data leave no folders behind.
    void noFoldersLeft_data()
    {
        rowsOf<bool>("senderListens", {{"nobody listens", false}, {"sender cancels before data", true}});
    }
    void noFoldersLeft()
    {
        QFETCH(bool, senderListens);
        StrictPeer l;
        QVERIFY(l.start());
        QTcpServer cmd;
        if (senderListens)
            QVERIFY(cmd.listen(QHostAddress::LocalHost, l.port + 1));
        QObject::connect(&cmd, &QTcpServer::newConnection, [&] { cmd.nextPendingConnection()->write("CANC_TRAN"); });
        QSignalSpy ended(&l.me.peer->transfers(), &TransferManager::transferEnded);
        for (int i = 0; i < 3; ++i) {
            l.say(QStringLiteral("file:%1|d\\e\\f%2.txt|512|10").arg(l.port + 1).arg(i));
            QTRY_COMPARE_WITH_TIMEOUT(ended.size(), i + 1, 10000);
        }
        QCOMPARE(QDir(l.down).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

    // A folder sent as a whole takes a link to a file inside it, but no link that leads out of
    // it. (Links to folders, loops among them: tst_cli sendFolder.)
    void sendFolderLinks()
    {
        Pair p;
        QVERIFY(writeFile(p.at(p.src, "d/a.txt"), "inside"));
        QVERIFY(writeFile(p.a.home.filePath("secret.txt"), "secret"));
        QVERIFY(QFile::link(p.at(p.src, "d/a.txt"), p.at(p.src, "d/in.txt")));
        QVERIFY(QFile::link(p.a.home.filePath("secret.txt"), p.at(p.src, "d/out.txt")));
        QVERIFY(QFile::link(p.a.home.path(), p.at(p.src, "d/up")));
        FileQueue& list = p.a.peer->queue();
        list.addPath(p.at(p.src, "d"));
        QVERIFY(p.connect());
        QTRY_VERIFY_WITH_TIMEOUT(list.remaining() == 0 && list.ended() == 2, 10000);
        QCOMPARE(QDir(p.at(p.down, "d")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 (QStringList{"a.txt", "in.txt"}));
        QCOMPARE(list.completed(), 2);
    }
};

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"
