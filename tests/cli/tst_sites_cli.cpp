#include "session/Session.h"
#include "support/Harness.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

// The headless peer's saved sites: --sites prints the tree, --site connects to one of them.
class TestSitesCli : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sites_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out"); // standard output, or a text standard error holds
        QTest::newRow("list") << QStringList{"--sites"} << 0
                              << "Sites\n  Friends\n    Inner\n      Bo\th:0\n    Anna\t127.0.0.1:PORT\n"
                                 "  Work\n  Top\t1.2.3.4:2000\n";
        QTest::newRow("connect") << QStringList{"--site", "Friends/Anna"} << 0 << "";
        QTest::newRow("unknown") << QStringList{"--site", "Work/Anna"} << 2 << "no saved site \"Work/Anna\"";
        QTest::newRow("a folder") << QStringList{"--site", "Friends"} << 2 << "no saved site \"Friends\"";
        QTest::newRow("no port") << QStringList{"--site", "Friends/Inner/Bo"} << 2 << "has no usable port";
    }
    void sites()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, out);
        QTemporaryDir home;
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, freePortTriple()));
        const QString port = QString::number(server.serverPort());
        QVERIFY(writeFile(home.filePath("qvsites.cfg"),
                          "Folder=Friends;Expanded;Parent=Sites;\r\nFolder=Work;Parent=Sites;\r\n"
                          "Folder=Inner;Parent=Friends;\r\nSite=Anna;IP=127.0.0.1;Port=" + port.toLatin1() +
                              ";Password=se cret;Parent=Friends;\r\nSite=Top;IP=1.2.3.4;Port=2000;Password=;"
                              "Parent=Sites;\r\nSite=Bo;IP=h;Port=0;Password=;Parent=Inner;\r\n"));
        QByteArray said;
        QObject::connect(&server, &QTcpServer::newConnection, [&] {
            QTcpSocket* s = server.nextPendingConnection();
            QObject::connect(s, &QTcpSocket::readyRead, [&said, s] { said += s->readAll(); });
        });
        QProcess p;
        p.start(qEnvironmentVariable("ZANTIRO_CLI"), QStringList{"--home", home.path()} + args);
        QVERIFY(p.waitForStarted());
        if (args.contains("Friends/Anna")) {
            QTRY_VERIFY_WITH_TIMEOUT(said.contains(Session::frame("PAuth:se cret")), 10000);
            p.write("/quit\n");
        }
        QTRY_COMPARE_WITH_TIMEOUT(p.state(), QProcess::NotRunning, 10000);
        QFETCH(int, exitCode);
        QCOMPARE(p.exitCode(), exitCode);
        if (p.exitCode() == 2)
            QVERIFY(p.readAllStandardError().contains(out.toUtf8()));
        else if (!out.isEmpty())
            QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()), out.replace("PORT", port));
    }
};

QTEST_GUILESS_MAIN(TestSitesCli)
#include "tst_sites_cli.moc"
