#include "support/Harness.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// The own record given on the command line reaches the other zantiro-cli, which prints it
// with "/info".
class TestInfoCli : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void info_data()
    {
        QTest::addColumn<QStringList>("serverArgs");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("option file's record")
            << QStringList{}
            << QStringList{"Name : <No Name>", "E-Mail : <No E-mail Specified>", "Homepage : <No Homepage Specified>",
                           "Age : ##"};
        // A ";" in the first three fields would shift the others: it goes as ","; the home
        // page keeps its own. Control characters are shown written out.
        QTest::newRow("overrides") << QStringList{"--name", "<b>Ann;X</b>\t", "--email", "a;n@x", "--age", "3;4",
                                                  "--homepage", "http://h/a;b\x1b"}
                                   << QStringList{"Name : <b>Ann,X</b>\\t", "E-Mail : a,n@x",
                                                  "Homepage : http://h/a;b\\x1b", "Age : 3,4"};
    }
    void info()
    {
        QFETCH(QStringList, serverArgs);
        QFETCH(QStringList, expected);
        QTemporaryDir sHome, cHome;
        const QString port = QString::number(freePortTriple());
        const QString cli = qEnvironmentVariable("ZANTIRO_CLI");
        QProcess server, client;
        QByteArray sOut, cOut;
        server.start(cli, QStringList{"--home", sHome.path(), "--listen", port} + serverArgs);
        QVERIFY(server.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT((sOut += server.readAllStandardOutput()).contains("*** Waiting on Port"), 10000);
        client.start(cli, {"--home", cHome.path(), "--connect", "127.0.0.1:" + port});
        QVERIFY(client.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT((cOut += client.readAllStandardOutput()).contains("*** Remote User Info Change ("),
                                 10000);
        client.write("/info\n");
        QTRY_VERIFY_WITH_TIMEOUT((cOut += client.readAllStandardOutput()).contains("Age : "), 10000);
        client.closeWriteChannel();
        server.closeWriteChannel();
        QVERIFY(client.waitForFinished(10000));
        QVERIFY(server.waitForFinished(10000));
        cOut += client.readAllStandardOutput();
        const QStringList out = QString::fromUtf8(cOut).split('\n');
        const qsizetype at = out.indexOf(expected[0]);
        QVERIFY2(at >= 0, cOut.constData());
        QCOMPARE(out.mid(at, 4), expected);
    }
};

QTEST_GUILESS_MAIN(TestInfoCli)
#include "tst_info_cli.moc"
