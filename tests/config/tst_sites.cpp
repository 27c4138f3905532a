#include "config/Sites.h"
#include "support/Harness.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

// A file as the program writes it: folders by depth and case-insensitive line order (so
// "alpha" before "Friends"), then sites by position.
const QByteArray kSample = "Folder=alpha;Parent=Sites;\r\n"
                           "Folder=Friends;Expanded;Parent=Sites;\r\n"
                           "Folder=Work;Parent=Sites;\r\n"
                           "Folder=Deep;Expanded;Parent=Work;\r\n"
                           "Site=Anna;IP=10.0.0.5;Port=2100;Password=secret;Parent=Friends;\r\n"
                           "Site=Office;IP=xxx.xxx.xxx.xxx;Port=2000;Password=;Parent=Work;\r\n"
                           "Site=Top;IP=1.2.3.4;Port=2000;Password=pw;Parent=Sites;\r\n"
                           "Site=Cellar;IP=h;Port=1;Password=;Parent=Deep;\r\n";

// A chain of n folders below the root, "L1" to "Ln"; returns the deepest.
SiteNode* chain(SiteTree& t, int n)
{
    SiteNode* at = t.root();
    for (int i = 1; i <= n; ++i)
        if (!t.addFolder(at, QStringLiteral("L%1").arg(i), &at).isEmpty())
            return nullptr;
    return at;
}

} // namespace

class TestSites : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A file read and written back is byte-identical, however many sites it holds.
    void roundTrip_data()
    {
        columns<QByteArray, int>("bytes", "nodes");
        QByteArray many = "Folder=F;Parent=Sites;\r\n";
        for (int i = 0; i < 130; ++i)
            many += QStringLiteral("Site=s%1;IP=10.0.0.%1;Port=%2;Password=p%1;Parent=%3;\r\n")
                        .arg(i)
                        .arg(2000 + i)
                        .arg(i % 2 ? "F" : "Sites")
                        .toLatin1();
        QTest::newRow("sample") << kSample << 9;
        QTest::newRow("130 sites") << many << 132;
        QTest::newRow("empty") << QByteArray() << 1;
        QTest::newRow("names ending in Expanded")
            << QByteArray("Folder=My Expanded;Parent=Sites;\r\nFolder=Kid Expanded;Expanded;Parent=My Expanded;\r\n"
                          "Folder=Child;Parent=Kid Expanded;\r\n"
                          "Site=S Expanded;IP=h;Port=1;Password=Expanded;Parent=My Expanded;\r\n")
            << 5;
    }
    void roundTrip()
    {
        auto [bytes, nodes] = fetch<QByteArray, int>("bytes", "nodes");
        SiteTree t;
        QCOMPARE(t.read(bytes), QStringList());
        QCOMPARE(int(t.nodes().size()), nodes);
        QVERIFY(!t.changed());
        QCOMPARE(t.toBytes(), bytes);
        if (bytes == kSample) {
            const SiteNode* anna = t.findPath("Friends/Anna");
            QVERIFY(anna && !anna->folder && anna->parent->expanded && !t.find("Work")->expanded);
            QCOMPARE(QStringList({anna->ip, anna->port, anna->password}), QStringList({"10.0.0.5", "2100", "secret"}));
            QCOMPARE(SiteTree::depth(t.findPath("Work/Deep/Cellar")), 3);
        }
    }

    // A bad line is skipped with one text; the rest loads and nothing counts as changed.
    void malformed_data()
    {
        columns<QByteArray, QString>("line", "why");
        QTest::newRow("no semicolon") << QByteArray("Site=Bob") << "no \";\"";
        QTest::newRow("no password") << QByteArray("Site=Bob;IP=1;Port=2;Parent=Sites;") << "no \"Password=\" field";
        QTest::newRow("no parent") << QByteArray("Folder=Bob;Expanded;") << "no \"Parent=\" field";
        QTest::newRow("unterminated") << QByteArray("Site=Bob;IP=1;Port=2;Password=;Parent=Sites")
                                      << "no \"Parent=\" field";
        QTest::newRow("parent later") << QByteArray("Site=Bob;IP=1;Port=2;Password=;Parent=Later;")
                                      << "no folder Later before it";
        QTest::newRow("parent a site") << QByteArray("Site=Bob;IP=1;Port=2;Password=;Parent=Top;")
                                       << "no folder Top before it";
        QTest::newRow("duplicate") << QByteArray("Folder=Anna;Parent=Sites;") << "the name Anna is taken";
        QTest::newRow("root name") << QByteArray("Folder=Sites;Parent=Sites;") << "the name Sites is taken";
        QTest::newRow("no marker") << QByteArray("Bob;IP=1;Port=2;Password=;Parent=Sites;")
                                   << "it does not start with \"Site=\"";
        QTest::newRow("no name") << QByteArray("Site=;IP=1;Port=2;Password=;Parent=Sites;") << "no name";
        // Fields that would be written back as a line that reads differently.
        QTest::newRow("marker in name") << QByteArray("Site=Bob\xBBIP=1;IP=1;Port=2;Password=;Parent=Sites;")
                                        << "the name may not hold \"IP=\"";
        QTest::newRow("return in field") << QByteArray("Site=Bob;IP=1;Port=2;Password=a\rb;Parent=Sites;")
                                         << "the password may not hold \";\" or a line break";
    }
    void malformed()
    {
        auto [line, why] = fetch<QByteArray, QString>("line", "why");
        SiteTree t;
        const QStringList problems = t.read(kSample + line + "\r\nFolder=Later;Parent=Sites;\r\n");
        QCOMPARE(problems, QStringList("*** Sites File Line 9 Skipped : " + why));
        QCOMPARE(int(t.nodes().size()), 10);
        QVERIFY(t.find("Later") && !t.find("Bob") && !t.changed());
    }

    // Folders nest at most nine levels: deeper ones are refused when made, moved or read.
    void nesting()
    {
        SiteTree t;
        SiteNode* ninth = chain(t, 9);
        QVERIFY(ninth);
        QCOMPARE(t.addFolder(ninth, "L10"), QString("Folders nest at most 9 levels deep"));
        SiteNode *f, *sub, *site;
        QVERIFY(t.addFolder(t.root(), "F", &f).isEmpty() && t.addFolder(f, "Sub", &sub).isEmpty()
                && t.addSite(sub, "S", &site).isEmpty());
        QCOMPARE(t.move(f, t.find("L8")), QString("Folders nest at most 9 levels deep"));
        QCOMPARE(t.move(sub, t.find("L8")), QString()); // Sub becomes the ninth level
        QCOMPARE(t.move(site, ninth), QString());
        QCOMPARE(t.move(t.find("L1"), t.find("L3")), QString("A folder cannot move into itself"));
        SiteTree back;
        QCOMPARE(back.read(t.toBytes()), QStringList());
        QCOMPARE(back.describe(), t.describe());
        QCOMPARE(back.read(t.toBytes() + "Folder=L10;Parent=L9;\r\n").size(), 1);
    }

    // Each edit is saved, read back as the same tree, and refused where it would break it.
    // (A folder renamed with its references, a taken name and a site moved: tst_sitelistwindow.)
    void edits_data()
    {
        // The edit, the refusal, a path that must exist after reloading and a name that must be gone.
        stringRows({"edit", "problem", "present", "absent"},
                   {{"rename site", "rename Anna An;n", "", "Friends/Ann", "Anna"},
                    {"rename marker", "rename Anna xIP=", "A name may not hold \"IP=\"", "Friends/Anna", ""},
                    {"move folder", "move Deep Friends", "", "Friends/Deep/Cellar", ""},
                    {"delete folder", "remove Work", "", "Friends/Anna", "Cellar"},
                    {"delete root", "remove Sites", "The root cannot be deleted", "Top", ""},
                    {"password marker", "password Anna Parent=x", "The password may not hold \"Parent=\"",
                     "Friends/Anna", ""}});
    }
    void edits()
    {
        auto [edit, problem, present, absent] =
            fetch<QString, QString, QString, QString>("edit", "problem", "present", "absent");
        QTemporaryDir dir;
        const QString path = dir.filePath(SitesFile::FileName);
        QVERIFY(writeFile(path, kSample));
        SiteTree t;
        QCOMPARE(SitesFile::load(path, t), QStringList());
        const QStringList w = edit.split(' ');
        SiteNode* node = t.find(w[1]);
        const QString result = w[0] == "rename"   ? t.rename(node, w[2])
                               : w[0] == "move"   ? t.move(node, t.find(w[2]))
                               : w[0] == "remove" ? t.remove(node)
                                                  : t.setSite(node, node->ip, node->port, w[2]);
        QCOMPARE(result, problem);
        QCOMPARE(t.changed(), problem.isEmpty());
        QCOMPARE(SitesFile::save(path, t), QString());
        SiteTree back;
        QCOMPARE(SitesFile::load(path, back), QStringList());
        QCOMPARE(back.describe(), t.describe());
        QVERIFY(back.findPath(present));
        QVERIFY(absent.isEmpty() || !back.find(absent));
    }

    // The file (it holds passwords) is written for its owner only; a write that fails midway
    // (the file size limit plays a full disk) leaves the old file as it was.
    void saving()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(SitesFile::FileName);
        SiteTree t;
        QCOMPARE(t.read(kSample), QStringList());
        for (int i = 0; i < 40; ++i)
            QCOMPARE(t.addSite(t.root(), QStringLiteral("n%1").arg(i)), QString());
        QCOMPARE(SitesFile::save(path, t), QString());
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
        const QByteArray before = readFile(path);
        QCOMPARE(t.addSite(t.root(), "more"), QString());
        const QString failed = [&] {
            FileSizeLimit full(512);
            return SitesFile::save(path, t);
        }();
        QVERIFY2(failed.startsWith("Save Sites Error : "), qPrintable(failed));
        QCOMPARE(readFile(path), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList(SitesFile::FileName));
    }
};

QTEST_GUILESS_MAIN(TestSites)
#include "tst_sites.moc"
