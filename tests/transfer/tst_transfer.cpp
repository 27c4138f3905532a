#include "support/RawPeer.h"
#include "support/TransferPair.h"

#include "session/Session.h"
#include "support/ScriptedPrompts.h"
#include "queue/FileQueue.h"
#include "transfer/Transfers.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Two logged-in peers (a sends, b receives) that also keep what the tests look at.
struct Pair : TransferPair {
    qint64 blocksA = -1, resumeB = -1;
    int viewsA = 0;
    TransferView lastViewA;

    Pair()
    {
        QObject::connect(&a.peer->transfers(), &Transfers::transferStarted, [this](FileTransfer* t) {
            QObject::connect(t, &FileTransfer::viewChanged, [this, t] { ++viewsA; lastViewA = t->view(); });
            QObject::connect(t, &FileTransfer::finished, [this, t] { blocksA = t->blocksSent(); });
        });
        QObject::connect(&b.peer->transfers(), &Transfers::transferStarted, [this](FileTransfer* t) {
            QObject::connect(t, &FileTransfer::finished, [this, t] { resumeB = t->resumeSize(); });
        });
    }
};

} // namespace

class TestTransfer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sizes_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("blocks");
        const qint64 rows[][2] = {{0, 0}, {1, 1}, {300, 2}, {301, 3}, {512, 2}, {8192, 16}, {8193, 2},
                                  {32767, -1}, {32768, -1}, {3 * 1024 * 1024 + 7, -1}}; // -1: not counted
        for (const auto& r : rows)
            QTest::newRow(qPrintable(QString::number(r[0]))) << r[0] << r[1];
    }
    void sizes()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, blocks);
        Pair p;
        QVERIFY(p.connect());
        const QByteArray data = randomBytes(size, static_cast<quint32>(size + 1));
        QVERIFY(writeFile(p.srcPath("f.bin"), data));
        QSignalSpy started(&p.a.peer->transfers(), &Transfers::transferStarted);
        QVERIFY(p.send("f.bin"));
        QCOMPARE(started.size(), 1);
        QCOMPARE(readFile(p.downPath("f.bin")), data);
        const QString done = QStringLiteral("*** File Transfer Complete : f.bin (%1 bytes)").arg(size);
        QCOMPARE(p.a.rec->count(done), 1);
        QCOMPARE(p.b.rec->count(done), 1);
        QVERIFY(p.endedA.first().complete && p.endedB.first().complete);
        QVERIFY(!p.a.ctx->TransferBusy && !p.b.ctx->TransferBusy);
        if (blocks >= 0)
            QCOMPARE(p.blocksA, blocks);
        // The view is refreshed a bounded number of times, never once a block.
        QVERIFY2(p.viewsA < 30, qPrintable(QString::number(p.viewsA)));
        const TransferView& v = p.lastViewA;
        QCOMPARE((QStringList{v.TotalLabel, v.pctlabel, v.title}),
                 (QStringList{QStringLiteral("Total Sent : %1").arg(size), "100%", "Sending"}));
        QVERIFY(p.lastViewA.visible && !p.lastViewA.running);
    }

    void endings_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("senderLine");
        QTest::addColumn<QString>("receiverLine");
        QTest::addColumn<bool>("putBack");
        QTest::addColumn<bool>("stopped");
        QTest::newRow("decline") << "decline" << "*** File Transfer Canceled By Receiver : f.bin"
                                 << "*** File Transfer Canceled : f.bin" << false << true;
        QTest::newRow("sender times out") << "timeout" << "*** File Transfer Timed Out : f.bin"
                                          << "*** File Transfer Timed Out : f.bin" << true << false;
        QTest::newRow("sender cancels") << "sender" << "*** File Transfer Canceled : f.bin"
                                        << "*** File Transfer Canceled By Sender : f.bin" << true << true;
        QTest::newRow("receiver cancels") << "receiver" << "*** File Transfer Canceled By Receiver : f.bin"
                                          << "*** File Transfer Canceled : f.bin" << false << true;
        QTest::newRow("receiver disk full") << "full" << "*** File Transfer Canceled By Receiver : f.bin"
                                            << "*** File Transfer Stopped By Error : f.bin" << false << true;
        QTest::newRow("receiver folder read-only") << "readonly" << "*** File Transfer Canceled By Receiver : f.bin"
                                                   << "*** File Transfer Stopped By Error : f.bin" << false << true;
        QTest::newRow("source shrinks") << "shrink" << "*** File Transfer Stopped By Error : f.bin"
                                        << "*** File Transfer Canceled By Sender : f.bin" << false << false;
        QTest::newRow("receiver killed") << "kill" << "" << "" << true << false;
        QTest::newRow("disconnect") << "disconnect" << "*** File Transfer Disconnected : f.bin" << "" << true << false;
        QTest::newRow("control lost while asking") << "lost" << "*** File Transfer Timed Out : f.bin"
                                                   << "*** File Transfer Disconnected : f.bin" << true << false;
    }
    void endings()
    {
        QFETCH(QString, how);
        QFETCH(QString, senderLine);
        QFETCH(QString, receiverLine);
        QFETCH(bool, putBack);
        QFETCH(bool, stopped);
        if (how == "readonly" && ::geteuid() == 0)
            QSKIP("permissions do not stop root from writing");
        Pair p;
        const QByteArray data(how == "full" || how == "readonly" ? 3 << 20 : 48 << 20, 'z');
        QVERIFY(writeFile(p.srcPath("f.bin"), data));
        QSignalSpy backs(&p.a.peer->transfers(), &Transfers::putBack);
        QSignalSpy stops(&p.a.peer->transfers(), &Transfers::stopQueue);
        p.b.ctx->options.AutoAccept = how != "decline" && how != "timeout" && how != "lost";
        if (how == "lost") {
            p.a.peer->transfers().timeouts.acceptMs = 300;
            QObject::connect(p.askB, &ScriptedPrompts::asked, [&] { p.a.peer->session().DropForConnect(); });
        }
        if (how == "decline")
            p.askB->acceptReplies.push_back({false, p.down, false});
        bool sentWhileAsked = false; // an offer being decided holds the one transfer slot
        if (how == "timeout") {
            p.a.peer->transfers().timeouts.acceptMs = 300;
            QObject::connect(p.askB, &ScriptedPrompts::asked,
                             [&] { sentWhileAsked = p.b.peer->transfers().offerFile(p.srcPath("f.bin"), "x"); });
        }
        if (how == "readonly")
            QVERIFY(QFile::setPermissions(p.down, QFile::ReadOwner | QFile::ExeOwner));
        rlimit old{};
        if (how == "full") {
            std::signal(SIGXFSZ, SIG_IGN);
            ::getrlimit(RLIMIT_FSIZE, &old);
            rlimit small = old;
            small.rlim_cur = 1 << 20; // writes past 1 MiB fail, as on a full disk
            ::setrlimit(RLIMIT_FSIZE, &small);
        }
        // Act once the data connection is up (the sender's window shows).
        QObject::connect(&p.a.peer->transfers(), &Transfers::transferStarted, [&](FileTransfer* t) {
            QObject::connect(t, &FileTransfer::viewChanged, t, [&, t] {
                if (!t->view().visible)
                    return;
                if (how == "sender")
                    t->cancelConfirmed();
                else if (how == "shrink")
                    QFile::resize(p.srcPath("f.bin"), 1 << 20);
                else if (how == "kill" && p.b.peer)
                    QTimer::singleShot(0, [&] { p.b.rec.reset(); p.b.ctx = nullptr; p.b.peer.reset(); });
                else if (how == "disconnect")
                    p.a.peer->session().Disconnect();
            });
        });
        // The receiver cancels once it has answered.
        QObject::connect(&p.b.peer->transfers(), &Transfers::transferStarted, [&](FileTransfer* t) {
            QObject::connect(t, &FileTransfer::viewChanged, t, [&, t] {
                if (how == "receiver" && t->view().status == "Receiving File...")
                    t->requestCancel();
            });
        });
        p.askB->yesNoReplies.push_back(true);
        QVERIFY(p.connect());
        const int nb = p.endedB.size();
        QVERIFY(p.a.peer->transfers().offerFile(p.srcPath("f.bin"), "f.bin"));
        if (how == "kill") {
            QVERIFY(QTest::qWaitFor([&] { return !p.endedA.isEmpty(); }, 10000));
        } else {
            QVERIFY(p.waitEnded(0, nb));
        }
        if (how == "full")
            ::setrlimit(RLIMIT_FSIZE, &old);
        QFile::setPermissions(p.down, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QStringList& la = p.a.rec->lines;
        QVERIFY2(senderLine.isEmpty() ? la.indexOf(QRegularExpression(R"(^\*\*\* File Transfer (Incomplete|Stopped By Error) : f\.bin$)")) >= 0
                                      : la.contains(senderLine),
                 qPrintable(la.join('\n')));
        if (p.b.ctx && !receiverLine.isEmpty())
            QVERIFY2(p.b.rec->contains(receiverLine), qPrintable(p.b.rec->lines.join('\n')));
        if (how == "full" || how == "readonly")
            QVERIFY2(p.b.rec->indexStarting("*** Error : Cannot write ") >= 0, qPrintable(p.b.rec->lines.join('\n')));
        if (how == "shrink")
            QVERIFY(la.contains("*** Error : Cannot read " + p.srcPath("f.bin") + " - the file became shorter"));
        QCOMPARE(la.filter("Complete").size(), 0);
        QCOMPARE(!backs.isEmpty(), putBack);
        QCOMPARE(!stops.isEmpty(), stopped);
        QVERIFY(!p.a.ctx->TransferBusy && !p.a.peer->transfers().current());
        if (how == "timeout" || how == "lost")
            QCOMPARE(p.askB->withdrawnCount(), 1); // the open question went away with the offer
        QVERIFY(!sentWhileAsked);
    }

    void hostileOffers_data()
    {
        QTest::addColumn<QString>("offer");
        QTest::addColumn<QString>("escape"); // a path outside that must stay untouched
        QTest::newRow("parent") << "file:%1|..\\evil.txt|512|10" << "../evil.txt";
        QTest::newRow("absolute") << "file:%1|/tmp/evil.txt|512|10" << "";
        QTest::newRow("slash") << "file:%1|a/../../evil.txt|512|10" << "../evil.txt";
        QTest::newRow("negative size") << "file:%1|ok.txt|512|-5" << "";
        QTest::newRow("size not a number") << "file:%1|ok.txt|512|12abc" << "";
        QTest::newRow("huge size") << "file:%1|ok.txt|512|99999999999999999999" << "";
        QTest::newRow("block zero") << "file:%1|ok.txt|0|10" << "";
        QTest::newRow("port") << "file:7%1|ok.txt|512|10" << "";
        QTest::newRow("link to folder") << "file:%1|out\\evil.txt|512|10" << "../outside/evil.txt";
        QTest::newRow("link to file") << "file:%1|l.txt|512|10" << "../outside/target.txt";
    }
    void hostileOffers()
    {
        QFETCH(QString, offer);
        QFETCH(QString, escape);
        Letter raw;
        TestPeer& b = raw.me;
        b.ctx->options.ExistsAlways = 1;
        const QString down = raw.down;
        const QString outside = QDir::cleanPath(down + "/../outside");
        QVERIFY(writeFile(outside + "/target.txt", "old"));
        QVERIFY(QFile::link(outside, down + "/out"));
        QVERIFY(QFile::link(outside + "/target.txt", down + "/l.txt"));
        QVERIFY(raw.start());
        raw.say(offer.arg(raw.port + 1));
        QTRY_VERIFY_WITH_TIMEOUT(raw.heard("CANC_TRAN"), 5000);
        QVERIFY2(b.rec->indexStarting("*** Error : Refused File") >= 0, qPrintable(b.rec->lines.join('\n')));
        QVERIFY(!b.ctx->TransferBusy && !b.peer->transfers().current());
        if (!escape.isEmpty())
            QCOMPARE(readFile(QDir(down).filePath(escape)), escape.endsWith("target.txt") ? "old" : "<missing>");
    }

    void hostileSender()
    {
        Letter raw;
        TestPeer& b = raw.me;
        b.peer->transfers().busyWaitMs = 200;
        QVERIFY(raw.start());
        QTcpServer cmdServer;
        QVERIFY(cmdServer.listen(QHostAddress::LocalHost, raw.port + 1));
        raw.say(QStringLiteral("file:%1|f.bin|512|10").arg(raw.port + 1));
        QTRY_VERIFY_WITH_TIMEOUT(cmdServer.hasPendingConnections(), 5000);
        QTcpSocket* cmd = cmdServer.nextPendingConnection();
        QByteArray cmds;
        QObject::connect(cmd, &QTcpSocket::readyRead, [&] { cmds += cmd->readAll(); });
        cmds += cmd->readAll();
        cmd->write("\x01garbage!");
        QTRY_COMPARE_WITH_TIMEOUT(cmds, QByteArray("ACCE_TRAN"), 5000);
        // A second offer while this one runs waits, then ends here without a refusal that
        // could reach the sender after it gave up; the running one goes on.
        raw.say(QStringLiteral("file:%1|g.bin|512|10").arg(raw.port + 1));
        QTRY_VERIFY_WITH_TIMEOUT(b.rec->contains("*** File Transfer Timed Out : g.bin"), 5000);
        QVERIFY(!raw.heard("CANC_TRAN") && b.ctx->TransferEndCode() == 0);
        QTcpSocket data;
        data.connectToHost(QHostAddress::LocalHost, raw.port + 2);
        QTRY_VERIFY_WITH_TIMEOUT(data.state() == QAbstractSocket::ConnectedState, 5000);
        data.write("0123456789ABCDEFGHIJKLMNO"); // 25 bytes for a 10-byte offer
        QTRY_VERIFY_WITH_TIMEOUT(b.rec->contains("*** File Transfer Stopped By Error : f.bin"), 5000);
        QCOMPARE(cmds, QByteArray("ACCE_TRANGot All"));
        QVERIFY(b.rec->contains("*** Error : The sender sent more than the offered 10 bytes : f.bin"));
        QCOMPARE(readFile(b.ctx->options.DownloadDir + "/f.bin"), QByteArray("0123456789"));

        // A sender that goes quiet before the end does not hold the receiver for ever; it is
        // left by closing the connection, not refused as by the user.
        b.peer->transfers().timeouts.idleMs = 200;
        raw.say(QStringLiteral("file:%1|h.bin|512|10").arg(raw.port + 1));
        QTRY_VERIFY_WITH_TIMEOUT(cmdServer.hasPendingConnections(), 5000);
        QTcpSocket* quiet = cmdServer.nextPendingConnection();
        QByteArray heard;
        QTRY_VERIFY_WITH_TIMEOUT(b.rec->contains("*** File Transfer Timed Out : h.bin"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(quiet->state(), QAbstractSocket::UnconnectedState, 5000);
        QCOMPARE(heard += quiet->readAll(), QByteArray("ACCE_TRAN"));
        QVERIFY(!b.ctx->TransferBusy);
    }

    void unreadable()
    {
        Pair p;
        QVERIFY(p.connect());
        QDir().mkpath(p.srcPath("folder"));
        QSignalSpy backs(&p.a.peer->transfers(), &Transfers::putBack);
        for (const char* name : {"missing", "folder"})
            QVERIFY(!p.a.peer->transfers().offerFile(p.srcPath(name), name));
        QCOMPARE(p.endedA.size(), 2); // each ended once, for good
        QVERIFY(!p.endedA[0].putBack && !p.endedA[1].putBack && backs.isEmpty());
        QCOMPARE(p.a.rec->lines.filter("*** Error : Cannot read ").size(), 2);
        QVERIFY(!p.a.ctx->TransferBusy);
    }

    // An unfinished file goes back to the front; a headless peer gives it up after a few tries.
    void queueRetries()
    {
        Pair p;
        p.b.ctx->options.AutoAccept = false; // nobody answers: each offer times out
        p.a.peer->transfers().timeouts.acceptMs = 150;
        QVERIFY(writeFile(p.srcPath("f.bin"), "abc"));
        QVERIFY(writeFile(p.srcPath("g.bin"), "defg"));
        FileQueue& list = p.a.peer->queue();
        list.maxPutBacks = 2;
        list.addPath(p.srcPath("f.bin"));
        list.addPath(p.srcPath("g.bin"));
        QVERIFY(p.connect());
        QTRY_VERIFY2_WITH_TIMEOUT(list.remaining() == 0 && list.ended() == 2, qPrintable(p.a.rec->lines.join('\n')), 15000);
        QCOMPARE(p.a.rec->count("*** File Transfer Timed Out : f.bin"), 3); // then given up
        QCOMPARE(p.a.rec->count("*** File Transfer Timed Out : g.bin"), 3);
        QCOMPARE(p.a.rec->indexStarting("*** Sending File : g.bin") > p.a.rec->lines.lastIndexOf("*** File Transfer Timed Out : f.bin"), true);
        QCOMPARE(list.ended(), 2);
        QCOMPARE(list.completed(), 0);
    }

    void progressPast4GiB()
    {
        TestPeer b;
        FileTransfer::Setup s;
        s.type = FileTransfer::Receiving;
        s.name = QStringLiteral("big.iso");
        s.size = (qint64(5) << 32) + 3;
        FileTransfer t(*b.ctx, b.peer->session(), b.peer->transfers().prompts(), s, {});
        const TransferView v = t.view();
        QVERIFY(v.progressMaximum > (1 << 30) && v.progressValue == 0);
        QCOMPARE((QStringList{v.SizeLabel, v.pctlabel, v.KPSlabel}),
                 (QStringList{"File Size : 21474836483", "100%", "0.00 KB/SEC"}));
    }

    void hostileReceiver_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("line");
        QTest::newRow("resume beyond the file") << QByteArray("RESUME_TR999999") << "*** File Transfer Stopped By Error : f.bin";
        QTest::newRow("no answer, peer leaves") << QByteArray() << "*** File Transfer Incomplete : f.bin";
    }
    void hostileReceiver()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, line);
        TestPeer a(QStringLiteral("Ann"));
        a.peer->transfers().timeouts.offsetWaitMs = 300;
        const QString path = a.home.filePath("f.bin");
        QVERIFY(writeFile(path, randomBytes(5000, 3)));
        const quint16 port = freePortTriple();
        a.listen(port);
        QTcpSocket ctl;
        QByteArray got;
        QObject::connect(&ctl, &QTcpSocket::readyRead, [&] { got += ctl.readAll(); });
        ctl.connectToHost(QHostAddress::LocalHost, port);
        QTRY_VERIFY_WITH_TIMEOUT(ctl.state() == QAbstractSocket::ConnectedState, 5000);
        ctl.write(Session::frame("PAuth:"));
        QTRY_VERIFY_WITH_TIMEOUT(a.rec->contains("*** User Authenticated"), 5000);
        QSignalSpy backs(&a.peer->transfers(), &Transfers::putBack);
        QVERIFY(a.peer->transfers().offerFile(path, "f.bin"));
        QTRY_VERIFY_WITH_TIMEOUT(got.contains(Session::frame(QStringLiteral("file:%1|f.bin|512|5000").arg(port + 1))), 5000);
        // Someone else on the machine, from another address, is turned away.
        QTcpSocket intruder;
        QVERIFY(intruder.bind(QHostAddress("127.0.0.2")));
        intruder.connectToHost(QHostAddress::LocalHost, port + 1);
        QTRY_VERIFY_WITH_TIMEOUT(intruder.state() == QAbstractSocket::UnconnectedState, 5000);
        QTcpSocket cmd;
        cmd.connectToHost(QHostAddress::LocalHost, port + 1);
        QTRY_VERIFY_WITH_TIMEOUT(cmd.state() == QAbstractSocket::ConnectedState, 5000);
        if (answer.isEmpty())
            cmd.abort();
        else
            cmd.write(answer);
        QTRY_VERIFY_WITH_TIMEOUT(a.rec->contains(line), 5000);
        QCOMPARE(backs.isEmpty(), !answer.isEmpty()); // an impossible resume is not offered again
        QVERIFY(!a.ctx->TransferBusy);
    }

    void existing_data()
    {
        QTest::addColumn<QByteArray>("local");  // f.bin already in the download folder
        QTest::addColumn<QByteArray>("other");  // g.bin already there
        QTest::addColumn<int>("always");        // ExistsAlways
        QTest::addColumn<int>("choice");        // the answer to the question (0: none asked)
        QTest::addColumn<QString>("savedAs");
        QTest::addColumn<qint64>("resume");     // the receiver's resume offset
        QTest::addColumn<QString>("senderLine");
        QTest::addColumn<QString>("receiverLine");
        const QByteArray data = randomBytes(200000, 7);
        const QByteArray longer = randomBytes(300000, 8);
        const QString done = "*** File Transfer Complete : %1 (200000 bytes)";
        QTest::newRow("resume partial") << data.left(100000) << QByteArray() << 0 << 2 << "f.bin" << qint64(65536)
                                        << done.arg("f.bin") << "*** Resuming File : f.bin (200000 bytes)";
        QTest::newRow("resume short") << data.left(90000) << QByteArray() << 2 << 0 << "f.bin" << qint64(0)
                                      << done.arg("f.bin") << done.arg("f.bin");
        QTest::newRow("resume longer") << longer << QByteArray() << 0 << 2 << "f.bin" << qint64(0)
                                       << done.arg("f.bin") << done.arg("f.bin");
        QTest::newRow("overwrite") << longer << QByteArray() << 1 << 0 << "f.bin" << qint64(0)
                                   << done.arg("f.bin") << "*** Overwriting File : f.bin (200000 bytes)";
        QTest::newRow("rename") << longer << QByteArray() << 0 << 3 << "f1.bin" << qint64(0)
                                << done.arg("f.bin") << done.arg("f1.bin");
        QTest::newRow("typed over longer") << longer << longer << 0 << 4 << "g.bin" << qint64(0)
                                           << done.arg("f.bin") << done.arg("g.bin");
        QTest::newRow("have file") << data << QByteArray() << 0 << 0 << "f.bin" << qint64(-1)
                                   << "*** File Transfer Canceled (Receiver Has Complete File) : f.bin" << "";
        QTest::newRow("canceled") << longer << QByteArray() << 0 << 5 << "" << qint64(-1)
                                  << "*** File Transfer Canceled By Receiver : f.bin"
                                  << "*** File Transfer Canceled : f.bin";
    }
    void existing()
    {
        QFETCH(QByteArray, local);
        QFETCH(QByteArray, other);
        QFETCH(int, always);
        QFETCH(int, choice);
        QFETCH(QString, savedAs);
        QFETCH(qint64, resume);
        QFETCH(QString, senderLine);
        QFETCH(QString, receiverLine);
        Pair p;
        const QByteArray data = randomBytes(200000, 7);
        QVERIFY(writeFile(p.srcPath("f.bin"), data));
        QVERIFY(writeFile(p.downPath("f.bin"), local));
        if (!other.isEmpty())
            QVERIFY(writeFile(p.downPath("g.bin"), other));
        p.b.ctx->options.ExistsAlways = always;
        if (choice)
            p.askB->existsReplies.push_back({choice, false, QStringLiteral("g.bin")});
        if (choice == 4) // the typed name exists too: asked about in turn, and overwritten
            p.askB->existsReplies.push_back({1, false, {}});
        QVERIFY(p.connect());
        QVERIFY(p.send("f.bin"));
        QVERIFY2(p.a.rec->contains(senderLine), qPrintable(p.a.rec->lines.join('\n')));
        if (!receiverLine.isEmpty())
            QVERIFY2(p.b.rec->contains(receiverLine), qPrintable(p.b.rec->lines.join('\n')));
        else
            QCOMPARE(p.b.rec->indexStarting("*** File Transfer"), -1);
        QCOMPARE(p.askB->questions.size(), choice == 4 ? 2 : choice ? 1 : 0);
        if (!savedAs.isEmpty())
            QCOMPARE(readFile(p.downPath(savedAs)), data);
        if (savedAs != "f.bin")
            QCOMPARE(readFile(p.downPath("f.bin")), local); // left alone
        QCOMPARE(p.resumeB, resume);
        if (resume > 0)
            QCOMPARE(p.blocksA, (data.size() - resume + 8191) / 8192); // only the rest moved
    }

};

QTEST_GUILESS_MAIN(TestTransfer)
#include "tst_transfer.moc"
