// Runs of files against a raw peer that announces "run", opens a run by the book ("frun", the
// single-file exchange, "RUN_READY") and then breaks the rules, as the sender to our receiving run
// and as the receiver of our sending run. A peer without "run" sees nothing of runs.
#include "support/RawPeer.h"

#include "queue/FileQueue.h"
#include "transfer/TransferRun.h"

#include <QDirIterator>

#include <functional>

namespace {

// One misbehaviour: what the raw side does (`lines` written at once, or steps named by `how`),
// the start of the error line expected after "*** Error : " (empty: none at all) and the outcome
// line of the file it is about (empty: none).
struct Case {
    QString how;
    QByteArray lines;
    QString error, outcome;
};

bool until(const std::function<bool()>& done)
{
    return QTest::qWaitFor(done, 10000);
}

// Writes one byte at a time and lets the event loop turn after each, so that every byte
// arrives in a read of its own.
void trickle(QTcpSocket* s, const QByteArray& bytes)
{
    s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    for (const char c : bytes) {
        s->write(&c, 1), s->flush();
        QCoreApplication::processEvents(), QCoreApplication::processEvents();
    }
}

// Our peer logged in to a raw peer that announces `caps` after ours and plays the other side.
struct RunPeer : StrictPeer {
    Chunked cmd, data;
    QTcpServer ports;
    TransferManager& t = me.peer->transfers();
    int runs = 0;

    RunPeer()
    {
        QObject::connect(&t, &TransferManager::runStarted, [this] { ++runs; });
    }
    bool start(const QString& caps)
    {
        if (!StrictPeer::start() || !until([&] { return messagesIn(said).filter("caps:").size() == 1; }))
            return false;
        if (!caps.isEmpty())
            say(caps);
        return caps.isEmpty() || until([&] { return me.peer->session().shares(caps.mid(5).section(',', 0, 0)); });
    }
    // Our peer receives first.bin offered with "frun"; with `run` it keeps the connections.
    bool receiveFirst(bool run = true)
    {
        if (!ports.listen(QHostAddress::LocalHost, port + 1))
            return false;
        // A small window: answers the raw side does not read soon wait on our side.
        const int small = 4096;
        ::setsockopt(static_cast<int>(ports.socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        say("frun");
        say(QStringLiteral("file:%1|first.bin|512|5").arg(port + 1));
        if (!until([&] { return ports.hasPendingConnections(); }))
            return false;
        cmd.attach(ports.nextPendingConnection());
        data.connectTo(port + 2);
        if (!until([&] { return cmd.all == "ACCE_TRAN" && data.up(); }) || !data.s->write("12345")
            || !until([&] { return cmd.all == "ACCE_TRANGot All"; }) || !cmd.s->write("END_TRANS"))
            return false;
        return until([&] { return run ? t.currentRun() && cmd.all.endsWith("RUN_READY") : cmd.down(); });
    }
    // Our peer sends first.bin and then the files `sizes` names, with "frun" when it may.
    bool sendFirst(const QMap<QString, qint64>& sizes, bool run = true)
    {
        if (!ports.listen(QHostAddress::LocalHost, port + 2))
            return false;
        me.peer->queue().add(sendPath("first.bin", "12345"), "first.bin");
        for (auto [name, size] : sizes.asKeyValueRange())
            me.peer->queue().add(sendPath(name, randomBytes(size, size)), name);
        if (!until([&] { return heard(QStringLiteral("file:%1|first.bin|512|5").arg(port + 1)); }))
            return false;
        cmd.connectTo(port + 1);
        if (!until([&] { return cmd.up(); }) || !cmd.s->write("ACCE_TRAN")
            || !until([&] { return ports.hasPendingConnections(); }))
            return false;
        data.attach(ports.nextPendingConnection());
        if (!until([&] { return data.all == "12345"; }) || !cmd.s->write("Got All")
            || !until([&] { return cmd.all == "END_TRANS"; }))
            return false;
        if (!run)
            return cmd.s->disconnectFromHost(), true;
        cmd.s->write("RUN_READY");
        return until([&] { return t.currentRun() != nullptr; });
    }
    // Every file our peer wrote stays inside its download folder.
    bool allInside() const
    {
        for (QDirIterator it(me.home.path(), {"*.bin"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            if (!it.next().startsWith(down + '/'))
                return false;
        return true;
    }
    // The run is over and a chat line still goes through.
    bool usable()
    {
        cmd.s->abort(), data.s->abort();
        say("msg:still here");
        return until([&] { return !t.currentRun() && me.rec->lines.last().endsWith("still here"); });
    }
    int completes() const { return me.rec->lines.filter("*** File Transfer Complete").size(); }
    // The error line (or none) and the outcome line the row expects.
    bool ended(const Case& row)
    {
        if (!until([&] { return row.outcome.isEmpty() || me.rec->contains("*** File Transfer " + row.outcome); }))
            return false;
        return row.error.isEmpty() ? me.rec->indexStarting("*** Error") < 0
                                   : until([&] { return me.rec->indexStarting("*** Error : " + row.error) >= 0; });
    }
};

const QString kUnexpected = "The sender sent an unexpected command in a run of files : ";
const QString kUnexpectedAnswer = "The receiver sent an unexpected command in a run of files : ";

} // namespace

Q_DECLARE_METATYPE(Case)

class TestRunHostile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The raw side sends to our receiving run.
    void receive_data()
    {
        QTest::addColumn<Case>("row");
        QByteArray offers;
        for (int n = 1; n <= 10000; ++n)
            offers += "OFFER " + QByteArray::number(n) + " 512 10 f" + QByteArray::number(n) + ".bin\n";
        QTest::newRow("skipped number") << Case{"", "OFFER 2 512 5 b.bin\n", kUnexpected + "OFFER 2 512 5 b.bin", ""};
        // Unsafe names are refused one by one; the run goes on with the next offer.
        QTest::newRow("unsafe names") << Case{"unsafe", "", "Refused File \"..\\x.bin\" - unsafe name",
                                              "Complete : ok.bin (5 bytes)"};
        QTest::newRow("huge line") << Case{"", QByteArray(1 << 20, 'A'),
                                           "The peer sent a command line of more than 65536 bytes", ""};
        QTest::newRow("10000 offers at once")
            << Case{"", offers, "The sender offered more files at once than a run allows", ""};
        // Refused at once, and without the folder made on the way.
        QTest::newRow("name 5000 folders deep") << Case{
            "", "OFFER 1 512 5 sub\\" + QByteArray(300, 'n') + '\\' + QByteArray("a\\").repeated(5000) + "z.bin\n",
            "Cannot write", ""};
        QTest::newRow("answers not read") << Case{"unread", "", "The sender does not read the command connection", ""};
        QTest::newRow("SENT for an unknown number") << Case{"", "SENT 7 -\n", kUnexpected + "SENT 7 -", ""};
        QTest::newRow("bytes beyond the files")
            << Case{"beyond", "", "The sender sent more bytes than the files", "Stopped By Error : b.bin"};
        QTest::newRow("one byte per write") << Case{"trickle", "", "", "Complete : b.bin (5 bytes)"};
        QTest::newRow("sender closes mid-file")
            << Case{"close", "", "The sender closed the connections of the run of files while files were moving",
                    "Stopped By Error : big.bin"};
    }
    void receive()
    {
        QFETCH(Case, row);
        RunPeer l;
        QVERIFY(l.start("caps:run"));
        QVERIFY2(l.receiveFirst(), qPrintable(l.log()));
        QTcpSocket* cmd = l.cmd.s;
        l.cmd.all.clear();
        const QString abs = l.me.home.filePath("abs.bin");
        cmd->write(row.lines);
        if (row.how == "unread") { // the sender does not read our answers
            QObject::disconnect(cmd, &QTcpSocket::readyRead, nullptr, nullptr);
            cmd->setReadBufferSize(4096);
            l.t.currentRun()->limits.maxUnsent = 16384;
            int ended = 0;
            QObject::connect(&l.t, &TransferManager::transferEnded, [&] { ++ended; });
            for (int n = 1; n < 2000000 && l.t.currentRun();) {
                QByteArray offers;
                for (const int last = n + 50000; n < last; ++n)
                    offers += "OFFER " + QByteArray::number(n) + " 512 5 first.bin\n";
                cmd->write(offers);
                QTRY_VERIFY_WITH_TIMEOUT(ended == n - 1 || !l.t.currentRun(), 30000);
            }
        } else if (row.how == "unsafe") {
            cmd->write("OFFER 1 512 5 ..\\x.bin\nOFFER 2 512 5 " + abs.toUtf8()
                       + "\nOFFER 3 512 5 sub\\..\\..\\y.bin\n"
                         "OFFER 4 512 5 C:\\z.bin\nOFFER 5 512 5 sub\\"
                       + QByteArray(300, 'n') + "\nOFFER 6 512 5 sub\\ok.bin\n");
            QTRY_COMPARE_WITH_TIMEOUT(l.cmd.all, "REFUSE 1\nREFUSE 2\nREFUSE 3\nREFUSE 4\nREFUSE 5\nACCEPT 6 0\n",
                                      10000);
            l.data.s->write("abcde");
            cmd->write("SENT 6 -\n");
            QTRY_VERIFY_WITH_TIMEOUT(l.cmd.all.endsWith("DONE 6\n"), 10000);
            QCOMPARE(readFile(l.down + "/sub/ok.bin"), QByteArray("abcde"));
        } else if (!row.how.isEmpty()) {
            const QByteArray offer = row.how == "close" ? "OFFER 1 512 100000 big.bin\n" : "OFFER 1 512 5 b.bin\n";
            row.how == "trickle" ? trickle(cmd, offer) : void(cmd->write(offer));
            QTRY_COMPARE_WITH_TIMEOUT(l.cmd.all, QByteArray("ACCEPT 1 0\n"), 10000);
            if (row.how == "beyond") {
                l.data.s->write("1234567");
            } else if (row.how == "trickle") {
                l.data.s->write("vwxyz");
                trickle(cmd, "SENT 1 -\n");
                QTRY_COMPARE_WITH_TIMEOUT(l.cmd.all, QByteArray("ACCEPT 1 0\nDONE 1\n"), 10000);
                QCOMPARE(readFile(l.down + "/b.bin"), QByteArray("vwxyz"));
            } else {
                l.data.s->write(randomBytes(40000, 3));
                QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(l.down + "/big.bin").size(), 40000, 10000);
                l.data.s->disconnectFromHost(), cmd->disconnectFromHost();
            }
        }
        QVERIFY2(l.ended(row), qPrintable(l.log()));
        QVERIFY(l.usable() && !l.me.ctx->transferBusy);
        QCOMPARE(l.completes(), row.outcome.startsWith("Complete") ? 2 : 1);
        QVERIFY2(l.allInside() && !QFileInfo::exists(abs), qPrintable(l.log()));
        // first.bin, and the file the row is about when it got that far
        QCOMPARE(QDir(l.down).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(),
                 1 + (row.how == "unsafe" || row.how == "trickle" || row.how == "beyond" || row.how == "close"));
        if (row.how == "close") // kept as far as it came, for a resume
            QCOMPARE(readFile(l.down + "/big.bin"), randomBytes(40000, 3));
    }

    // Our sending run against the raw receiver.
    void send_data()
    {
        QTest::addColumn<Case>("row");
        const QString stopped = "Stopped By Error : a.bin";
        // More than one turn of sending: not all of it is out when "DONE" comes.
        QTest::newRow("DONE before SENT") << Case{"big", "ACCEPT 1 0\nDONE 1\n", kUnexpectedAnswer + "DONE 1", stopped};
        QTest::newRow("ACCEPT out of order") << Case{"two", "ACCEPT 2 0\n", kUnexpectedAnswer + "ACCEPT 2 0", stopped};
        QTest::newRow("ACCEPT beyond the size") << Case{
            "", "ACCEPT 1 999\n", "The receiver asked to resume a.bin at byte 999, beyond its 10 bytes", stopped};
        QTest::newRow("verdict for an unknown number") << Case{"", "DONE 9\n", kUnexpectedAnswer + "DONE 9", stopped};
        QTest::newRow("one byte per write") << Case{"trickle", "", "", "Complete : a.bin (10 bytes)"};
        QTest::newRow("receiver closes mid-file") << Case{"close", "ACCEPT 1 0\n", "The receiver ", stopped};
    }
    void send()
    {
        QFETCH(Case, row);
        RunPeer l;
        QVERIFY(l.start("caps:run"));
        const bool big = row.how == "big" || row.how == "close";
        QMap<QString, qint64> files{{"a.bin", big ? 8 << 20 : 10}};
        if (row.how == "two")
            files.insert("b.bin", 10);
        QVERIFY2(l.sendFirst(files), qPrintable(l.log()));
        QTRY_VERIFY_WITH_TIMEOUT(l.cmd.all.contains("OFFER " + QByteArray::number(files.size()) + ' '), 10000);
        QVERIFY(l.cmd.all.startsWith("END_TRANSOFFER 1 " + QByteArray(big ? "32768 8388608" : "512 10") + " a.bin\n"));
        l.cmd.s->write(row.lines);
        if (row.how == "close") {
            QTRY_VERIFY_WITH_TIMEOUT(l.data.all.size() > (1 << 20), 10000);
            l.data.s->disconnectFromHost(), l.cmd.s->disconnectFromHost();
        } else if (row.how == "trickle") {
            trickle(l.cmd.s, "ACCEPT 1 0\n");
            QTRY_VERIFY_WITH_TIMEOUT(l.cmd.all.endsWith("SENT 1 -\n"), 10000);
            trickle(l.cmd.s, "DONE 1\n");
        }
        QVERIFY2(l.ended(row), qPrintable(l.log()));
        if (!big) // not a byte of a file not accepted
            QCOMPARE(l.data.all, "12345" + (row.how == "trickle" ? randomBytes(10, 10) : QByteArray()));
        // What the error ended goes back to the queue and is offered again as a single file;
        // a resume beyond the file is not tried again.
        if (row.error.isEmpty() || row.lines.startsWith("ACCEPT 1 999"))
            QVERIFY(!l.me.peer->queue().count());
        else
            QTRY_VERIFY_WITH_TIMEOUT(messagesIn(l.said).filter("|a.bin|").size() == 1, 10000);
        QVERIFY(l.usable());
        QCOMPARE(l.completes(), row.outcome.startsWith("Complete") ? 2 : 1);
    }

    // A peer that does not announce "run" (a plain one, or one with other words) is never
    // offered a run nor answered "RUN_READY", not even after a "frun" of its own.
    void withoutRun_data() { rowsOf<QString>("caps", {{"plain peer", QString()}, {"other words", "caps:utf8"}}); }
    void withoutRun()
    {
        QFETCH(QString, caps);
        RunPeer l;
        QVERIFY(l.start(caps));
        QVERIFY2(l.sendFirst({}, false), qPrintable(l.log()));
        QTRY_VERIFY_WITH_TIMEOUT(l.me.rec->contains("*** File Transfer Complete : first.bin (5 bytes)"), 10000);
        QVERIFY(!messagesIn(l.said).contains("frun"));
        l.ports.close();
        l.cmd = {}, l.data = {};
        QVERIFY2(l.receiveFirst(false), qPrintable(l.log()));
        QCOMPARE(l.cmd.all, QByteArray("ACCE_TRANGot All"));
        QCOMPARE(l.runs, 0);
    }
};

QTEST_GUILESS_MAIN(TestRunHostile)
#include "tst_run_hostile.moc"
