#include "core/Startup.h"
#include "support/Harness.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

class TestStartup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The forms of the switch, and a value of another option that holds it: tst_arguments.
    void debugSwitch_data()
    {
        columns<QStringList, bool>("args", "debug");
        QTest::newRow("home glued value") << QStringList{"zantiro", "--home=/tmp/debug"} << false;
        QTest::newRow("after a home value") << QStringList{"zantiro", "--home", "/tmp/debug", "/debug"} << true;
        QTest::newRow("program path") << QStringList{"/opt/debug/zantiro"} << false;
    }
    void debugSwitch()
    {
        auto [args, debug] = fetch<QStringList, bool>("args", "debug");
        QCOMPARE(Startup::debugSwitch(args, {"--home"}), debug);
    }

    void homeValue()
    {
        QCOMPARE(Startup::optionValue({"z", "--home", "/a/debug", "x"}, "--home"), QString("/a/debug"));
        QCOMPARE(Startup::optionValue({"z", "--home=/b"}, "--home"), QString("/b"));
        QCOMPARE(Startup::optionValue({"z", "--home"}, "--home"), QString());
    }

    void foldersCreatedOnce()
    {
        QTemporaryDir dir;
        QVERIFY(Startup::makeFolders(dir.path()).isEmpty());
        QVERIFY(QFileInfo(dir.filePath("log")).isDir() && QFileInfo(dir.filePath("download")).isDir());
        QVERIFY(writeFile(dir.filePath("log/keep.log"), "kept"));
        QVERIFY(Startup::makeFolders(dir.path()).isEmpty());
        QCOMPARE(readFile(dir.filePath("log/keep.log")), QByteArray("kept"));
        // A folder that cannot be made is named, and start-up goes on.
        QVERIFY(writeFile(dir.filePath("ro")));
        QCOMPARE(Startup::makeFolders(dir.filePath("ro")).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
