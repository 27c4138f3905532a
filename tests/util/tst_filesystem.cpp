// A file opened for reading by its descriptor: what opens and what is refused (never waiting
// on a named pipe), its size, reading from a place, and a file that became shorter.
#include "support/Harness.h"
#include "util/FileSystem.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

class TestFileSystem : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void opening_data()
    {
        // problem: empty when it opens
        stringRows({"kind", "problem"}, {{"regular file", "file", ""},
                                         {"folder", "folder", "it is a folder"},
                                         {"named pipe without a writer", "pipe", "not a regular file (a named pipe)"},
                                         {"missing", "missing", qt_error_string(ENOENT)}});
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

    // (Writing up to a full disk, with the system's reason: tst_faults' diskFull.
    // A folder's entries and their kinds: tst_queue's folderTree and tst_files' sendFolderLinks.)
    void missingFolderListsNothing()
    {
        QTemporaryDir dir;
        FileSystem::FolderListing missing(dir.filePath("missing"));
        QString name;
        auto kind = FileSystem::FolderListing::Kind::File;
        QVERIFY(!missing.next(name, kind));
    }
};

QTEST_GUILESS_MAIN(TestFileSystem)
#include "tst_filesystem.moc"
