// Faults met with two real peers: a peer killed in the middle of a file, a receiver whose
// disk fills up, a peer stopped for longer than every wait of the other, and many
// reconnections with descriptors and memory checked.
#include "session/Session.h"
#include "support/CliRun.h"
#include "support/Harness.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <malloc.h>
#include <memory>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#define FAULTS_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FAULTS_UNDER_ASAN 1
#endif
#endif
#ifdef FAULTS_UNDER_ASAN
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

// Large enough that a transfer on loopback takes a few hundred milliseconds.
const qint64 kSize = qint64(256) << 20;
const QString kName = QStringLiteral("big.bin");
const QString kComplete = QStringLiteral("*** File Transfer Complete : %1 (%2 bytes)").arg(kName).arg(kSize);
const QString kResuming = QStringLiteral("*** Resuming File : %1 (%2 bytes)").arg(kName).arg(kSize);
const QRegularExpression kOutcome(QStringLiteral(R"(^\*\*\* File Transfer )")); // a transfer's end
const QString kFromStart =
    QStringLiteral("*** The partial file differs from the one offered - receiving it from the start : ") + kName;

// The file's contents in short: equal for equal contents, empty for a file that cannot be read.
QByteArray digest(const QString& path)
{
    QFile f(path);
    QCryptographicHash h(QCryptographicHash::Md5);
    return f.open(QIODevice::ReadOnly) && h.addData(&f) ? h.result() : QByteArray();
}

qint64 sizeOf(const QString& path)
{
    return QFileInfo(path).size();
}

quint64 inodeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

bool anyComplete(const QStringList& lines)
{
    return !lines.filter(QStringLiteral("*** File Transfer Complete")).isEmpty();
}

// What a process holds: open descriptors and resident memory (KiB) from /proc; for the test
// process also the heap in use (bytes).
struct Usage {
    int fds = 0;
    qint64 rssKiB = 0;
    qint64 heap = 0;
};

Usage usageOf(const QString& pid)
{
    Usage u;
    u.fds = static_cast<int>(QDir(QStringLiteral("/proc/%1/fd").arg(pid))
                                 .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                                 .size());
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                u.rssKiB = line.mid(6).trimmed().split(' ').first().toLongLong();
    if (pid == QLatin1String("self")) {
#ifdef FAULTS_UNDER_ASAN
        u.heap = static_cast<qint64>(__sanitizer_get_current_allocated_bytes());
#else
        u.heap = static_cast<qint64>(mallinfo2().uordblks);
#endif
    }
    return u;
}

QString describe(const Usage& a, const Usage& b)
{
    return QString::asprintf("descriptors %d -> %d, resident %lld -> %lld KiB, heap %lld -> %lld KiB", a.fds, b.fds,
                             a.rssKiB, b.rssKiB, a.heap / 1024, b.heap / 1024);
}

// The programs reconnect after 0.1 s instead of 5.5 s; memory a sanitizer holds back after
// freeing it would read as growth.
QProcessEnvironment peerEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZANTIRO_TEST_RECONNECT_MS"), QStringLiteral("50"));
    const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               (asan.isEmpty() ? QString() : asan + ':') + QStringLiteral("quarantine_size_mb=0"));
    return env;
}

// A receiving peer that listens and a sending peer that connects to it, each a process with
// a program folder of its own; the receiver resumes a file it has part of.
struct Peers {
    QTemporaryDir root;
    QString port = QString::number(freePortTriple());
    QString down = root.filePath(QStringLiteral("down"));
    CliProcess receiver{root.filePath(QStringLiteral("r"))};
    CliProcess sender{root.filePath(QStringLiteral("s"))};
    QStringList receiverArgs, senderArgs;

    Peers(const QString& source, const QStringList& receiverExtra, const QStringList& senderExtra)
    {
        QDir().mkpath(down);
        receiverArgs =
            QStringList{"--listen", port, "--auto-accept", "--download", down, "--exists", "resume"} + receiverExtra;
        senderArgs = QStringList{"--connect", "127.0.0.1:" + port} + senderExtra;
        if (!source.isEmpty())
            senderArgs << "--send" << source;
        for (CliProcess* c : {&receiver, &sender})
            c->p.setProcessEnvironment(peerEnvironment());
    }
    bool startReceiver()
    {
        return receiver.start(receiverArgs) && receiver.waitFor("*** Waiting on Port : " + port, 10000);
    }
    bool startSender() { return sender.start(senderArgs); }
    bool start() { return startReceiver() && startSender(); }
    QString target() const { return QDir(down).filePath(kName); }
    bool received(qint64 bytes, int ms = 20000)
    {
        return QTest::qWaitFor([&] { return sizeOf(target()) >= bytes; }, ms);
    }
    // Waits until both report the file complete; `lowest` becomes the smallest size the
    // target had meanwhile (a resume never writes the part it kept again).
    bool bothComplete(int ms = 30000, qint64* lowest = nullptr)
    {
        return QTest::qWaitFor(
            [&] {
                if (lowest)
                    *lowest = std::min(*lowest, sizeOf(target()));
                return receiver.has(kComplete) && sender.has(kComplete);
            },
            ms);
    }
    // After a resume: both report the file complete, it holds the source's bytes in the file
    // that was kept (same inode), the receiver resumed rather than started again, and the part
    // it kept was never written again meanwhile (it never shrank by more than a block's slack).
    bool resumedToEnd(const QString& source, qint64 kept, quint64 inode)
    {
        qint64 lowest = kept;
        return bothComplete(30000, &lowest) && digest(target()) == digest(source) && receiver.has(kResuming)
               && !receiver.has(kFromStart) && inodeOf(target()) == inode && lowest > kept - (qint64(1) << 20);
    }
    // How often each reported the file complete: the receiver first.
    QList<qsizetype> completes() { return {receiver.count(kComplete), sender.count(kComplete)}; }
    // Waits for both to end: their exit statuses (-1: not in time, or crashed).
    QList<int> exitCodes() { return {sender.exitCode(), receiver.exitCode()}; }
    QByteArray log()
    {
        return ("receiver:\n" + receiver.lines().join('\n') + "\nsender:\n" + sender.lines().join('\n')).toUtf8();
    }
};

// A file system of its own at a folder, `bytes` large, for as long as this lives.
struct SmallDisk {
    QByteArray at;
    bool mounted = false;
    SmallDisk(const QString& folder, qint64 bytes) : at(QFile::encodeName(folder))
    {
        mounted = ::mount("zantiro-test", at.constData(), "tmpfs", 0, options(bytes).constData()) == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            ::umount2(at.constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool grow(qint64 bytes)
    {
        return ::mount("zantiro-test", at.constData(), "tmpfs", MS_REMOUNT, options(bytes).constData()) == 0;
    }
    static QByteArray options(qint64 bytes) { return "size=" + QByteArray::number(bytes); }
};

// A server peer in this process that takes a client through reconnections: once the
// client's record has come (it has logged in), the server drops the connection, in turn by
// "bye", by closing and by a reset, and listens again; the client's auto-reconnect brings it
// back.
struct Cycler {
    TestPeer server{QStringLiteral("Srv")};
    quint16 port = freePortTriple();
    QList<LineRecorder*> recorders{server.rec.get()};
    int logins = 0;
    int target = 0;
    bool standing = false; // logged in, left connected at the end of run()
    bool dropping = false;
    QEventLoop* loop = nullptr;

    Cycler()
    {
        Session& s = server.peer->session();
        QObject::connect(&s, &Session::remoteInfoChanged, server.peer.get(), [this] {
            if (dropping || standing)
                return;
            ++logins;
            for (LineRecorder* r : recorders)
                r->lines.clear(), r->kinds.clear();
            standing = true;
            if (logins >= target && loop)
                loop->quit();
            else
                QTimer::singleShot(0, server.peer.get(), [this] { drop(); });
        });
        QObject::connect(&s, &Session::connectionStateChanged, server.peer.get(), [this](Session::State state) {
            if (state == Session::State::Idle && std::exchange(dropping, false))
                QTimer::singleShot(0, server.peer.get(), [this] { server.listen(port); });
        });
        server.listen(port);
    }
    void drop()
    {
        standing = false;
        dropping = true;
        Session& s = server.peer->session();
        if (logins % 3 == 0) {
            s.disconnectFromPeer();
        } else {
            if (logins % 3 == 2)
                s.controlSocket.reset();
            s.dropForConnect();
        }
    }
    // Runs until n logins in all have come; false when they did not come within ms.
    bool run(int n, int ms)
    {
        target = n;
        QEventLoop wait;
        loop = &wait;
        QTimer::singleShot(ms, &wait, &QEventLoop::quit);
        if (standing)
            QTimer::singleShot(0, server.peer.get(), [this] { drop(); });
        wait.exec();
        loop = nullptr;
        return logins >= n;
    }
};

} // namespace

class TestFaults : public QObject {
    Q_OBJECT

    QTemporaryDir files;
    QString source;

private Q_SLOTS:
    void initTestCase()
    {
        source = files.filePath(kName);
        QFile f(source);
        QVERIFY(f.open(QIODevice::WriteOnly));
        const qint64 piece = qint64(16) << 20;
        for (qint64 at = 0; at < kSize; at += piece)
            QCOMPARE(f.write(randomBytes(piece, static_cast<quint32>(at / piece) + 7)), piece);
    }

    // A peer killed in the middle of the file; after a restart the receiver resumes onto the
    // part it kept (same file, not received again from byte 0) and ends byte-identical.
    void killAndResume_data()
    {
        columns<bool, bool>("killSender", "automatic");
        QTest::newRow("receiver killed, restarted, sender reconnects") << false << true;
        QTest::newRow("sender killed, restarted, receiver listens again") << true << true;
        QTest::newRow("receiver killed, both restarted by hand") << false << false;
    }
    void killAndResume()
    {
        auto [killSender, automatic] = fetch<bool, bool>("killSender", "automatic");
        const QStringList receiverExtra = !automatic   ? QStringList{}
                                          : killSender ? QStringList{"--auto-reconnect"}
                                                       : QStringList{"--exit-after", "1"};
        const QStringList senderExtra = automatic ? QStringList{"--auto-reconnect", "--exit-when-done"} : QStringList{};
        Peers peers(source, receiverExtra, senderExtra);
        QVERIFY(peers.start());
        QVERIFY2(peers.received(kSize / 4), peers.log());
        CliProcess& victim = killSender ? peers.sender : peers.receiver;
        CliProcess& survivor = killSender ? peers.receiver : peers.sender;
        victim.p.kill();
        QVERIFY(victim.p.waitForFinished(5000));

        // The survivor ends the transfer, and not as complete; the part received stays.
        QVERIFY2(QTest::qWaitFor([&] { return !survivor.lines().filter(kOutcome).isEmpty(); }, 20000), peers.log());
        QVERIFY2(!anyComplete(survivor.lines() + victim.lines()), peers.log());
        const qint64 kept = sizeOf(peers.target());
        const quint64 inode = inodeOf(peers.target());
        QVERIFY2(kept > 0 && kept < kSize, qPrintable(QString::number(kept)));

        if (automatic) {
            QVERIFY(killSender ? peers.startSender() : peers.startReceiver());
        } else {
            survivor.say(QStringLiteral("/quit"));
            QCOMPARE(survivor.exitCode(), 0);
            QVERIFY(peers.start());
        }
        QVERIFY2(peers.resumedToEnd(source, kept, inode), peers.log());
        QCOMPARE(peers.completes(), (QList<qsizetype>{1, 1}));

        // With the flags that end them, the peers end by themselves.
        if (!automatic)
            peers.sender.say(QStringLiteral("/quit"));
        if (!automatic || killSender)
            peers.receiver.say(QStringLiteral("/quit"));
        QCOMPARE(peers.exitCodes(), (QList<int>{0, 0}));
    }

    // The receiver cannot write past a point: it says why, the sender does not report
    // success, nobody crashes, and once there is room again the kept part is resumed.
    void diskFull_data()
    {
        columns<bool, bool>("fileSystem", "exitWhenDone");
        QTest::newRow("file size limit, the sender exits") << false << true;
        QTest::newRow("full file system, the sender goes on") << true << false;
    }
    void diskFull()
    {
        auto [fileSystem, exitWhenDone] = fetch<bool, bool>("fileSystem", "exitWhenDone");
        constexpr qint64 room = qint64(32) << 20;
        // A receiver that listens again once the sender has gone takes the sender's second run.
        Peers peers(source, exitWhenDone ? QStringList{"--auto-reconnect"} : QStringList{},
                    exitWhenDone ? QStringList{"--exit-when-done"} : QStringList{});
        std::unique_ptr<SmallDisk> disk;
        if (fileSystem) {
            disk = std::make_unique<SmallDisk>(peers.down, room);
            if (!disk->mounted)
                QSKIP("cannot mount a file system here (it needs root)");
        } else {
            peers.receiver.p.setChildProcessModifier([] {
                std::signal(SIGXFSZ, SIG_IGN);
                rlimit limit{};
                ::getrlimit(RLIMIT_FSIZE, &limit);
                limit.rlim_cur = static_cast<rlim_t>(room);
                ::setrlimit(RLIMIT_FSIZE, &limit);
            });
        }
        QVERIFY(peers.start());
        const QString stopped = "*** File Transfer Stopped By Error : " + kName;
        const QString refused = "*** File Transfer Canceled By Receiver : " + kName;
        QVERIFY2(QTest::qWaitFor([&] { return peers.receiver.has(stopped) && peers.sender.has(refused); }, 20000),
                 peers.log());
        const QString why = fileSystem ? QStringLiteral("No space left on device") : QStringLiteral("File too large");
        const QStringList errors = peers.receiver.lines().filter(QStringLiteral("*** Error : Cannot write "));
        QVERIFY2(errors == QStringList{"*** Error : Cannot write " + peers.target() + " - " + why}, peers.log());
        QVERIFY(peers.receiver.running());
        if (exitWhenDone)
            QCOMPARE(peers.sender.exitCode(), 1); // the file did not go through
        else
            QVERIFY(peers.sender.running());
        QVERIFY2(!anyComplete(peers.receiver.lines() + peers.sender.lines()), peers.log());
        const qint64 kept = sizeOf(peers.target());
        QVERIFY2(kept > 0 && kept <= room, qPrintable(QString::number(kept)));
        const quint64 inode = inodeOf(peers.target());

        // Room again: the same receiver resumes when the file is sent again (the receiver's
        // refusal took it out of the sender's queue and stopped the queue) by a new sender
        // or by the one still running.
        if (fileSystem) {
            QVERIFY(disk->grow(kSize + room));
        } else {
            const auto pid = static_cast<pid_t>(peers.receiver.p.processId());
            rlimit limit{};
            QCOMPARE(::prlimit(pid, RLIMIT_FSIZE, nullptr, &limit), 0);
            limit.rlim_cur = limit.rlim_max;
            QCOMPARE(::prlimit(pid, RLIMIT_FSIZE, &limit, nullptr), 0);
        }
        if (exitWhenDone) {
            const QString listening = "*** Waiting on Port : " + peers.port;
            QVERIFY(QTest::qWaitFor([&] { return peers.receiver.count(listening) == 2; }, 10000));
            QVERIFY(peers.startSender());
        } else {
            peers.sender.say("/send " + source);
            peers.sender.say(QStringLiteral("/go"));
        }
        QVERIFY2(peers.resumedToEnd(source, kept, inode), peers.log());
        if (!exitWhenDone)
            peers.sender.say(QStringLiteral("/quit"));
        peers.receiver.say(QStringLiteral("/quit"));
        QCOMPARE(peers.exitCodes(), (QList<int>{0, 0}));
    }

    // One peer of each pair stopped for 70 s, longer than every wait of the other (60 s):
    // the receiver in the middle of a file, the sender in the middle of a file, and a
    // receiver stopped while idle and offered a file during the stop. Afterwards every file
    // arrives byte-identical, and nothing was reported complete before.
    void stoppedPeer()
    {
        Peers midReceiver(source, {}, {}), midSender(source, {}, {}), idle({}, {}, {});
        QVERIFY(midReceiver.start());
        QVERIFY2(midReceiver.received(kSize / 4), midReceiver.log());
        ::kill(static_cast<pid_t>(midReceiver.receiver.p.processId()), SIGSTOP);
        QVERIFY(midSender.start());
        QVERIFY2(midSender.received(kSize / 4), midSender.log());
        ::kill(static_cast<pid_t>(midSender.sender.p.processId()), SIGSTOP);
        QVERIFY(idle.start());
        const QString change = QStringLiteral("*** Remote User Info Change (");
        QVERIFY(QTest::qWaitFor([&] { return !idle.receiver.lines().filter(change).isEmpty(); }, 10000));
        QVERIFY(QTest::qWaitFor([&] { return !idle.sender.lines().filter(change).isEmpty(); }, 10000));
        ::kill(static_cast<pid_t>(idle.receiver.p.processId()), SIGSTOP);
        idle.sender.say("/send " + source);

        CliProcess* awake[] = {&midReceiver.sender, &midSender.receiver, &idle.sender};
        CliProcess* stopped[] = {&midReceiver.receiver, &midSender.sender, &idle.receiver};
        const QDeadlineTimer over(70000);
        const auto faulty = [&] {
            for (CliProcess* c : awake)
                if (!c->running() || anyComplete(c->lines()))
                    return true;
            return false;
        };
        QVERIFY(QTest::qWaitFor([&] { return over.hasExpired() || faulty(); }, 75000));
        QVERIFY2(!faulty(), midReceiver.log() + midSender.log() + idle.log());
        for (CliProcess* c : stopped)
            ::kill(static_cast<pid_t>(c->p.processId()), SIGCONT);

        for (Peers* p : {&midReceiver, &midSender, &idle}) {
            QVERIFY2(p->bothComplete(60000), p->log());
            QCOMPARE(digest(p->target()), digest(source));
            QCOMPARE(p->completes(), (QList<qsizetype>{1, 1}));
            p->sender.say(QStringLiteral("/quit"));
            p->receiver.say(QStringLiteral("/quit"));
            QCOMPARE(p->exitCodes(), (QList<int>{0, 0}));
        }
        // The files stopped in the middle were resumed onto the part received.
        for (Peers* p : {&midReceiver, &midSender})
            QVERIFY2(p->receiver.has(kResuming) && !p->receiver.has(kFromStart), p->log());
    }

    // Reconnections leave descriptors and memory where they were after the first few: 1,000 of
    // two peers in this process (its heap too: nothing of a connection may outlive it, not even
    // a timer waiting for its handshake, 1,000 of which held about 1 MiB), 100 of a zantiro-cli
    // with --auto-reconnect.
    void reconnectCycles_data() { rowsOf<bool>("program", {{"in this process", false}, {"zantiro-cli", true}}); }
    void reconnectCycles()
    {
        QFETCH(bool, program);
#ifndef ZANTIRO_TEST_HOOKS
        if (program)
            QSKIP("built without ZANTIRO_TEST_HOOKS: the program waits 5.5 s before each reconnection");
#endif
        Cycler cycler;
        TestPeer client(QStringLiteral("Cli"));
        QTemporaryDir home;
        CliProcess cli(home.path());
        QString pid = QStringLiteral("self");
        if (program) {
            cli.p.setProcessEnvironment(peerEnvironment());
            QVERIFY(cli.start({"--connect", "127.0.0.1:" + QString::number(cycler.port), "--auto-reconnect"}));
            pid = QString::number(cli.p.processId());
        } else {
            client.ctx->options.autoReconnect = true;
            SessionLimits& limits = client.peer->session().limits;
            limits.reconnectDelayMs = limits.reconnectPauseMs = 1;
            cycler.recorders << client.rec.get();
            client.connectTo(cycler.port);
        }
        const int cycles = program ? 100 : 1000;
        QVERIFY(cycler.run(program ? 20 : 50, 60000));
        const Usage before = usageOf(pid);
        QVERIFY2(cycler.run(cycles, 240000), qPrintable(QString::number(cycler.logins)));
        const Usage after = usageOf(pid);
        qInfo("%s", qPrintable(describe(before, after)));
        QVERIFY2(after.fds <= before.fds + 2, qPrintable(describe(before, after)));
        QVERIFY2(after.heap <= before.heap + (qint64(256) << 10), qPrintable(describe(before, after)));
#ifdef FAULTS_UNDER_ASAN
        if (program) // under the sanitizer, the heap tells for the test process
#endif
            QVERIFY2(after.rssKiB <= before.rssKiB + 4096, qPrintable(describe(before, after)));
        if (program) { // its lines may still be on their way when the last cycle ends
            QTRY_VERIFY_WITH_TIMEOUT(cli.count(QStringLiteral("*** Login Authenticated")) >= cycles, 10000);
            cli.say(QStringLiteral("/quit"));
            QCOMPARE(cli.exitCode(), 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
