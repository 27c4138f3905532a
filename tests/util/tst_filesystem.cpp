// A file opened for reading by its descriptor: what opens and what is refused (never waiting
// on a named pipe), its size, reading from a place, and a file that became shorter; writing
// through a descriptor taken over, up to a full disk; a folder's listing and its kinds.
#include "support/Harness.h"
#include "util/FileSystem.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

class TestFileSystem : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void opening_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("problem"); // empty: it opens
        QTest::newRow("regular file") << "file"
                                      << "";
        QTest::newRow("folder") << "folder"
                                << "it is a folder";
        QTest::newRow("named pipe without a writer") << "pipe"
                                                     << "not a regular file (a named pipe)";
        QTest::newRow("missing") << "missing" << qt_error_string(ENOENT);
    }
    void opening()
    {
        auto [kind, problem] = fetch<QString, QString>("kind", "problem");
        QTemporaryDir dir;
        const QString path = dir.filePath("x");
        if (kind == "file")
            QVERIFY(writeFile(path, "0123456789"));
        else if (kind == "folder")
            QVERIFY(QDir().mkpath(path));
        else if (kind == "pipe")
            QVERIFY(makeSpecialFile(path));
        FileSystem::RegularFile file;
        QString why;
        QCOMPARE(file.open(path, why), problem.isEmpty());
        QCOMPARE(why, problem);
        QCOMPARE(file.isOpen(), problem.isEmpty());
        QCOMPARE(file.size(), problem.isEmpty() ? 10 : 0);
    }

    void reading()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("x");
        const QByteArray bytes = randomBytes(70000, 3);
        QVERIFY(writeFile(path, bytes));
        FileSystem::RegularFile file;
        QString why;
        QVERIFY(file.open(path, why));
        QByteArray got(bytes.size(), '\0');
        QVERIFY(file.seek(65536, why));
        QCOMPARE(file.read(got.data(), 100, why), 100);
        QCOMPARE(got.first(100), bytes.sliced(65536, 100));
        // Opened again from the start; the file then loses its end: what is there comes back.
        QVERIFY(file.open(path, why));
        QCOMPARE(file.read(got.data(), 1000, why), 1000);
        QCOMPARE(got.first(1000), bytes.first(1000));
        QVERIFY(QFile::resize(path, 5000));
        QCOMPARE(file.read(got.data(), bytes.size() - 1000, why), 4000);
        QCOMPARE(got.first(4000), bytes.sliced(1000, 4000));
        QCOMPARE(file.read(got.data(), 10, why), 0);
        QVERIFY(why.isEmpty());
        QCOMPARE(file.size(), bytes.size()); // as it was when opened
        file.close();
        QVERIFY(!file.isOpen());
    }

    void writing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("x");
        FileSystem::RegularFile file;
        file.adopt(::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        QVERIFY(file.isOpen());
        const QByteArray bytes = randomBytes(300000, 4);
        QString why;
        QVERIFY(file.writeAll(bytes.constData(), bytes.size(), why));
        file.close();
        QCOMPARE(readFile(path), bytes);
        // A device that is always full: the system's reason comes back, nothing claims success.
        file.adopt(::open("/dev/full", O_WRONLY | O_CLOEXEC));
        QVERIFY(file.isOpen());
        QVERIFY(!file.writeAll(bytes.constData(), 10, why));
        QCOMPARE(why, qt_error_string(ENOSPC));
    }

    void listing()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("file"), "1") && writeFile(dir.filePath(".hidden"), "2"));
        QVERIFY(QDir(dir.path()).mkdir("folder") && QDir(dir.path()).mkdir("f\u00e9"));
        QVERIFY(QFile::link(dir.filePath("file"), dir.filePath("link")));
        QVERIFY(makeSpecialFile(dir.filePath("pipe")));
        const QByteArray bad = QFile::encodeName(dir.path()) + "/bad\xff"; // not UTF-8
        QVERIFY(::close(::open(bad.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)) == 0);
        using Kind = FileSystem::FolderListing::Kind;
        const QMap<QString, Kind> expected{
            {"file", Kind::File},  {".hidden", Kind::File}, {"folder", Kind::Folder},    {"f\u00e9", Kind::Folder},
            {"link", Kind::Other}, {"pipe", Kind::Other},   {"bad\ufffd", Kind::BadName}};
        QMap<QString, Kind> listed;
        FileSystem::FolderListing listing(dir.path());
        QString name;
        Kind kind = Kind::Other;
        while (listing.next(name, kind)) {
            QVERIFY2(!listed.contains(name), qPrintable(name)); // each entry once
            listed.insert(name, kind);
        }
        QCOMPARE(listed.keys(), expected.keys());
        for (const QString& n : expected.keys()) // a file system that gives no kinds lists Other
            QVERIFY2(listed[n] == expected[n] || (listed[n] == Kind::Other && expected[n] != Kind::BadName),
                     qPrintable(n));
        FileSystem::FolderListing missing(dir.filePath("missing"));
        QVERIFY(!missing.next(name, kind));
    }
};

QTEST_GUILESS_MAIN(TestFileSystem)
#include "tst_filesystem.moc"
