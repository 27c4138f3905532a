#include "support/Harness.h"

#include "session/Session.h"
#include "transfer/ScriptedPrompts.h"
#include "transfer/Transfers.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray randomBytes(qint64 n, quint32 seed)
{
    QByteArray b(n, Qt::Uninitialized);
    QRandomGenerator g(seed);
    for (qint64 i = 0; i < n; ++i)
        b[i] = static_cast<char>(g.generate() & 0xFF);
    return b;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Short bounds so that every wait of a test ends quickly.
void shorten(Context& ctx)
{
    TransferTimeouts& t = ctx.transfers().timeouts;
    t.acceptMs = t.blockMs = t.gotAllMs = t.cancelAckMs = t.closeMs = 3000;
    ctx.transfers().busyWaitMs = 3000;
}

// Two logged-in peers: a sends, b receives with scripted questions.
struct Pair {
    TestPeer a{QStringLiteral("Ann")};
    TestPeer b{QStringLiteral("Bob")};
    ScriptedPrompts* askA = nullptr;
    ScriptedPrompts* askB = nullptr;
    QList<TransferOutcome> endedA, endedB;
    QString src;  // a folder of files to send
    QString down; // b's download folder

    Pair()
    {
        for (TestPeer* p : {&a, &b}) {
            auto prompts = std::make_unique<ScriptedPrompts>();
            (p == &a ? askA : askB) = prompts.get();
            p->ctx->setPrompts(std::move(prompts));
            shorten(*p->ctx);
        }
        QObject::connect(&a.ctx->transfers(), &Transfers::transferEnded,
                         [this](const TransferOutcome& o) { endedA << o; });
        QObject::connect(&b.ctx->transfers(), &Transfers::transferEnded,
                         [this](const TransferOutcome& o) { endedB << o; });
        src = a.home.filePath("src");
        QDir().mkpath(src);
        down = b.ctx->options.DownloadDir;
        QDir().mkpath(down);
        b.ctx->options.AutoAccept = true;
    }
    bool connect()
    {
        const quint16 port = freePortTriple();
        a.listen(port);
        b.connectTo(port);
        return QTest::qWaitFor([this] { return a.rec->contains("*** Remote User Info Change (Bob)") &&
                                               b.rec->contains("*** Remote User Info Change (Ann)"); },
                               5000);
    }
    // Offers a file of a's source folder and waits until both sides ended.
    bool send(const QString& name, int timeoutMs = 10000)
    {
        const int na = endedA.size(), nb = endedB.size();
        if (!a.ctx->transfers().offerFile(QDir(src).filePath(name), name))
            return false;
        return QTest::qWaitFor([&] { return endedA.size() > na && endedB.size() > nb; }, timeoutMs);
    }
    QString srcPath(const QString& name) const { return QDir(src).filePath(name); }
    QString downPath(const QString& name) const { return QDir(down).filePath(name); }
};

} // namespace

class TestTransfer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sizes_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("blocks");
        for (qint64 n : {0, 1, 300, 301, 512, 8192, 8193, 32767, 32768, 3 * 1024 * 1024 + 7})
            QTest::newRow(qPrintable(QString::number(n)))
                << n << qint64(n == 0 ? 0 : n == 1 ? 1 : n == 300 ? 2 : n == 301 ? 3 : n == 512 ? 2 : n == 8192 ? 16 : n == 8193 ? 2 : -1);
    }
    void sizes()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, blocks);
        Pair p;
        QVERIFY(p.connect());
        const QByteArray data = randomBytes(size, static_cast<quint32>(size + 1));
        writeFile(p.srcPath("f.bin"), data);
        QSignalSpy started(&p.a.ctx->transfers(), &Transfers::transferStarted);
        QVERIFY(p.send("f.bin"));
        QCOMPARE(started.size(), 1);
        QCOMPARE(readFile(p.downPath("f.bin")), data);
        const QString done = QStringLiteral("*** File Transfer Complete : f.bin (%1 bytes)").arg(size);
        QCOMPARE(p.a.rec->count(done), 1);
        QCOMPARE(p.b.rec->count(done), 1);
        QVERIFY(p.endedA.first().complete && p.endedB.first().complete);
        QVERIFY(!p.a.ctx->TransferBusy && !p.b.ctx->TransferBusy);
        Q_UNUSED(blocks);
    }
};

QTEST_GUILESS_MAIN(TestTransfer)
#include "tst_transfer.moc"
