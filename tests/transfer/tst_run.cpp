// Runs of files between two peers of this program: a folder of many files moves over the
// connections of its first file, each file with its own outcome line; a question, a
// refusal, a spoiled file, a cancel and a lost login in the middle of a run touch only
// what they should.
#include "support/CliRun.h"
#include "support/TransferPair.h"

#include "queue/FileQueue.h"
#include "session/Session.h"
#include "transfer/TransferRun.h"

#include <QSignalSpy>

namespace {

// The files of a folder, as queued ("run/sub/f0007.bin") and in the order the queue offers them.
struct Folder {
    QStringList names;
    QList<qint64> sizes;
    void add(const QString& name, qint64 size) { names << name, sizes << size; }
    void addNumbered(int i, qint64 size, const QString& folder = QStringLiteral("run/"))
    {
        add(folder + QStringLiteral("f%1.bin").arg(i, 4, 10, QChar('0')), size);
    }
    bool write(const QString& root) const
    {
        for (qsizetype i = 0; i < names.size(); ++i)
            if (!writeFile(QDir(root).filePath(names[i]), randomBytes(sizes[i], static_cast<quint32>(i + 1))))
                return false;
        return true;
    }
};

QString wire(QString name)
{
    return name.replace('/', '\\');
}
QString base(const QString& name)
{
    return name.section('/', -1);
}
QString complete(const QString& name, qint64 size)
{
    return QStringLiteral("*** File Transfer Complete : %1 (%2 bytes)").arg(name).arg(size);
}

// The outcome lines other than "Complete".
QStringList otherOutcomes(const QStringList& lines)
{
    QStringList out = lines.filter(QStringLiteral("*** File Transfer "));
    out.removeIf([](const QString& l) { return l.startsWith(QLatin1String("*** File Transfer Complete")); });
    return out;
}

// Calls f with each run of t on every refresh of its view, refreshed as often as it can be.
template <class F>
void onRunView(TestPeer& t, F f)
{
    QObject::connect(&t.peer->transfers(), &TransferManager::runStarted, [f](TransferRun* r) {
        r->limits.viewMs = 0;
        QObject::connect(r, &TransferActivity::viewChanged, r, [f, r] { f(r); });
    });
}

// Two peers, a sending the folder "run" of its src through its queue to b.
struct RunPair : TransferPair {
    FileQueue& list = a.peer->queue();
    QSignalSpy runsA{&a.peer->transfers(), &TransferManager::runStarted};
    QSignalSpy runsB{&b.peer->transfers(), &TransferManager::runStarted};
    void queueFolder() { list.addPath(at(src, QStringLiteral("run"))); }
    // The queue stopped and no run is left on either side.
    bool stoppedIdle() const
    {
        return list.isStopped() && !a.peer->transfers().currentRun() && !b.peer->transfers().currentRun();
    }
    QStringList queued() const
    {
        QStringList out;
        for (int row = 0; row < list.count(); ++row)
            out << list.name(row);
        return out;
    }
};

} // namespace

class TestRun : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { qRegisterMetaType<TransferRun*>(); }

    // A folder of many files of every size arrives whole and in order, each file with one
    // outcome line on each side; with a peer that speaks only the plain protocol each file
    // is a transfer of its own.
    void folder_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("count");
        QTest::newRow("private") << "private" << 2000;
        QTest::newRow("not private") << "plain" << 2000;
        QTest::newRow("receiver without extensions") << "none" << 400;
    }
    void folder()
    {
        QFETCH(QString, how);
        QFETCH(int, count);
        RunPair p;
        const bool run = how != "none";
        p.b.peer->session().extensionsOn = run;
        if (how == "plain")
            p.a.ctx->settings.privateMode = p.b.ctx->settings.privateMode = PrivateMode::Never;
        Folder f;
        const qint64 sizes[] = {100, 0, 1, 8192, 8193, 32768, 32769};
        for (int i = 0; i < count; ++i)
            f.addNumbered(i,
                          i == count / 3       ? 3 << 20
                          : i == count * 2 / 3 ? (2 << 20) + 5
                                               : sizes[i % 7],
                          i < count / 2 ? "run/" : "run/sub/");
        f.add(QString::fromUtf8("run/sub/日本/ж.bin"), 5000); // a plain peer gets it as "__/_.bin"
        QVERIFY(f.write(p.src));
        QVERIFY(p.connect());
        QCOMPARE(p.a.peer->session().isPrivate(), how == "private");
        p.queueFolder();
        const int n = f.names.size();
        QTRY_VERIFY_WITH_TIMEOUT(p.list.remaining() == 0 && p.list.ended() == n, 120000);
        QStringList sent, received;
        for (int i = 0; i < n; ++i) {
            const QString name = run || i + 1 < n ? f.names[i] : QStringLiteral("run/sub/__/_.bin");
            QCOMPARE(readFile(p.downPath(name)), readFile(p.srcPath(f.names[i])));
            sent << complete(wire(name), f.sizes[i]);
            received << complete(base(name), f.sizes[i]);
        }
        QCOMPARE(p.a.rec->lines.filter("*** File Transfer "), sent);
        QCOMPARE(p.b.rec->lines.filter("*** File Transfer "), received);
        QCOMPARE(p.list.completed(), n);
        QCOMPARE(p.runsA.size(), run ? 1 : 0);
        QCOMPARE(p.runsB.size(), run ? 1 : 0);
        QCOMPARE(p.a.rec->lines.filter("*** Sending File : ").size(), run ? 1 : n);
        QCOMPARE(p.b.rec->lines.filter("*** Receiving File : ").size(), run ? 1 : n);
    }

    // In the middle of a run: an existing file asked about, a file declined, a file whose
    // checksums differ, a file removed after it was queued. Only that file is affected; the
    // rest of the run goes on. The download folder removed during a run is made again.
    void middle_data()
    {
        // senderLine, receiverLine: the middle file's lines other than "Complete"
        stringRows({"how", "senderLine", "receiverLine"},
                   {{"existing file, overwritten", "exists", "", ""},
                    {"declined", "decline", "*** File Transfer Canceled By Receiver : run\\f0020.bin",
                     "*** File Transfer Canceled : run\\f0020.bin"},
                    {"checksums differ", "flip", "*** File Transfer Stopped By Error : run\\f0020.bin",
                     "*** File Transfer Stopped By Error : f0020.bin"},
                    {"removed after it was queued", "gone", "", ""},
                    {"download folder removed", "rmdir", "", ""}});
    }
    void middle()
    {
        QFETCH(QString, how);
        QFETCH(QString, senderLine);
        QFETCH(QString, receiverLine);
#ifndef ZANTIRO_TEST_HOOKS
        if (how == "flip")
            QSKIP("built without ZANTIRO_TEST_HOOKS");
#endif
        RunPair p;
        const int n = 40, k = 20;
        Folder f;
        for (int i = 0; i < n; ++i)
            f.addNumbered(i, i == k ? 100000 : 3000 + i);
        QVERIFY(f.write(p.src));
        if (how == "exists") // the same size, another content
            QVERIFY(writeFile(p.downPath(f.names[k]), randomBytes(100000, 99)));
        p.b.ctx->options.autoAccept = false;
        for (int i = 0; i <= n; ++i) // one more for a file offered again
            p.askB->acceptReplies.push_back({how != "decline" || i != k, p.down, false});
        p.askB->existsReplies.push_back({ExistingFileChoice::Overwrite, false, {}});
        QObject::connect(p.askB, &ScriptedPrompts::asked, [&] {
            if (how == "rmdir" && p.askB->questions.size() == k + 1) // the files before went to it
                QVERIFY(QDir(p.down).removeRecursively());
#ifdef ZANTIRO_TEST_HOOKS
            if (how == "flip" && p.askB->questions.size() == k + 1) // the middle file's question
                p.b.peer->transfers().testFlipReceivedByte = 1000;
#endif
        });
        if (how == "gone") // once the run is open, before the middle file is offered
            QObject::connect(&p.a.peer->transfers(), &TransferManager::runStarted,
                             [&] { QVERIFY(QFile::remove(p.srcPath(f.names[k]))); });
        QVERIFY(p.connect());
        p.queueFolder();
        QTRY_VERIFY_WITH_TIMEOUT(p.list.remaining() == 0 && p.list.ended() == n, 60000);
        if (how == "gone")
            QCOMPARE(p.a.rec->lines.filter("f0020"),
                     QStringList{"*** Skipped : " + p.srcPath(f.names[k]) + " - it no longer exists"});
        for (int i = 0; i < n; ++i) {
            const bool declined = (how == "decline" || how == "gone") && i == k;
            QCOMPARE(p.a.rec->count(complete(wire(f.names[i]), f.sizes[i])), declined ? 0 : 1);
            QCOMPARE(p.b.rec->count(complete(base(f.names[i]), f.sizes[i])), declined ? 0 : 1);
            if (how != "rmdir" || i >= k) // those before may have gone with the folder
                QCOMPARE(readFile(p.downPath(f.names[i])), declined ? "<missing>" : readFile(p.srcPath(f.names[i])));
        }
        QCOMPARE(otherOutcomes(p.a.rec->lines), senderLine.isEmpty() ? QStringList() : QStringList{senderLine});
        QCOMPARE(otherOutcomes(p.b.rec->lines), receiverLine.isEmpty() ? QStringList() : QStringList{receiverLine});
        QCOMPARE(p.askB->existsNames, how == "exists" ? QStringList{base(f.names[k])} : QStringList());
        QCOMPARE(p.list.completed(), how == "decline" || how == "gone" ? n - 1 : n);
        if (how != "flip") // offered again after its error: in a run of its own once the queue ran empty
            QCOMPARE(p.runsA.size(), 1);
        else
            QVERIFY(p.a.rec->lines.indexOf(senderLine)
                    < p.a.rec->lines.indexOf(complete(wire(f.names[k]), f.sizes[k])));
    }

    // A cancel while a large file of the run moves: that file ends cancelled on both sides
    // and keeps what arrived, the queue stops with the rest in order, and Go sends the rest.
    // With `overwrite`, the files after the large one are there already, to be overwritten:
    // they stay as they were, as their first byte had not come when the run broke.
    void cancel_data()
    {
        columns<bool, bool>("bySender", "overwrite");
        QTest::newRow("sender cancels") << true << false;
        QTest::newRow("receiver cancels") << false << false;
        QTest::newRow("sender cancels, later files there to be overwritten") << true << true;
    }
    void cancel()
    {
        QFETCH(bool, bySender);
        QFETCH(bool, overwrite);
        RunPair p;
        p.b.ctx->options.existingFileDefault =
            int(overwrite ? ExistingFileChoice::Overwrite : ExistingFileChoice::Resume);
        const int n = 30, k = 10;
        Folder f;
        for (int i = 0; i < n; ++i)
            f.addNumbered(i, i == k ? 32 << 20 : 2000 + i);
        QVERIFY(f.write(p.src));
        const auto before = [&](int i) { return overwrite ? randomBytes(500 + i, 1000 + i) : QByteArray("<missing>"); };
        for (int i = k + 1; overwrite && i < n; ++i)
            QVERIFY(writeFile(p.downPath(f.names[i]), before(i)));
        const QString big = p.downPath(f.names[k]);
        // Once every file before the large one has ended on the cancelling side and the large
        // one is partly written.
        bool cancelled = false;
        auto maybeCancel = [&](TransferRun*) {
            const qint64 got = QFileInfo(big).size();
            TransferRun* r = (bySender ? p.a : p.b).peer->transfers().currentRun();
            if (!cancelled && r && (bySender ? p.endedA : p.endedB).size() == k && got > 0 && got < f.sizes[k])
                cancelled = QMetaObject::invokeMethod(
                    r, [r] { r->cancelConfirmed(); }, Qt::QueuedConnection);
        };
        onRunView(p.a, maybeCancel), onRunView(p.b, maybeCancel);
        QVERIFY(p.connect());
        p.queueFolder();
        QTRY_VERIFY_WITH_TIMEOUT(cancelled && p.stoppedIdle(), 30000);
        QCOMPARE(otherOutcomes(p.a.rec->lines),
                 QStringList{(bySender ? "*** File Transfer Canceled : " : "*** File Transfer Canceled By Receiver : ")
                             + wire(f.names[k])});
        QCOMPARE(otherOutcomes(p.b.rec->lines),
                 QStringList{(bySender ? "*** File Transfer Canceled By Sender : " : "*** File Transfer Canceled : ")
                             + base(f.names[k])});
        QCOMPARE(p.a.rec->lines.filter("*** File Transfer Complete").size(), k);
        QCOMPARE(p.queued(), f.names.mid(bySender ? k : k + 1));
        const QByteArray part = readFile(big);
        QVERIFY(part.size() > 0 && part.size() < f.sizes[k] && readFile(p.srcPath(f.names[k])).startsWith(part));
        for (int i = k + 1; i < n; ++i)
            QCOMPARE(readFile(p.downPath(f.names[i])), before(i));

        p.list.start();
        QTRY_VERIFY_WITH_TIMEOUT(p.list.remaining() == 0, 60000);
        for (int i = 0; i < n; ++i)
            if (bySender || i != k)
                QCOMPARE(readFile(p.downPath(f.names[i])), readFile(p.srcPath(f.names[i])));
        QCOMPARE(readFile(big), bySender ? readFile(p.srcPath(f.names[k])) : part);
        QCOMPARE(
            p.b.rec->count(QStringLiteral("*** Resuming File : %1 (%2 bytes)").arg(base(f.names[k])).arg(f.sizes[k])),
            bySender && !overwrite ? 1 : 0);
        QCOMPARE(p.a.rec->lines.filter("*** File Transfer Complete").size(), bySender ? n : n - 1);
    }

    // Two queued files of one name from different folders: the second waits until the first
    // is written, so the target holds one sender file's bytes, never a mix.
    void sameName_data()
    {
        rowsOf<int>("choice",
                    {{"overwrite", int(ExistingFileChoice::Overwrite)}, {"resume", int(ExistingFileChoice::Resume)}});
    }
    void sameName()
    {
        QFETCH(int, choice);
        RunPair p;
        p.b.ctx->options.existingFileDefault = choice;
        const qint64 sizeA = 16 << 20, sizeB = 2 << 20; // the first is longer: a mix would show
        QVERIFY(writeFile(p.srcPath("first.txt"), "first"));
        QVERIFY(writeFile(p.srcPath("a/notes.bin"), QByteArray(sizeA, 'A')));
        QVERIFY(writeFile(p.srcPath("b/notes.bin"), QByteArray(sizeB, 'B')));
        QVERIFY(p.connect());
        for (const char* name : {"first.txt", "a/notes.bin", "b/notes.bin"})
            p.list.addPath(p.srcPath(name));
        QTRY_VERIFY_WITH_TIMEOUT(p.list.remaining() == 0 && p.list.ended() == 3, 30000);
        QCOMPARE(p.runsA.size(), 1);
        QCOMPARE(readFile(p.downPath("notes.bin")), QByteArray(sizeB, 'B'));
        QCOMPARE(p.b.rec->count(complete("notes.bin", sizeA)) + p.b.rec->count(complete("notes.bin", sizeB)), 2);
    }

    // A run whose queue has nothing more closes at once: the other side's queue sends back
    // without waiting for the run's idle bound.
    void emptyRunCloses()
    {
        RunPair p;
        p.a.peer->transfers().runIdleMs = 60000;
        p.a.ctx->options.autoAccept = true;
        const QString back = QDir(p.a.ctx->options.downloadFolder).filePath("back.txt");
        QVERIFY(writeFile(p.srcPath("there.txt"), "there") && writeFile(p.b.home.filePath("back.txt"), "back"));
        QVERIFY(p.connect());
        p.list.addPath(p.srcPath("there.txt"));
        QTRY_VERIFY_WITH_TIMEOUT(p.list.completed() == 1 && p.runsA.size() == 1, 10000);
        p.b.peer->queue().addPath(p.b.home.filePath("back.txt"));
        QTRY_COMPARE_WITH_TIMEOUT(readFile(back), "back", 5000);
    }

    // A receiver that leaves as soon as its last file is complete (--exit-after): the
    // answers it sent on the run's connection end the sender's files as complete, although
    // its leaving may reach the sender first. Three rounds: that order is up to the system.
    void answersBeforeLeaving()
    {
        QTemporaryDir tmp;
        const int n = 300;
        Folder f;
        for (int i = 0; i < n; ++i)
            f.addNumbered(i, 100);
        QVERIFY(f.write(tmp.filePath("out")));
        for (int round = 0; round < 3; ++round) {
            const QString in = tmp.filePath(QStringLiteral("in%1").arg(round));
            Run r;
            QVERIFY2(r.start({"--home", tmp.filePath("s"), "--send", tmp.filePath("out/run"), "--exit-when-done",
                              "--private", "never"},
                             {"--home", tmp.filePath("c"), "--auto-accept", "--download", in, "--exit-after",
                              QString::number(n), "--private", "never"}),
                     qPrintable(r.serverLines().join('\n')));
            QVERIFY(r.server.waitForFinished(60000) && r.client.waitForFinished(60000));
            QCOMPARE(otherOutcomes(r.serverLines()), QStringList());
            QCOMPARE(r.serverLines().filter("*** File Transfer Complete : ").size(), n);
            QCOMPARE(r.exitCodes(), (QList<int>{0, 0}));
        }
    }

    // A run belongs to its login: the receiver's Disconnect ends it on both sides while a
    // file moves, and a file queued afterwards waits for the next login.
    void loginEndsRun()
    {
        RunPair p;
        p.b.ctx->options.existingFileDefault = int(ExistingFileChoice::Resume);
        QVERIFY(writeFile(p.srcPath("one.txt"), "one") && writeFile(p.srcPath("big.bin"), randomBytes(32 << 20, 7))
                && writeFile(p.srcPath("two.txt"), "two"));
        onRunView(p.b, [&](TransferRun*) {
            const qint64 got = QFileInfo(p.downPath("big.bin")).size();
            if (got > 0 && got < 32 << 20 && p.b.peer->session().isConnected())
                p.b.peer->session().disconnectFromPeer();
        });
        const quint16 port = freePortTriple();
        QVERIFY(connectPeers(p.a, p.b, port));
        for (const char* name : {"one.txt", "big.bin"})
            p.list.addPath(p.srcPath(name));
        QTRY_VERIFY_WITH_TIMEOUT(p.runsA.size() == 1 && !p.a.peer->session().isConnected()
                                     && !p.a.peer->transfers().currentRun() && !p.b.peer->transfers().currentRun(),
                                 10000);
        p.list.addPath(p.srcPath("two.txt"));
        QCOMPARE(p.queued(), QStringList({"big.bin", "two.txt"}));
        QVERIFY(!QFile::exists(p.downPath("two.txt")));
        if (p.a.peer->session().controlSocket.state() != EventSocket::Listening)
            p.a.listen(port);
        p.b.connectTo(port);
        QTRY_COMPARE_WITH_TIMEOUT(readFile(p.downPath("two.txt")), "two", 20000);
        QCOMPARE(readFile(p.downPath("big.bin")), readFile(p.srcPath("big.bin")));
        QCOMPARE(p.runsA.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestRun)
#include "tst_run.moc"
