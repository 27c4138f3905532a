#include "queue/FileQueue.h"
#include "queue/QueueEntry.h"
#include "support/TransferPair.h"

#include <QCollator>
#include <QTest>

#include <algorithm>

namespace {

// The entry with the last n characters of path and name (the same) as its leaf.
QueueEntry split(const QString& path, const QString& name, qsizetype n)
{
    return {std::make_shared<const QueueEntryHead>(QueueEntryHead{path.chopped(n), name.chopped(n)}), path.right(n)};
}

} // namespace

class TestListingBulk : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Entries are equal, and hash alike, by path and name whatever their head and leaf.
    void entryKeys_data()
    {
        columns<QString, QString, QString, QString, bool>("path", "name", "otherPath", "otherName", "same");
        const QString deep = "/backup/2024-01-01/" + QString(60, 'p') + "/home/x",
                      deeper = "/backup/2024-01-01/" + QString(600, 'p') + "/home/x";
        const auto row = [](const char* what, const QString& p, const QString& n, const QString& op,
                            const QString& on) { QTest::newRow(what) << p << n << op << on << (p == op && n == on); };
        row("same", "/d/a/x", "a/x", "/d/a/x", "a/x");
        row("other name", "/d/a/x", "a/x", "/d/a/x", "b/x");
        row("other path", "/d/a/x", "a/x", "/e/a/x", "a/x");
        row("long, same", deep, "home/x", deep, "home/x");
        row("long, other day", deep, "home/x", QString(deep).replace("-01/", "-02/"), "home/x");
        row("very long, same", deeper, "home/x", deeper, "home/x");
        row("very long, other day", deeper, "home/x", QString(deeper).replace("-01/", "-02/"), "home/x");
        row("text moved from path to name", "/d/ab", "b", "/d/a", "bb");
        row("longer", "/d/a/x", "a/x", "/d/a/xy", "a/xy");
        row("folder and file", "/d/a/", "a", "/d/a", "a");
    }
    void entryKeys()
    {
        auto [path, name, otherPath, otherName, same] =
            fetch<QString, QString, QString, QString, bool>("path", "name", "otherPath", "otherName", "same");
        const QueueEntry whole = QueueEntry::single(path, name);
        for (qsizetype n = 0; n <= otherName.size() && otherPath.endsWith(otherName.right(n)); ++n) {
            const QueueEntry other = split(otherPath, otherName, n);
            QCOMPARE(other.path(), otherPath);
            QCOMPARE(other.name(), otherName);
            QCOMPARE(whole == other, same);
            QCOMPARE(other == whole, same);
            if (same)
                QCOMPARE(qHash(whole, 7), qHash(other, 7));
            else if (path != otherPath && name == otherName) // folders of one name picked from two places
                QVERIFY(qHash(whole, 7) != qHash(other, 7));
        }
        QCOMPARE(whole.isFolder(), path.endsWith('/'));
    }

    // A listing of a few thousand entries is sorted and queued over many turns, in the order
    // a file manager lists it (sub-folders first, then by name in natural order, case
    // ignored, ties by characters); an entry added at the end while it is queued comes after
    // all of it.
    void listingOrder()
    {
        TransferPair t;
        FileQueue& q = t.a.peer->queue();
        q.sliceMs = 0; // one merge or 256 entries a turn
        const QString dir = t.srcPath("mix");
        QStringList files = {"a10", "a9", "A9", "a9b", "B", "b", "é", "e", "z 2", "z 10", ".h"};
        for (int i = 0; i < 3000; ++i)
            files << QStringLiteral("n%1%2").arg((i * 7919) % 3000).arg(i % 3 ? "x" : "X");
        for (const QString& f : files)
            QVERIFY(writeFile(dir + '/' + f));
        const QStringList folders = {"d10", "d2", "D3"};
        for (const QString& d : folders)
            QVERIFY(QDir().mkpath(dir + '/' + d));
        QCollator collator(QLocale(QLocale::English, QLocale::UnitedStates));
        collator.setNumericMode(true);
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        const auto listing = [&](QStringList names) {
            std::sort(names.begin(), names.end(), [&](const QString& x, const QString& y) {
                const int c = collator.compare(x, y);
                return c != 0 ? c < 0 : x < y;
            });
            return names;
        };
        QStringList expected;
        for (const QString& d : listing(folders))
            expected << "mix/" + d;
        for (const QString& f : listing(files))
            expected << "mix/" + f;
        expected << "late";

        QStringList inserted;
        QObject::connect(&q, &QAbstractItemModel::rowsInserted, [&](const QModelIndex&, int first, int last) {
            for (int i = first; i <= last; ++i)
                inserted << q.name(i);
            if (q.expanding() && !inserted.contains("late"))
                q.add("/nowhere/late", "late"); // the rest of the folder goes in first
        });
        QObject::connect(&q, &FileQueue::expansionShown, [&](bool on) {
            if (!on)
                q.stop();
        });
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        q.addPath(dir);
        QVERIFY(t.connect());
        QTRY_VERIFY_WITH_TIMEOUT(q.isStopped(), 20000);
        QCOMPARE(inserted.size(), expected.size() + 1);
        QCOMPARE(inserted.first(), "mix");
        QCOMPARE(inserted.mid(1), expected);
    }
};

QTEST_MAIN(TestListingBulk)
#include "tst_listing_bulk.moc"
