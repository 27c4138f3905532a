// Files of every size class move byte-identical while the sender writes pieces far larger than
// the offered block: to a peer of this program (private and not), to and from a peer that reads
// the data connection however TCP cuts it, fresh and resumed after a cut inside a piece; a data
// connection lost inside a piece is reported with the bytes that came.
#include "support/RawPeer.h"
#include "support/TransferPair.h"

#include "transfer/FileSender.h"
#include "transfer/TransferRules.h"

#include <QTest>

namespace {

constexpr qint64 kPiece = FileSender::pieceSize;

// One case: the file's size, who the other peer is and where an earlier try was cut (-1: none).
struct Row {
    qint64 size;
    QString peer; // "private", "plain", "strict receiver", "strict sender"
    qint64 cut;
};

qint64 blockOf(qint64 size)
{
    return TransferRules::offerBlockField(size).toLongLong();
}

// The raw side receives our peer's offer of f.bin: answers (a resume at `offset`, or an
// acceptance), takes the data connection and reads until `stopAt` bytes came (then resets it)
// or the file is through (then "Got All", "END_TRANS" and the close). What came is returned.
// Commands are taken one a chunk, as such a peer reads them.
QByteArray strictReceive(StrictPeer& l, QTcpServer& dataPort, qint64 size, qint64 offset, qint64 stopAt = -1)
{
    Chunked cmd, data;
    cmd.connectTo(l.port + 1);
    if (!QTest::qWaitFor([&] { return cmd.up(); }, 5000))
        return "<no command connection>";
    cmd.s->write(offset > 0 ? "RESUME_TR" + QByteArray::number(offset) : QByteArray("ACCE_TRAN"));
    if (!QTest::qWaitFor([&] { return dataPort.hasPendingConnections(); }, 5000))
        return "<no data connection>";
    data.attach(dataPort.nextPendingConnection());
    if (stopAt >= 0) {
        if (!QTest::qWaitFor([&] { return data.all.size() >= stopAt; }, 10000))
            return "<too few bytes>";
        data.reset();
        return data.all;
    }
    if (size > offset) {
        if (!QTest::qWaitFor([&] { return data.all.size() >= size - offset; }, 10000))
            return "<too few bytes>";
        cmd.s->write("Got All");
    }
    if (!QTest::qWaitFor([&] { return cmd.chunks.contains("END_TRANS"); }, 5000))
        return "<no END_TRANS>";
    cmd.s->disconnectFromHost();
    if (!QTest::qWaitFor([&] { return l.me.rec->indexStarting("*** File Transfer ") >= 0; }, 5000))
        return "<no outcome>";
    return data.all; // a byte beyond the file would show here too
}

// The raw side offers f.bin and sends `bytes` from the offset our peer answers with, in
// writes that do not follow any block; with `stopAt` it closes the data connection right after
// that many bytes. Returns the offset our peer asked for (-1 when it did not answer).
qint64 strictSend(StrictPeer& l, const QByteArray& bytes, qint64 stopAt = -1)
{
    QTcpServer commandPort;
    if (!commandPort.listen(QHostAddress::LocalHost, l.port + 1))
        return -1;
    l.say(QStringLiteral("file:%1|f.bin|%2|%3").arg(l.port + 1).arg(blockOf(bytes.size())).arg(bytes.size()));
    if (!QTest::qWaitFor([&] { return commandPort.hasPendingConnections(); }, 5000))
        return -1;
    Chunked cmd, data;
    cmd.attach(commandPort.nextPendingConnection());
    // Our peer writes its answer at once: on loopback it arrives whole.
    if (!QTest::qWaitFor(
            [&] { return cmd.all == "ACCE_TRAN" || (cmd.all.startsWith("RESUME_TR") && cmd.all.size() > 9); }, 5000))
        return -1;
    const qint64 offset = cmd.all.startsWith("RESUME_TR") ? cmd.all.mid(9).toLongLong() : 0;
    data.connectTo(l.port + 2);
    if (!QTest::qWaitFor([&] { return data.up(); }, 5000))
        return -1;
    const QByteArray rest = bytes.mid(offset, stopAt >= 0 ? stopAt - offset : -1);
    for (qint64 at = 0; at < rest.size(); at += 100003)
        data.s->write(rest.mid(at, 100003));
    if (stopAt >= 0) {
        data.s->disconnectFromHost(); // right behind the bytes: they still count
    } else if (QTest::qWaitFor([&] { return cmd.chunks.contains("Got All"); }, 10000)) {
        cmd.s->write("END_TRANS");
    }
    if (!QTest::qWaitFor([&] { return l.me.rec->indexStarting("*** File Transfer ") >= 0; }, 5000))
        return -1;
    return offset;
}

} // namespace

Q_DECLARE_METATYPE(Row)

class TestSizes : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sizes_data()
    {
        QTest::addColumn<Row>("row");
        const qint64 sizes[] = {
            0, 1, 511, 512, 513, 8191, 8192, 8193, 32767, 32768, 3 * 1024 * 1024 + 7, 2 * kPiece + 12345};
        for (const char* peer : {"private", "plain", "strict receiver", "strict sender"}) {
            for (qint64 size : sizes) {
                QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(peer).arg(size))) << Row{size, peer, -1};
                // An earlier try ended inside a piece (inside the second one where there is one).
                const qint64 cut = size > 2 * kPiece ? kPiece + kPiece / 2 + 77 : size * 2 / 3 + 1;
                if (size >= 8192 && QLatin1String(peer) != "strict sender")
                    QTest::newRow(qPrintable(QStringLiteral("%1, %2, resumed at a cut").arg(peer).arg(size)))
                        << Row{size, peer, cut};
            }
        }
    }
    void sizes()
    {
        QFETCH(Row, row);
        const auto& [size, peer, cut] = row;
        const QByteArray bytes = randomBytes(size, static_cast<quint32>(size + 3));
        const qint64 resume = cut < 0 ? 0 : TransferRules::resumeOffset(cut, blockOf(size), size);
        const QString complete = QStringLiteral("*** File Transfer Complete : f.bin (%1 bytes)").arg(size);
        if (peer.startsWith("strict")) {
            StrictPeer l;
            QVERIFY(l.start());
            if (peer == "strict sender") {
                QCOMPARE(strictSend(l, bytes), 0);
                QCOMPARE(readFile(l.down + "/f.bin"), bytes);
            } else {
                QTcpServer dataPort;
                QVERIFY(dataPort.listen(QHostAddress::LocalHost, l.port + 2));
                QVERIFY(l.me.peer->transfers().offerFile(l.sendPath("f.bin", bytes), "f.bin"));
                QTRY_VERIFY_WITH_TIMEOUT(
                    l.heard(QStringLiteral("file:%1|f.bin|%2|%3").arg(l.port + 1).arg(blockOf(size)).arg(size)), 5000);
                QCOMPARE(bytes.left(resume) + strictReceive(l, dataPort, size, resume), bytes);
            }
            QVERIFY2(l.me.rec->contains(complete), qPrintable(l.log()));
            QVERIFY(!l.me.ctx->transferBusy);
            return;
        }
        TransferPair p;
        qint64 resumedAt = -1, pieces = -1;
        int views = 0;
        TransferView last; // the sender's window
        QObject::connect(&p.b.peer->transfers(), &TransferManager::transferStarted, [&](FileTransfer* t) {
            QObject::connect(t, &FileTransfer::finished, [&resumedAt, t] { resumedAt = t->resumeSize(); });
        });
        QObject::connect(&p.a.peer->transfers(), &TransferManager::transferStarted, [&](FileTransfer* t) {
            QObject::connect(t, &FileTransfer::viewChanged, [&views, &last, t] { ++views, last = t->view(); });
            QObject::connect(t, &FileTransfer::finished,
                             [&pieces, t] { pieces = qobject_cast<FileSender*>(t)->blocksSent(); });
        });
        if (peer == "plain")
            p.a.ctx->settings.privateMode = p.b.ctx->settings.privateMode = PrivateMode::Never;
        QVERIFY(writeFile(p.srcPath("f.bin"), bytes));
        if (cut >= 0) {
            QVERIFY(writeFile(p.downPath("f.bin"), bytes.left(cut)));
            p.askB->existsReplies.push_back({ExistingFileChoice::Resume, false, {}});
        }
        QVERIFY(p.connect());
        QCOMPARE(p.a.peer->session().isPrivate(), peer == "private");
        QVERIFY(p.send("f.bin"));
        QCOMPARE(readFile(p.downPath("f.bin")), bytes);
        QCOMPARE(resumedAt, resume);
        QVERIFY2(p.a.rec->contains(complete), qPrintable(p.a.rec->text()));
        QVERIFY2(p.b.rec->contains(complete), qPrintable(p.b.rec->text()));
        // Pieces, not blocks: only the rest went out, in as many writes as it has pieces.
        QCOMPARE(pieces, (size - resume + kPiece - 1) / kPiece);
        QVERIFY(p.endedA.first().complete && p.endedB.first().complete);
        QVERIFY(!p.a.ctx->transferBusy && !p.b.ctx->transferBusy);
        // The view is refreshed a bounded number of times, never once a block.
        QVERIFY2(views < 30, qPrintable(QString::number(views)));
        QCOMPARE((QStringList{last.movedText, last.percentText, last.title}),
                 (QStringList{QStringLiteral("Total Sent : %1").arg(size), "100%", "Sending"}));
        QVERIFY(last.visible && !last.running);
    }

    // The data connection is lost inside a piece: the side that sees it says after how many
    // bytes, and the file resumes from what arrived.
    void lostInsidePiece_data()
    {
        rowsOf<bool>("weSend", {{"our sender, the receiver resets", true}, {"our receiver, the sender closes", false}});
    }
    void lostInsidePiece()
    {
        QFETCH(bool, weSend);
        // Sending, more than the system holds in its buffers, so that a receiver that stops
        // reading stops the sender long before the end.
        const qint64 size = (weSend ? 128 : 3) * kPiece + 5;
        const qint64 stopAt = (weSend ? 4 : 1) * kPiece + 1000; // inside a piece
        const QByteArray bytes = randomBytes(size, 11);
        StrictPeer l;
        QVERIFY(l.start());
        QString error;
        QByteArray got;
        if (weSend) {
            QTcpServer dataPort;
            QVERIFY(dataPort.listen(QHostAddress::LocalHost, l.port + 2));
            const QString path = l.sendPath("f.bin", bytes);
            QVERIFY(l.me.peer->transfers().offerFile(path, "f.bin"));
            got = strictReceive(l, dataPort, size, 0, stopAt);
            QVERIFY(got.size() >= stopAt && got.size() < size && bytes.startsWith(got));
            error = "*** Error : The receiver reset the data connection after ";
            QTRY_VERIFY2_WITH_TIMEOUT(l.me.rec->contains("*** File Transfer Stopped By Error : f.bin"),
                                      qPrintable(l.log()), 5000);
            QVERIFY2(l.me.rec->indexStarting(error) >= 0, qPrintable(l.log()));
            QTRY_VERIFY_WITH_TIMEOUT(!l.me.ctx->transferBusy, 5000);
            l.me.rec->lines.clear();
            QVERIFY(l.me.peer->transfers().offerFile(path, "f.bin"));
            const qint64 resume = TransferRules::resumeOffset(got.size(), blockOf(size), size);
            QVERIFY(resume > 0);
            QCOMPARE(got.left(resume) + strictReceive(l, dataPort, size, resume), bytes);
        } else {
            QCOMPARE(strictSend(l, bytes, stopAt), 0);
            error = QStringLiteral("*** Error : The sender closed the data connection after %1 of %2 bytes : f.bin")
                        .arg(stopAt)
                        .arg(size);
            QVERIFY2(l.me.rec->contains(error), qPrintable(l.log()));
            QVERIFY2(l.me.rec->contains("*** File Transfer Stopped By Error : f.bin"), qPrintable(l.log()));
            QCOMPARE(readFile(l.down + "/f.bin"), bytes.left(stopAt));
            QTRY_VERIFY_WITH_TIMEOUT(!l.me.ctx->transferBusy, 5000);
            l.me.rec->lines.clear();
            l.me.ctx->options.existingFileDefault = static_cast<int>(ExistingFileChoice::Resume);
            QCOMPARE(strictSend(l, bytes), TransferRules::resumeOffset(stopAt, blockOf(size), size));
            QCOMPARE(readFile(l.down + "/f.bin"), bytes);
        }
        QVERIFY2(l.me.rec->contains(QStringLiteral("*** File Transfer Complete : f.bin (%1 bytes)").arg(size)),
                 qPrintable(l.log()));
    }
};

QTEST_GUILESS_MAIN(TestSizes)
#include "tst_sizes.moc"
