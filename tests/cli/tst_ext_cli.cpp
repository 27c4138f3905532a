#include "support/CliRun.h"

#include <QTemporaryDir>
#include <QTest>

// Two zantiro-cli: "/info" names the extensions both share, and --no-extensions makes one
// speak the plain protocol (chat in Windows-1252, with a line saying what could not go). A file
// the server sends as soon as the client logs in goes only once the client's "caps:" is known.
class TestExtCli : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void extensions_data()
    {
        columns<QStringList, QString, QString, QString>("clientArgs", "shared", "arrives", "saved");
        QTest::newRow("both with extensions") << QStringList{} << "utf8, verify, token, run, private"
                                              << QString::fromUtf8("日本語 😀 é €") << QString::fromUtf8("日本.txt");
        QTest::newRow("not private") << QStringList{"--private", "never"} << "utf8, verify, token, run"
                                     << QString::fromUtf8("日本語 😀 é €") << QString::fromUtf8("日本.txt");
        QTest::newRow("client --no-extensions")
            << QStringList{"--no-extensions"} << "none" << QString::fromUtf8("??? ?? é €") << "__.txt";
    }
    void extensions()
    {
        auto [clientArgs, shared, arrives, saved] =
            fetch<QStringList, QString, QString, QString>("clientArgs", "shared", "arrives", "saved");
        QTemporaryDir serverHome, clientHome;
        const QString file = serverHome.filePath(QString::fromUtf8("日本.txt"));
        QVERIFY(writeFile(file, "text"));
        Run r;
        QVERIFY(r.start({"--home", serverHome.path(), "--name", "S", "--send", file},
                        QStringList{"--home", clientHome.path(), "--name", "C", "--auto-accept", "--download",
                                    clientHome.filePath("in")}
                            + clientArgs));
        QTRY_VERIFY_WITH_TIMEOUT(r.serverLines().contains("*** Remote User Info Change (C)"), 10000);
        // The client's "caps:" follows its record; a ping's answer comes after both.
        r.server.write("/ping\n");
        QTRY_VERIFY_WITH_TIMEOUT(!r.serverLines().filter("*** Ping Reply").isEmpty(), 10000);
        r.client.write(QString::fromUtf8("日本語 😀 é €\n/info\n").toUtf8());
        r.server.write("/info\n");
        // The chat line may reach the server after its own /info answer.
        QTRY_VERIFY_WITH_TIMEOUT(!r.clientLines().filter("Extensions : ").isEmpty()
                                     && !r.serverLines().filter("Extensions : ").isEmpty()
                                     && !r.serverLines().filter("<C> ").isEmpty(),
                                 10000);
        const QString s = QString::fromUtf8(r.sOut), c = QString::fromUtf8(r.cOut);
        QVERIFY2(s.contains("Extensions : " + shared + "\n") && c.contains("Extensions : " + shared + "\n"),
                 qPrintable(s + c));
        QVERIFY2(s.contains("<C> " + arrives + "\n"), qPrintable(s));
        QCOMPARE(c.contains(QString::fromUtf8("they arrive as \"?\" : 日 本 語 😀")), shared == "none");
        QTRY_COMPARE_WITH_TIMEOUT(readFile(clientHome.filePath("in/" + saved)), QByteArray("text"), 10000);
        r.client.closeWriteChannel();
        r.server.closeWriteChannel();
        QVERIFY(r.client.waitForFinished(10000) && r.server.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestExtCli)
#include "tst_ext_cli.moc"
