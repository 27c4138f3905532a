// TransferManager against a peer that does exactly what the protocol says and nothing more: it takes
// each chunk it reads from a command connection as one command and may cut its own commands
// anywhere. Strangers race it for the ports. (Empty files with such a peer: tst_sizes.)
#include "support/RawPeer.h"

#include "queue/FileQueue.h"
#include "transfer/TransferManager.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

namespace {

// One case: how the raw side behaves, the file's size, the start of the error line expected
// (empty: none) and our peer's outcome line.
struct Case {
    QString how;
    qint64 size;
    QString error, outcome;
};
const QString kStopped = "Stopped By Error : f.bin", kSecond = "A second connection came to transfer port";

} // namespace

Q_DECLARE_METATYPE(Case)

class TestStrictPeer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The raw side sends a file to our peer.
    void receive_data()
    {
        QTest::addColumn<Case>("row");
        QTest::newRow("glued end and cancel") << Case{"glued", 10, "", "Complete : f.bin (10 bytes)"};
        QTest::newRow("data reset early")
            << Case{"reset", 5000, "The sender reset the data connection after 1000 of 5000 bytes", kStopped};
        QTest::newRow("stranger before the sender") << Case{"stranger first", 5000, kSecond, kStopped};
        QTest::newRow("stranger during the transfer") << Case{"stranger during", 5000, kSecond, kStopped};
        // A second offer meanwhile ends here without a refusal that could reach the sender
        // after it gave up; the running one goes on, and stops at the first byte too many.
        QTest::newRow("second offer, then too much")
            << Case{"too much", 10, "The sender sent more than the offered 10 bytes : f.bin", kStopped};
        // A sender gone quiet is left by closing the connection, not refused as by the user.
        QTest::newRow("sender goes quiet") << Case{"quiet", 10, "", "Timed Out : f.bin"};
    }
    void receive()
    {
        QFETCH(Case, row);
        const auto& [how, size, error, outcome] = row;
        StrictPeer l;
        l.me.peer->transfers().busyWaitMs = 200;
        l.me.peer->transfers().timeouts.idleMs = how == "quiet" ? 200 : 60000;
        QVERIFY(l.start());
        QTcpServer commandPort;
        QVERIFY(commandPort.listen(QHostAddress::LocalHost, l.port + 1));
        l.say(QStringLiteral("file:%1|f.bin|512|%2").arg(l.port + 1).arg(size));
        QTRY_VERIFY_WITH_TIMEOUT(commandPort.hasPendingConnections(), 5000);
        Chunked cmd, data, stranger;
        cmd.attach(commandPort.nextPendingConnection());
        cmd.s->write("\x01garbage!");
        QTRY_COMPARE_WITH_TIMEOUT(cmd.all, QByteArray("ACCE_TRAN"), 5000);
        const QByteArray bytes = randomBytes(how == "too much" ? 25 : size, 5);
        if (how == "too much") {
            l.say(QStringLiteral("file:%1|g.bin|512|10").arg(l.port + 1));
            QTRY_VERIFY_WITH_TIMEOUT(l.me.rec->contains("*** File Transfer Timed Out : g.bin"), 5000);
            QVERIFY(!l.heard("CANC_TRAN") && l.me.ctx->transferEndCode() == TransferEndCode::None);
        }
        if (how == "stranger first") {
            stranger.connectTo(l.port + 2);
            QTRY_VERIFY_WITH_TIMEOUT(stranger.up(), 5000);
            stranger.s->write(QByteArray(200000, 'J'));
        }
        data.connectTo(l.port + 2);
        QTRY_VERIFY_WITH_TIMEOUT(data.up() || data.down(), 5000);
        if (how == "glued" || how == "too much") {
            data.s->write(bytes);
            QTRY_COMPARE_WITH_TIMEOUT(cmd.all, QByteArray("ACCE_TRANGot All"), 5000);
            if (how == "glued")
                cmd.s->write("END_TRANSCANC_TRAN");
        } else if (how != "stranger first" && how != "quiet") {
            data.s->write(bytes.left(1000));
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(l.down + "/f.bin").size() == 1000, 5000);
            if (how == "reset")
                data.reset();
            else
                stranger.connectTo(l.port + 2);
        }
        QTRY_VERIFY2_WITH_TIMEOUT(l.me.rec->contains("*** File Transfer " + outcome), qPrintable(l.log()), 5000);
        if (!error.isEmpty())
            QVERIFY2(l.me.rec->indexStarting("*** Error : " + error) >= 0, qPrintable(l.log()));
        QCOMPARE(l.me.rec->lines.filter("*** File Transfer ").filter(": f.bin").size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(cmd.down(), 5000); // nothing more comes: "CANC_TRAN" is not answered after the end
        QVERIFY2(cmd.oneCommandEach(), cmd.chunks.join('|').constData());
        if (how == "glued" || how == "too much")
            QCOMPARE(readFile(l.down + "/f.bin"), bytes.left(size));
        if (how == "quiet" || how == "too much")
            QCOMPARE(cmd.all, QByteArray(how == "quiet" ? "ACCE_TRAN" : "ACCE_TRANGot All"));
        QVERIFY(!l.me.ctx->transferBusy);
    }

    // Our peer sends a file to the raw side.
    void send_data()
    {
        QTest::addColumn<Case>("row");
        QTest::newRow("resume offset cut by TCP") << Case{"resume", 200000, "", "Complete : f.bin (200000 bytes)"};
        // An orderly close while ours is still writing (a reset takes another way: tst_sizes).
        QTest::newRow("data closed early")
            << Case{"close", 48 << 20, "The receiver reset the data connection after", kStopped};
        // Closed or reset, as the system has it.
        QTest::newRow("data closed before Got All") << Case{"gone", 100000, "The receiver", kStopped};
        QTest::newRow("stranger answers first") << Case{"stranger", 5000, kSecond, kStopped};
        QTest::newRow("stranger during the transfer") << Case{"stranger during", 48 << 20, kSecond, kStopped};
        // An impossible resume is not offered again; a receiver that leaves without an answer is.
        QTest::newRow("resume beyond the file") << Case{"beyond", 5000, "", kStopped};
        QTest::newRow("no answer, receiver leaves") << Case{"leaves", 5000, "", "Incomplete : f.bin"};
        // A receiver that reads nothing more is left after the bound, and told so.
        QTest::newRow("receiver stops reading") << Case{"stalls", 32 << 20, "", "Incomplete : f.bin"};
    }
    void send()
    {
        QFETCH(Case, row);
        const auto& [how, size, error, outcome] = row;
        StrictPeer l;
        l.me.peer->transfers().timeouts.offsetWaitMs = 300;
        const bool stalls = how == "stalls";
        if (stalls)
            l.me.peer->transfers().timeouts.blockMs = 400;
        QVERIFY(l.start());
        QSignalSpy backs(&l.me.peer->transfers(), &TransferManager::putBack);
        const QByteArray bytes = randomBytes(size, 9);
        QTcpServer dataPort;
        QVERIFY(dataPort.listen(QHostAddress::LocalHost, l.port + 2));
        if (stalls) { // a small receive buffer, inherited by the accepted connection
            const int small = 65536;
            ::setsockopt(static_cast<int>(dataPort.socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        }
        Chunked cmd, data, stranger;
        QVERIFY(l.me.peer->transfers().offerFile(l.sendPath("f.bin", bytes), "f.bin"));
        const char* block = size >= 32768 ? "32768" : "512";
        QTRY_VERIFY_WITH_TIMEOUT(l.heard(QStringLiteral("file:%1|f.bin|%2|%3").arg(l.port + 1).arg(block).arg(size)),
                                 5000);
        if (how == "stranger") {
            stranger.connectTo(l.port + 1);
            QTRY_VERIFY_WITH_TIMEOUT(stranger.up(), 5000);
            stranger.s->write("ACCE_TRAN");
        }
        // Someone on the machine with another address is turned away.
        QTcpSocket intruder;
        QVERIFY(intruder.bind(QHostAddress("127.0.0.2")));
        intruder.connectToHost(QHostAddress::LocalHost, l.port + 1);
        QTRY_VERIFY_WITH_TIMEOUT(intruder.state() == QAbstractSocket::UnconnectedState, 5000);
        cmd.connectTo(l.port + 1);
        QTRY_VERIFY_WITH_TIMEOUT(cmd.up() || how == "stranger", 5000);
        const bool noData = how == "stranger" || how == "beyond" || how == "leaves";
        if (how == "resume") {
            cmd.s->write("RESUME_TR6");
            QTimer::singleShot(200, cmd.s, [&] { cmd.s->write("5536"); });
        } else if (how == "beyond") {
            cmd.s->write("RESUME_TR999999");
        } else if (how == "leaves") {
            cmd.s->abort();
        } else if (how != "stranger") {
            cmd.s->write("ACCE_TRAN");
        }
        QTimer reader;
        if (stalls) {
            // The first MiB is read, then nothing.
            QTRY_VERIFY_WITH_TIMEOUT(dataPort.hasPendingConnections(), 5000);
            data.s = dataPort.nextPendingConnection();
            data.s->setReadBufferSize(4096);
            QObject::connect(&reader, &QTimer::timeout,
                             [&] { data.all += data.s->read(data.all.size() < (1 << 20) ? 4096 : 0); });
            reader.start(1);
        } else if (!noData) {
            QTRY_VERIFY_WITH_TIMEOUT(dataPort.hasPendingConnections(), 5000);
            data.attach(dataPort.nextPendingConnection());
        }
        if (how == "resume") {
            QTRY_COMPARE_WITH_TIMEOUT(data.all.size(), size - 65536, 5000);
            QCOMPARE(data.all, bytes.mid(65536)); // from the offset the receiver meant
            cmd.s->write("Got All");
        } else if (how == "gone") {
            QTRY_VERIFY_WITH_TIMEOUT(!data.all.isEmpty(), 5000);
            data.s->disconnectFromHost();
        } else if (how == "close" || how == "stranger during") {
            QTRY_VERIFY_WITH_TIMEOUT(data.all.size() >= (1 << 20), 5000);
            if (how == "close")
                data.s->disconnectFromHost();
            else
                stranger.connectTo(l.port + 1);
        }
        if (how == "resume" || stalls) {
            QTRY_VERIFY_WITH_TIMEOUT(cmd.chunks.contains("END_TRANS"), 5000);
            cmd.s->disconnectFromHost();
        }
        QTRY_VERIFY2_WITH_TIMEOUT(l.me.rec->contains("*** File Transfer " + outcome), qPrintable(l.log()), 5000);
        if (!error.isEmpty())
            QVERIFY2(l.me.rec->indexStarting("*** Error : " + error) >= 0, qPrintable(l.log()));
        QCOMPARE(l.me.rec->lines.filter("*** File Transfer ").size(), 1);
        QVERIFY2(cmd.oneCommandEach(), cmd.chunks.join('|').constData());
        if (how == "stranger") // the race is visible to both: the stranger's connection is cut
            QTRY_VERIFY_WITH_TIMEOUT(stranger.down() && cmd.down(), 5000);
        if (how == "beyond" || how == "leaves")
            QCOMPARE(backs.isEmpty(), how == "beyond");
        QVERIFY(!l.me.ctx->transferBusy);
    }

    // Control messages about offers this side gave up on, or about the peer's own offers,
    // end nothing of ours.
    void staleMessages_data()
    {
        rowsOf<bool>("crossing", {{"late refusal after FTIMEOUT", false}, {"FTIMEOUT of the peer's own offer", true}});
    }
    void staleMessages()
    {
        QFETCH(bool, crossing);
        StrictPeer l;
        QVERIFY(l.start());
        TransferManager& t = l.me.peer->transfers();
        if (!crossing)
            t.timeouts.acceptMs = 300;
        FileQueue& queue = l.me.peer->queue();
        queue.addPath(l.sendPath("x.bin", "12345"));
        const QString offer = QStringLiteral("file:%1|x.bin|512|5").arg(l.port + 1);
        QTRY_VERIFY_WITH_TIMEOUT(l.heard(offer), 5000);
        if (crossing) {
            // The peer offers y.bin while our x.bin waits for its answer, then gives it up.
            l.say(QStringLiteral("file:%1|y.bin|512|3").arg(l.port + 7));
            l.say(QStringLiteral("FTIMEOUT"));
            QTRY_VERIFY2_WITH_TIMEOUT(l.me.rec->contains("*** File Transfer Timed Out : y.bin"), qPrintable(l.log()),
                                      5000);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(l.heard("FTIMEOUT"), 5000);
            l.said.clear();
            l.say(QStringLiteral("CANC_TRAN"));             // the refusal of the offer that timed out
            QTRY_VERIFY_WITH_TIMEOUT(l.heard(offer), 5000); // offered again after the pause
        }
        QVERIFY(t.current() && t.current()->awaitingAnswer());
        QVERIFY2(l.me.rec->indexStarting("*** File Transfer Canceled") < 0, qPrintable(l.log()));
        QVERIFY(!queue.isStopped());
        QVERIFY(!l.heard("CANC_TRAN"));
        if (crossing)
            QVERIFY(!l.heard("FTIMEOUT") && !l.me.rec->contains("*** File Transfer Timed Out : x.bin"));
    }
};

QTEST_GUILESS_MAIN(TestStrictPeer)
#include "tst_strict_peer.moc"
