#include "config/Options.h"
#include "config/Scramble.h"
#include "support/Harness.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QList<QByteArray> plainLines(const QString& path)
{
    const QByteArray data = readFile(path);
    QList<QByteArray> out;
    for (qsizetype start = 0, end; (end = data.indexOf("\r\n", start)) >= 0; start = end + 2)
        out << unscramble(data.mid(start, end - start));
    return out;
}

bool writeLines(const QString& path, const QList<QByteArray>& plain)
{
    QByteArray bytes;
    for (const QByteArray& l : plain)
        bytes += scramble(l) + "\r\n";
    return writeFile(path, bytes);
}

// lineCount plain lines that read as a valid file: numbers where numbers belong, "v" elsewhere.
QList<QByteArray> validLines(int lineCount, const QByteArray& flags = "0")
{
    QList<QByteArray> lines;
    for (int i = 1; i <= lineCount; ++i)
        lines << (i == 2 || i == 17 ? QByteArray("1") : i == 31 ? flags : QByteArray("v"));
    return lines;
}

} // namespace

class TestOptions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scrambleRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<QByteArray>("scrambled"); // empty: only the round trip is checked
        QTest::newRow("empty") << QByteArray() << QByteArray();
        // x1..x5 -> x4 x2 x1 x3 x5, each shifted by 177 modulo 255
        QTest::newRow("five") << QByteArray("12345") << QByteArray("\xE5\xE3\xE2\xE4\xE6");
        QTest::newRow("to line feed") << QByteArray("X") << QByteArray("\n");
        QTest::newRow("to carriage return") << QByteArray("[") << QByteArray("\r");
        QByteArray all;
        for (int c = 0; c < 256; ++c)
            all.append(static_cast<char>(c));
        QTest::newRow("every byte, even length") << all << QByteArray();
    }
    void scrambleRoundTrip()
    {
        auto [plain, scrambled] = fetch<QByteArray, QByteArray>("plain", "scrambled");
        const QByteArray s = ::scramble(plain);
        QCOMPARE(s.size(), plain.size());
        if (!scrambled.isEmpty())
            QCOMPARE(s, scrambled);
        QCOMPARE(::unscramble(s), QByteArray(plain).replace('\xFF', '\0')); // code 255 comes back as 0
    }

    // Every option survives a save and a load. A text the file cannot hold ("[" scrambles to a
    // carriage return, which would split its line; code 255 comes back as 0; others have no
    // Windows-1252 code) keeps what the file held, or with no file yet what a missing file
    // reads as; a folder reads back as the one beside the program. Each refusal is reported.
    void saveAndLoad()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("qvcfg.cfg");
        Options o;
        o.setDefaults(dir.path());
        o.logFolder = "/var/log/z/", o.logMode = 4, o.boxLayout = "1", o.windowPosition = "1";
        o.connectColor = "1", o.errorColor = "2", o.messageColor = "3", o.statusColor = "16777215";
        o.mainHeight = "6000", o.mainWidth = "7000", o.queueHeight = "100", o.queueWidth = "200";
        o.sitesHeight = "300", o.sitesWidth = "400", o.existingFileDefault = 3,
        o.connectionType = ConnectionMode::Server;
        o.downloadFolder = "/home/x/Downloads", o.lastSendFolder = "/home/x", o.reservedText = "keep me";
        o.serverFilePort = "3001", o.serverPort = "3000", o.serverPassword = QString::fromUtf8("p\u00e4ss \u20ac;|X");
        o.myAge = "42", o.myEmail = "ann@example.org", o.myName = "Xavier";
        o.myHomePage = "http://example.org/~ann/a?b=1&c=%20#top;x";
        o.clientAddress = "10.0.0.7", o.clientFilePort = "4001", o.clientPort = "4000", o.clientPassword = "";
        o.setConfigFlags(32735);
        QCOMPARE(ConfigFile::save(path, o), QString());
        Options back;
        QCOMPARE(ConfigFile::load(path, dir.path(), back), QString());
        QVERIFY(back == o);
        QCOMPARE(back.configFlags(), 32735);
        o.setConfigFlags(0);
        QCOMPARE(ConfigFile::save(path, o), QString());
        QCOMPARE(ConfigFile::load(path, dir.path(), back), QString());
        QVERIFY(!back.showChatBar && !back.timeStamps && !back.messageBlink && !back.catcherOnTop);

        o.serverPassword = "new[1]";
        o.clientPassword = QString::fromUtf8("\u00ff");
        o.myName = QString::fromUtf8("\u0141ukasz");
        o.myAge = "7";
        o.downloadFolder = dir.filePath("[dl]");
        o.logFolder = dir.filePath("logs") + "/";
        const QString msg = ConfigFile::save(path, o);
        QVERIFY2(msg.startsWith("Close Config Error : "), qPrintable(msg));
        for (const char* name : {"ServerPassword", "ClientPassword", "MyName", "DownloadDir"})
            QVERIFY2(msg.contains(QLatin1String(name)), qPrintable(msg));
        QVERIFY2(!msg.contains("LogDir") && !msg.contains("MyAge"), qPrintable(msg));
        QCOMPARE(plainLines(path).size(), 31);
        QCOMPARE(ConfigFile::load(path, dir.path(), back), QString());
        QCOMPARE((QStringList{back.serverPassword, back.clientPassword, back.myName, back.myAge, back.downloadFolder,
                              back.logFolder}),
                 (QStringList{QString::fromUtf8("p\u00e4ss \u20ac;|X"), "", "Xavier", "7", dir.filePath("download"),
                              dir.filePath("logs") + "/"}));
        QVERIFY(QFile::remove(path));
        QVERIFY(ConfigFile::save(path, o).contains("ServerPassword"));
        QCOMPARE(ConfigFile::load(path, dir.path(), back), QString());
        QCOMPARE(back.serverPassword, QString("password"));
    }

    void badFiles_data()
    {
        // badLine: 0 = none
        columns<int, int, QByteArray, QString>("lineCount", "badLine", "badValue", "messageStart");
        QTest::newRow("30 lines") << 30 << 0 << QByteArray() << "Open Config Error : 62 - ";
        QTest::newRow("LogMode not a number") << 31 << 2 << QByteArray("three") << "Open Config Error : 13 - ";
        QTest::newRow("flags not a number") << 31 << 31 << QByteArray("x1") << "Open Config Error : 13 - ";
        QTest::newRow("31 lines, fine") << 31 << 0 << QByteArray() << "";
        // A line feed in a scrambled line stays part of it ("X" scrambles to one).
        QTest::newRow("line feed inside a line") << 31 << 25 << QByteArray("XaX") << "";
        // A file written without the guard still reads by the line rule: "[" scrambles to a
        // carriage return, the split line shifts the rest, and line 31 holds "v", no number.
        QTest::newRow("carriage return splits a line") << 31 << 25 << QByteArray("a[b") << "Open Config Error : 13 - ";
    }
    void badFiles()
    {
        auto [lineCount, badLine, badValue, messageStart] =
            fetch<int, int, QByteArray, QString>("lineCount", "badLine", "badValue", "messageStart");
        QTemporaryDir dir;
        QList<QByteArray> lines = validLines(lineCount);
        if (badLine)
            lines[badLine - 1] = badValue;
        QVERIFY(writeLines(dir.filePath("qvcfg.cfg"), lines));
        Options o;
        const QString msg = ConfigFile::load(dir.filePath("qvcfg.cfg"), dir.path(), o);
        if (messageStart.isEmpty())
            QVERIFY2(msg.isEmpty(), qPrintable(msg));
        else
            QVERIFY2(msg.startsWith(messageStart), qPrintable(msg));
        Options defaults;
        defaults.setDefaults(dir.path());
        if (!messageStart.isEmpty()) {
            QVERIFY(o == defaults); // also the options already read
        } else {
            QCOMPARE(o.myName, QString::fromLatin1(lines[24]));
            QCOMPARE(o.logMode, 1);
            QCOMPARE(o.configFlags(), 0);
        }
    }

    // A missing file reads as the defaults, and the first save writes 31 lines. The program
    // folder may be any path: folder defaults that the file cannot hold are written so that
    // they read back as the same folders beside the program.
    void defaultsRoundTrip_data()
    {
        rowsOf<QString>("folderName", {{"plain", "zantiro"},
                                       {"bracket", "we[ird]"},
                                       {"outside Windows-1252", QString::fromUtf8("\u0141\u00f3d\u017a")},
                                       {"blank", "a b"}});
    }
    void defaultsRoundTrip()
    {
        QFETCH(QString, folderName);
        QTemporaryDir base;
        const QString folder = base.filePath(folderName);
        QVERIFY(QDir().mkpath(folder));
        const QString path = QDir(folder).filePath("qvcfg.cfg");
        Options o;
        o.myName = "changed";
        QCOMPARE(ConfigFile::load(path, folder, o), QString());
        QCOMPARE((QStringList{o.myName, o.logFolder, o.downloadFolder}),
                 (QStringList{"<No Name>", folder + "/log/", folder + "/download"}));
        QCOMPARE(o.configFlags(), 4485);
        QCOMPARE(ConfigFile::save(path, o), QString());
        QVERIFY(!QFile::exists(path + ".tmp"));
        QCOMPARE(readFile(path).count('\r'), 31);
        const QList<QByteArray> lines = plainLines(path);
        QCOMPARE(lines.size(), 31);
        QCOMPARE((QList<QByteArray>{lines[1], lines[24], lines[30]}), (QList<QByteArray>{"3", "<No Name>", "4485"}));
        Options back; // as at the next start
        back.myName = "stale";
        QCOMPARE(ConfigFile::load(path, folder, back), QString());
        QVERIFY(back == o);
        // A file that cannot be written says so; one the disk cuts short leaves the old one.
        QVERIFY(ConfigFile::save(folder + "/missing/qvcfg.cfg", o).startsWith("Close Config Error : "));
        const QByteArray before = readFile(path);
        const QString cut = [&] {
            FileSizeLimit full(200);
            return ConfigFile::save(path, o);
        }();
        QVERIFY2(cut.startsWith("Close Config Error : "), qPrintable(cut));
        QCOMPARE(readFile(path), before);
    }

    // The connection mode reads as Client or Server; any other text is written back as read.
    void connectionTypeKeepsItsText_data()
    {
        columns<QByteArray, int>("text", "mode");
        QTest::newRow("client") << QByteArray("Client") << int(ConnectionMode::Client);
        QTest::newRow("server") << QByteArray("Server") << int(ConnectionMode::Server);
        QTest::newRow("other") << QByteArray("server") << int(ConnectionMode::None);
        QTest::newRow("empty") << QByteArray() << int(ConnectionMode::None);
    }
    void connectionTypeKeepsItsText()
    {
        auto [text, mode] = fetch<QByteArray, int>("text", "mode");
        QTemporaryDir dir;
        const QString path = dir.filePath("qvcfg.cfg");
        QList<QByteArray> lines = validLines(31);
        lines[17] = text;
        QVERIFY(writeLines(path, lines));
        Options o;
        QCOMPARE(ConfigFile::load(path, dir.path(), o), QString());
        QCOMPARE(int(o.connectionType), mode);
        QCOMPARE(ConfigFile::save(path, o), QString());
        QCOMPARE(plainLines(path).value(17), text);
    }
};

QTEST_APPLESS_MAIN(TestOptions)
#include "tst_options.moc"
