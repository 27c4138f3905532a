#include "queue/FileQueue.h"
#include "support/RawPeer.h"
#include "support/TransferPair.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Ann sends through her queue; Bob accepts everything. Ann is the client, so she can
// drop the connection and come back.
struct Two : TransferPair {
    quint16 port = freePortTriple();
    FileQueue& q = a.peer->queue();
    QStringList inserted; // "path|name" of every entry as it went in
    Two()
    {
        QObject::connect(&q, &QAbstractItemModel::rowsInserted, [this](const QModelIndex&, int first, int last) {
            for (int i = first; i <= last; ++i)
                inserted << q.path(i) + '|' + q.name(i);
        });
    }
    bool connect() { return connectPeers(b, a, port); }
    // Ann leaves and comes back (Bob listens again).
    bool reconnect()
    {
        const int logins = a.rec->count("*** Login Authenticated");
        a.peer->session().disconnectFromPeer();
        if (!QTest::qWaitFor([&] { return !a.peer->session().isConnected() && !b.peer->session().isConnected(); },
                             5000))
            return false;
        if (b.peer->session().controlSocket.state() != EventSocket::Listening)
            b.listen(port);
        a.connectTo(port);
        return QTest::qWaitFor([&] { return a.rec->count("*** Login Authenticated") > logins; }, 5000);
    }
    int complete() const { return static_cast<int>(a.rec->lines.filter("*** File Transfer Complete : ").size()); }
};

QStringList order(const FileQueue& q)
{
    QStringList out;
    for (int i = 0; i < q.count(); ++i)
        out << q.name(i);
    return out;
}

// Every file below `root`, relative, sorted.
QStringList tree(const QString& root)
{
    QStringList out;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

} // namespace

class TestQueue : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The moves of two apart entries (1 and 3), each way: tst_queuewindow queueWindow.
    void ordering_data()
    {
        columns<QString, QList<int>, QString, QList<int>>("op", "selected", "after", "selectedAfter");
        QTest::newRow("up, neighbours: the second is skipped")
            << "up" << QList<int>{1, 2} << "BACDE" << QList<int>{0, 2};
        QTest::newRow("up, head stays") << "up" << QList<int>{0, 4} << "ABCED" << QList<int>{0, 3};
        QTest::newRow("down, last stays") << "down" << QList<int>{4} << "ABCDE" << QList<int>{4};
        QTest::newRow("remove") << "remove" << QList<int>{0, 1, 4} << "CD" << QList<int>{};
        QTest::newRow("clear") << "clear" << QList<int>{} << "" << QList<int>{};
    }
    void ordering()
    {
        auto [op, selected, after, selectedAfter] =
            fetch<QString, QList<int>, QString, QList<int>>("op", "selected", "after", "selectedAfter");
        TestPeer p;
        FileQueue& q = p.peer->queue();
        for (QChar c : QStringLiteral("ABCDE"))
            q.add(QString("/x/") + c, QString(c), false);
        using Move = QList<int> (FileQueue::*)(const QList<int>&);
        const QMap<QString, Move> moves{
            {"up", &FileQueue::moveUp}, {"down", &FileQueue::moveDown}, {"remove", &FileQueue::remove}};
        const QList<int> sel = op == "clear" ? (q.clear(), QList<int>{}) : (q.*moves.value(op))(selected);
        QCOMPARE(order(q).join(""), after);
        QCOMPARE(sel, selectedAfter);
        for (int i = 0; i < q.count(); ++i) // paths went with their names; the duplicate set too
            QCOMPARE(q.path(i), "/x/" + q.name(i));
        q.add("/x/A", "A", false);
        QCOMPARE(q.count(), after.size() + (after.contains('A') ? 0 : 1));
    }

    // Duplicates (same path, same name) are left out, the first entry asks for the window, a dropped folder becomes a
    // folder entry; adding many stays linear.
    void adding()
    {
        TestPeer p;
        FileQueue& q = p.peer->queue();
        QSignalSpy shown(&q, &FileQueue::firstEntryAdded);
        QVERIFY(writeFile(p.home.filePath("d/Müsik/a.txt")));
        QVERIFY(makeSpecialFile(p.home.filePath("d/pipe")));
        q.addDropped({p.home.filePath("d/Müsik/a.txt"), p.home.filePath("d/Müsik/"), p.home.filePath("d/Müsik/a.txt"),
                      p.home.filePath("d/pipe")});
        QVERIFY(p.rec->contains("*** Skipped : " + p.home.filePath("d/pipe") + " - a named pipe, not a regular file"));
        QCOMPARE(q.ended(), 1); // refused: never sent
        q.add("/elsewhere/b", "b", true);
        QCOMPARE(q.count(), 3);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(q.path(0), QString("/elsewhere/b"));
        QCOMPARE(q.path(2), p.home.filePath("d/Müsik/"));
        QCOMPARE(q.name(2), QString("Müsik"));
        QCOMPARE(q.data(q.index(2), FileQueue::FolderRole).toBool(), true);
        q.add("/x/Müsik/b/y.txt", "Müsik/b/y.txt");
        QCOMPARE(q.offeredName(3), QString("Müsik\\b\\y.txt"));
        q.add(p.home.filePath("d/Müsik/a.txt"), "Müsik/a.txt"); // queued alone and in its folder: both go
        QCOMPARE(q.count(), 5);
        QVERIFY(q.running() && q.state() == FileQueue::State::Sending); // not connected: it waits
        // A label short enough stays whole (a long one cut: folderTree).
        QCOMPARE(FileQueue::shortenDirLabel("/sixteen/chars/x"), QString("/sixteen/chars/x"));

        for (int n : {10000, 100000}) {
            q.clear();
            QElapsedTimer t;
            t.start();
            for (int i = 0; i < n; ++i)
                q.add(QStringLiteral("/f/%1").arg(i), QString::number(i), i % 2);
            q.add(QStringLiteral("/f/7"), QString("7"), false);
            const qint64 ms = t.elapsed();
            QCOMPARE(q.count(), n);
            QVERIFY2(ms < n / 5, qPrintable(QString::number(ms))); // generous: about 1 us each here
        }
    }

    // Stop, Go, waiting for the connection, sending at once when it comes, resting when
    // emptied (not stopped), and autoResend on the next login.
    void sendLoop_data() { rowsOf<bool>("autoResend", {{"AutoResend off", false}, {"AutoResend on", true}}); }
    void sendLoop()
    {
        QFETCH(bool, autoResend);
        Two t;
        t.a.ctx->options.autoResend = autoResend;
        for (const char* f : {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"})
            QVERIFY(writeFile(t.srcPath(f), f));
        t.q.addPath(t.srcPath("1.txt"));
        QElapsedTimer since;
        QObject::connect(&t.a.peer->session(), &Session::loggedIn, [&] { since.start(); });
        qint64 delay = -1;
        QObject::connect(&t.a.peer->transfers(), &TransferManager::transferStarted, [&] {
            if (delay < 0)
                delay = since.elapsed();
        });
        QVERIFY(t.connect());
        QTRY_COMPARE_WITH_TIMEOUT(t.complete(), 1, 10000);
        // Within a tick, with room for a loaded machine.
        QVERIFY2(delay >= 0 && delay < 1000, qPrintable(QString::number(delay)));
        // Emptied by sending, the loop rests but is not stopped: a new entry goes at once.
        QVERIFY(!t.q.isStopped() && !t.q.running());
        t.q.addPath(t.srcPath("2.txt"));
        QTRY_COMPARE_WITH_TIMEOUT(t.complete(), 2, 10000);
        // Emptied by the user while it runs: the next tick rests it, unstopped, and the next
        // entry goes at once.
        t.q.sendTickMs = 20;
        t.q.addPath(t.srcPath("3.txt"));
        t.q.remove({0});
        QTRY_VERIFY_WITH_TIMEOUT(!t.q.running(), 2000);
        QCOMPARE(t.q.state(), FileQueue::State::Resting);
        t.q.addPath(t.srcPath("3.txt"));
        QTRY_COMPARE_WITH_TIMEOUT(t.complete(), 3, 10000);
        // The user's Stop stays a stop: entries wait until a new login with autoResend, or Go.
        t.q.stop();
        t.q.addPath(t.srcPath("4.txt"));
        QVERIFY(!t.q.running() && t.q.count() == 1);
        QVERIFY(t.reconnect());
        if (!autoResend) {
            QVERIFY(t.q.isStopped() && !t.q.running() && t.q.count() == 1);
            t.q.start();
        }
        QTRY_COMPARE_WITH_TIMEOUT(t.complete(), 4, 10000);
        // A login with nothing queued (autoResend finds the queue empty) leaves it resting:
        // a file added afterwards goes without Go.
        QVERIFY(t.reconnect());
        QTRY_VERIFY_WITH_TIMEOUT(!t.q.running(), 2000);
        t.q.addPath(t.srcPath("5.txt"));
        QTRY_COMPARE_WITH_TIMEOUT(t.complete(), 5, 10000);
        for (const char* f : {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"})
            QCOMPARE(readFile(t.downPath(f)), QByteArray(f));
    }

    // After the user's Disconnect the queue waits, also while a peer leaves the connection
    // open after our "bye": the head entry is not taken and put back on every tick.
    void waitsAfterDisconnect()
    {
        TestPeer a("Ann");
        a.peer->session().extensionsOn = false;
        RawClient raw; // a peer that never closes
        QVERIFY(raw.open(a));
        QSignalSpy logins(&a.peer->session(), &Session::loggedIn);
        raw.send("PAuth:");
        QVERIFY(logins.wait(10000));
        FileQueue& q = a.peer->queue();
        q.sendTickMs = 20;
        q.stop();
        QVERIFY(writeFile(a.home.filePath("f.txt"), "f"));
        q.addPath(a.home.filePath("f.txt"));
        a.peer->session().disconnectFromPeer();
        QSignalSpy taken(&q, &QAbstractItemModel::rowsRemoved);
        q.start();
        QVERIFY(!taken.wait(500));
        QVERIFY(a.peer->session().isConnected() && q.count() == 1);
    }

    // A tree with sub-folders and non-ASCII names arrives whole, expanded breadth first, each
    // folder in the order a file manager lists it; a named pipe and a socket in it are skipped
    // with a line. One of its files sent alone before still arrives in the folder too.
    void folderTree()
    {
        Two t;
        const QStringList files = {"Müsik/x10.txt",   "Müsik/x.txt",          "Müsik/X9.txt",   "Müsik/b/y.txt",
                                   "Müsik/b/c/z.bin", "Müsik/b/c/café é.txt", "Müsik/e/.hidden"};
        for (int i = 0; i < files.size(); ++i)
            QVERIFY(writeFile(t.srcPath(files[i]), randomBytes(i * 20000, i)));
        QVERIFY(QDir().mkpath(t.srcPath("Müsik/empty")) && QDir().mkpath(t.srcPath("Müsik/e")));
        QVERIFY(makeSpecialFile(t.srcPath("Müsik/pipe")) && makeSpecialFile(t.srcPath("Müsik/b/sock"), true));
        const QByteArray bad = QFile::encodeName(t.srcPath("Müsik/bad")) + "\xff"; // its name is not UTF-8
        QVERIFY(::close(::open(bad.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)) == 0);
        QList<int> counts;
        QStringList labels;
        QObject::connect(&t.q, &FileQueue::expansionShown, [&](bool on) {
            if (!on)
                counts << t.q.filesAdded(), labels << t.q.expandingFolder();
        });
        t.q.addPath(t.srcPath("Müsik/x.txt"));
        QVERIFY(t.connect());
        QTRY_COMPARE_WITH_TIMEOUT(t.complete(), 1, 10000);
        t.q.addPath(t.srcPath("Müsik"));
        QTRY_COMPARE_WITH_TIMEOUT(t.complete(), files.size() + 1, 20000);
        QStringList sent = files;
        sent.sort();
        QVERIFY2(tree(t.downPath("Müsik")) == QStringList(sent).replaceInStrings("Müsik/", ""),
                 qPrintable(t.a.rec->text() + tree(t.downPath("Müsik")).join(",")));
        for (const QString& f : files)
            QCOMPARE(readFile(t.downPath(f)), readFile(t.srcPath(f)));
        QCOMPARE(readFile(t.downPath("x.txt")), readFile(t.srcPath("Müsik/x.txt")));
        const QString m = t.srcPath("Müsik/");
        for (const QString& s : {m + "pipe - a named pipe", m + "b/sock - a socket"})
            QVERIFY2(t.a.rec->contains("*** Skipped : " + s + ", not a regular file"), qPrintable(t.a.rec->text()));
        QVERIFY(t.a.rec->contains("*** Skipped : " + m
                                  + "bad\ufffd - its name is not valid text in this system's encoding"));
        // The folder first, then its entries: sub-folders (as folder entries), then files, by
        // name with numbers as numbers; each sub-folder's entries only when it reached the head.
        QCOMPARE(t.inserted.mid(1, 7),
                 (QStringList{m + "|Müsik", m + "b/|Müsik/b", m + "e/|Müsik/e", m + "empty/|Müsik/empty",
                              m + "x.txt|Müsik/x.txt", m + "X9.txt|Müsik/X9.txt", m + "x10.txt|Müsik/x10.txt"}));
        const auto at = [&](const QString& rel) { return t.inserted.indexOf(m + rel + "|Müsik/" + rel); };
        QVERIFY(at("b/y.txt") > 7 && at("b/c") < 0 && at("b/c/") < 0);
        QVERIFY(at("b/c/z.bin") > at("e/.hidden")); // c went behind e
        QVERIFY(at("b/c/café é.txt") < at("b/c/z.bin"));
        QCOMPARE(counts.size(), 5);      // Müsik, b, e, empty, c
        QCOMPARE(counts.first(), 8 + 2); // "." and ".." count too
        QVERIFY(counts.contains(2));     // the empty folder
        QCOMPARE(labels.first(), "..." + m.right(13));
        QVERIFY(t.q.count() == 0 && t.q.isStopped() == false);
    }

    // Many small files go one after another as fast as they can: hundreds of offers a second
    // (one a file: the receiver speaks only the plain protocol) are not mistaken for a flood.
    void manySmallFiles()
    {
        Two t;
        t.b.peer->session().extensionsOn = false;
        for (int i = 0; i < 600; ++i)
            QVERIFY(writeFile(t.srcPath(QStringLiteral("many/f%1").arg(i)), QByteArray::number(i)));
        t.q.addPath(t.srcPath("many"));
        QVERIFY(t.connect());
        QTRY_COMPARE_WITH_TIMEOUT(t.complete(), 600, 20000);
        QCOMPARE(readFile(t.downPath("many/f599")), QByteArray("599"));
        QVERIFY(t.a.rec->lines.filter("Timed Out").isEmpty()); // no offer went unanswered
    }

    // A big folder is queued in batches, quickly. (Cancelling midway: the queue window's test.)
    void bigFolder()
    {
        Two t;
        t.b.ctx->options.autoAccept = false; // the first offer is declined: the queue stops
        t.askB->acceptReplies.push_back({false, t.down, false});
        t.askB->acceptReplies.push_back({false, t.down, false});
        const QString dir = t.srcPath("many");
        QVERIFY(QDir().mkpath(dir));
        for (int i = 0; i < 10000; ++i)
            QVERIFY(writeFile(QStringLiteral("%1/f%2").arg(dir).arg(i), "x"));
        t.q.dirBatch = 200;
        QElapsedTimer timer;
        qint64 ms = -1;
        int batches = 0;
        QObject::connect(&t.q, &FileQueue::expansionShown,
                         [&](bool on) { on ? timer.start() : void(ms = timer.elapsed()); });
        QObject::connect(&t.q, &FileQueue::filesAddedChanged, [&](int n) { batches += n > 0; });
        t.q.addPath(dir);
        QVERIFY(t.connect());
        QTRY_VERIFY_WITH_TIMEOUT(t.q.isStopped(), 20000);
        QVERIFY2(ms < 5000, qPrintable(QString::number(ms)));
        QCOMPARE(t.q.count(), 10000 - 1); // less the file offered
        QCOMPARE(t.q.filesAdded(), 10002);
        QVERIFY(batches >= 10000 / 200);
        QCOMPARE(t.a.rec->lines.filter("*** File Transfer Canceled By Receiver : many\\f").size(), 1);
    }

    // A file whose transfer cannot even start (its port taken by another program) is not
    // offered again for ever: the queue stops after three tries, and Go tries again.
    void stopsAfterRepeatedFailures()
    {
        Two t;
        QTcpServer blocker;
        QVERIFY(blocker.listen(QHostAddress::LocalHost, t.port + 1));
        QVERIFY(writeFile(t.srcPath("x.bin"), "data"));
        // A try put back waits for a later turn of the event loop: no try follows another
        // before a zero timer started by the first has run.
        int triesInOneTurn = 0;
        bool turnOpen = false;
        QObject::connect(t.a.ctx, &PeerState::lineAdded, &t.q, [&](const QString& line) {
            if (!line.startsWith("*** Sending File : x.bin"))
                return;
            triesInOneTurn += turnOpen ? 1 : 0;
            turnOpen = true;
            QTimer::singleShot(0, &t.q, [&] { turnOpen = false; });
        });
        t.q.addPath(t.srcPath("x.bin"));
        QVERIFY(t.connect());
        QTRY_VERIFY_WITH_TIMEOUT(t.q.isStopped(), 10000);
        QCOMPARE(triesInOneTurn, 0);
        QCOMPARE(t.a.rec->lines.filter("*** Sending File : x.bin").size(), 3);
        QVERIFY(t.a.rec->contains(
            "*** File Queue Stopped : x.bin did not go through 3 times in a row - press Go to try again"));
        QCOMPARE(order(t.q), QStringList{"x.bin"});
        blocker.close();
        t.q.start();
        QTRY_COMPARE_WITH_TIMEOUT(t.complete(), 1, 10000);
        QCOMPARE(readFile(t.downPath("x.bin")), QByteArray("data"));
    }

    // An interrupted file goes back to the front and completes on the next connection; a
    // file that cannot be read is dropped with one line, and so is a gone one.
    void interrupted()
    {
        Two t;
        t.b.ctx->options.existingFileDefault = 2; // resume
        const QByteArray big = randomBytes(40 << 20, 7);
        QVERIFY(writeFile(t.srcPath("big.bin"), big));
        QVERIFY(writeFile(t.srcPath("gone.txt"), "no"));
        QVERIFY(QDir().mkpath(t.srcPath("adir")));
        t.q.addPath(t.srcPath("gone.txt"));
        t.q.add(t.srcPath("adir"), "adir"); // a file entry that cannot be read
        QVERIFY(makeSpecialFile(t.srcPath("pipe")));
        t.q.add(t.srcPath("pipe"), "pipe"); // nor can a named pipe, and it is not waited on
        t.q.addPath(t.srcPath("big.bin"));
        QVERIFY(QFile::remove(t.srcPath("gone.txt")));
        QObject::connect(&t.a.peer->transfers(), &TransferManager::transferStarted, [&](FileTransfer* f) {
            QObject::connect(f, &FileTransfer::viewChanged, f, [&, f] {
                if (f->view().visible && t.a.rec->count("*** Login Authenticated") == 1)
                    t.a.peer->session().disconnectFromPeer();
            });
        });
        QSignalSpy back(&t.a.peer->transfers(), &TransferManager::putBack);
        QVERIFY(t.connect());
        QVERIFY2(back.wait(10000), qPrintable(t.a.rec->text()));
        QCOMPARE(t.q.path(0), t.srcPath("big.bin"));
        QVERIFY(t.reconnect());
        QTRY_VERIFY2_WITH_TIMEOUT(t.complete() == 1, qPrintable(t.a.rec->text() + "\n--\n" + t.b.rec->text()), 20000);
        QVERIFY(readFile(t.downPath("big.bin")) == big);
        QCOMPARE(t.a.rec->lines.filter("*** Error : Cannot read " + t.srcPath("adir")).size(), 1);
        QVERIFY(
            t.a.rec->contains("*** Error : Cannot read " + t.srcPath("pipe") + " - not a regular file (a named pipe)"));
        QCOMPARE(t.a.rec->lines.filter("gone.txt"),
                 QStringList{"*** Skipped : " + t.srcPath("gone.txt") + " - it no longer exists"});
    }
};

QTEST_GUILESS_MAIN(TestQueue)
#include "tst_queue.moc"
