#include "support/Harness.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString cli()
{
    return qEnvironmentVariable("ZANTIRO_CLI");
}

// Output lines without their "[h:mm] " stamps.
QStringList lines(QProcess& p, QByteArray& seen)
{
    seen += p.readAllStandardOutput();
    QStringList out;
    for (const QByteArray& l : seen.split('\n')) {
        QString s = QString::fromUtf8(l);
        s.remove(QRegularExpression(R"(^\[\d{1,2}:\d\d\] )"));
        if (!s.isEmpty())
            out << s;
    }
    return out;
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("nothing") << QStringList{};
        QTest::newRow("both modes") << QStringList{"--listen", "2000", "--connect", "h:1"};
        QTest::newRow("port not a number") << QStringList{"--listen", "abc"};
        QTest::newRow("no port") << QStringList{"--connect", "localhost"};
        QTest::newRow("port too high") << QStringList{"--listen", "65534"};
        QTest::newRow("unknown flag") << QStringList{"--listen", "2000", "--frobnicate"};
        QTest::newRow("value missing") << QStringList{"--listen", "2000", "--name"};
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        QProcess p;
        p.start(cli(), args);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("usage: zantiro-cli"));
        QVERIFY(p.readAllStandardOutput().isEmpty());
    }

    void twoPeersChatAndQuit()
    {
        QTemporaryDir home1, home2;
        const quint16 port = freePortTriple();
        QProcess server, client;
        QByteArray sOut, cOut;
        // A home path holding "/debug" does not switch debug mode on.
        QVERIFY(QDir(home1.path()).mkpath("debug"));
        server.start(cli(), {"--home", home1.filePath("debug"), "--listen", QString::number(port),
                             "--require-password", "Secret", "--name", "Ann"});
        QVERIFY(server.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(lines(server, sOut).contains("*** Waiting on Port : " + QString::number(port)),
                                 10000);
        client.start(cli(), {"--home", home2.path(), "--connect", "127.0.0.1:" + QString::number(port),
                             "--password", "Secret", "--name", "Bob"});
        QVERIFY(client.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(lines(client, cOut).contains("*** Remote User Info Change (Ann)"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(lines(server, sOut).contains("*** Remote User Info Change (Bob)"), 10000);

        client.write(QString::fromUtf8("h\u00e9llo \u20ac\n").toUtf8());
        QTRY_VERIFY_WITH_TIMEOUT(lines(server, sOut).contains(QString::fromUtf8("<Bob> h\u00e9llo \u20ac")), 10000);
        QVERIFY(lines(client, cOut).contains(QString::fromUtf8("<Bob> h\u00e9llo \u20ac")));
        server.write("hi Bob\n/ping\n");
        QTRY_VERIFY_WITH_TIMEOUT(lines(client, cOut).contains("<Ann> hi Bob"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(lines(server, sOut).filter(QRegularExpression(R"(^\*\*\* Ping Reply  : [\d.]+ Sec$)"))
                                         .size() == 1,
                                 10000);

        client.write("/quit\n");
        QVERIFY(client.waitForFinished(10000));
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(client.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(lines(server, sOut).contains("*** User Disconnected"), 10000);
        server.closeWriteChannel(); // end of input acts as /quit
        QVERIFY(server.waitForFinished(10000));
        QCOMPARE(server.exitCode(), 0);
        QVERIFY(!lines(server, sOut).contains("QVDEBUG ACTIVATED"));
        // The option file was written, without this run's overrides.
        QVERIFY(QFile::exists(home1.filePath("debug/qvcfg.cfg")));
        QVERIFY(QDir(home2.path()).exists("download") && QDir(home2.path()).exists("log"));
    }

    void badPasswordAndDebug()
    {
        QTemporaryDir home1, home2;
        const quint16 port = freePortTriple();
        QProcess server, client;
        QByteArray sOut, cOut;
        server.start(cli(), {"--home", home1.path(), "--listen", QString::number(port), "--require-password", "a"});
        QVERIFY(server.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!lines(server, sOut).isEmpty(), 10000);
        client.start(cli(), {"--home", home2.path(), "/DEBUG", "--connect", "127.0.0.1:" + QString::number(port),
                             "--password", "A"});
        QVERIFY(client.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(lines(client, cOut).contains("*** Login Failed (Bad Password)"), 10000);
        QVERIFY(lines(client, cOut).first() == "QVDEBUG ACTIVATED");
        QTRY_VERIFY_WITH_TIMEOUT(lines(server, sOut).contains("*** User Submitted Bad Password (A)"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(lines(client, cOut).contains("*** Disconnected"), 10000);
        client.closeWriteChannel();
        server.closeWriteChannel();
        QVERIFY(client.waitForFinished(10000) && server.waitForFinished(10000));
        QCOMPARE(client.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
