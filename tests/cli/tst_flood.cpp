#include "session/Session.h"
#include "support/Harness.h"

#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

constexpr qint64 MiB = 1 << 20;

// Resident memory of a process in bytes, 0 once it is gone.
qint64 residentBytes(qint64 pid)
{
    const QByteArray status = readFile(QStringLiteral("/proc/%1/status").arg(pid));
    const qsizetype at = status.indexOf("VmRSS:");
    if (at < 0)
        return 0;
    return status.mid(at + 6, status.indexOf('\n', at) - at - 6).trimmed().split(' ').first().toLongLong() * 1024;
}

// A message of exactly one MiB on the wire: prefix and filler.
QByteArray mebiMessage(const QString& prefix)
{
    return Session::frame(prefix + QString(MiB - prefix.size(), QLatin1Char('x')));
}

// `chunk` is sent `chunks` times, then "bye"; `shown` is a line the flood shows.
struct Flood {
    bool login;
    QByteArray chunk;
    int chunks;
    QString shown;
    int minShown, maxShown;
    qint64 maxLog;  // bytes; -1: no bound
    bool throttled; // answers must have been left out
};

} // namespace

Q_DECLARE_METATYPE(Flood)

// A peer that floods the headless peer's control connection, before and after logging in:
// the headless peer keeps working in bounded memory and its log stays small.
class TestFlood : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void floodStaysBounded_data()
    {
        QTest::addColumn<Flood>("row");
        // 100 are enough to pass the bound many times over without a bounded reader, and few
        // enough to end well within the login bound even in a sanitizer build.
        QTest::newRow("wrong passwords") << Flood{
            false, mebiMessage("PAuth:"), 100, "*** User Submitted Bad Password (1048570 characters)", 1, 100, MiB,
            false};
        QTest::newRow("chat lines") << Flood{true, mebiMessage("msg:"), 40, "<<No Name Specified>> xxxx", 40, 40, -1,
                                             false};
        const QByteArray ping = Session::frame("ping");
        QTest::newRow("pings") << Flood{false, ping.repeated(MiB / ping.size()), 13, "*** Received Ping", 1, 20000, MiB,
                                        true};
        const QByteArray notices = Session::frame("stat:a flood") + Session::frame("gotping")
                                   + Session::frame("uinfo:Eve;e;1;h") + Session::frame("file:2001|f.bin|1|1");
        QTest::newRow("notices and offers")
            << Flood{true, notices.repeated(MiB / notices.size()), 4, "a flood", 1, 20000, MiB, true};
    }
    void floodStaysBounded()
    {
        QFETCH(Flood, row);
        const auto& [login, chunk, chunks, shown, minShown, maxShown, maxLog, throttled] = row;
        QTemporaryDir home;
        const QString out = home.filePath("stdout.txt");
        const QString port = QString::number(freePortTriple());
        QProcess cli;
        cli.setStandardOutputFile(out);
        // Under AddressSanitizer, freed memory held back in its quarantine would count as resident.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":quarantine_size_mb=0");
        cli.setProcessEnvironment(env);
        cli.start(qEnvironmentVariable("ZANTIRO_CLI"),
                  {"--home", home.path(), "--listen", port, "--require-password", "pw"});
        QVERIFY(cli.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(readFile(out).contains("*** Waiting on Port : " + port.toUtf8()), 10000);

        qint64 peak = 0;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, this, [&] { peak = std::max(peak, residentBytes(cli.processId())); });
        sampler.start(5);

        QTcpSocket raw;
        raw.connectToHost(QHostAddress::LocalHost, port.toUShort());
        QVERIFY(raw.waitForConnected(10000));
        if (login)
            raw.write(Session::frame("PAuth:pw"));
        // Keeps a few MiB queued here until everything is out; the peer reads at its pace.
        int left = chunks;
        auto topUp = [&, &chunk = chunk] {
            while (left > 0 && raw.bytesToWrite() < 4 * MiB) {
                raw.write(chunk);
                if (--left == 0)
                    raw.write(Session::frame("bye"));
            }
        };
        connect(&raw, &QTcpSocket::bytesWritten, this, topUp);
        topUp();
        // The peer closes on "bye", which comes after everything else.
        QTRY_VERIFY_WITH_TIMEOUT(raw.state() == QAbstractSocket::UnconnectedState, 120000);
        sampler.stop();
        const qint64 after = residentBytes(cli.processId());
        cli.closeWriteChannel();
        QVERIFY(cli.waitForFinished(20000));
        QCOMPARE(left, 0);

        const QByteArray lines = readFile(out);
        QVERIFY2(lines.contains("*** User Disconnected\n"), lines.right(2000).constData());
        QVERIFY2(!lines.contains("*** Error"), lines.right(2000).constData());
        const qsizetype count = lines.count(shown.toUtf8());
        const qint64 logSize = QFileInfo(home.filePath("log/QvLogs.log")).size();
        qDebug("peak %lld KiB, after %lld KiB, %lld lines shown, log %lld KiB", peak / 1024, after / 1024,
               qint64(count), logSize / 1024);
        QVERIFY2(count >= minShown && count <= maxShown, QByteArray::number(count).constData());
        // Left-out answers are reported once per burst, not once each.
        const qsizetype notices = lines.count("*** The other side sends faster than it is answered");
        QVERIFY2(notices <= 3 && (!throttled || notices >= 1), QByteArray::number(notices).constData());
        QVERIFY2(peak > 0 && peak < 64 * MiB, QByteArray::number(peak).constData());
        if (maxLog >= 0)
            QVERIFY2(logSize > 0 && logSize < maxLog, QByteArray::number(logSize).constData());
    }
};

QTEST_GUILESS_MAIN(TestFlood)
#include "tst_flood.moc"
