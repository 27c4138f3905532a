#include "queue/FolderExpansion.h"

#include "core/PeerState.h"

#include <QCollator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>

#include <numeric>
#include <vector>

namespace {

// The order a file manager lists a folder in compares names in the user's language, digits
// as numbers ("track 2" before "track 10") and case ignored.
QCollator listingCollator()
{
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates); // the C locale collates by code only
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

} // namespace

// One folder being expanded: the listing, the folder's path (ending in "/"), its name, and
// the canonical path of the folder the user picked, which links must not lead out of. Once
// read, the listing is sorted by a merge sort a few runs per turn, and then queued in slices.
struct FolderExpansion::Listing {
    enum class Step { Reading, Sorting, Appending };
    FileSystem::FolderListing listing;
    QString folder;
    QString name;
    QString inside;
    Step step = Step::Reading;
    QList<Listed> found; // read so far; queued in listing order once all are read
    QCollator collator = listingCollator();
    std::vector<QCollatorSortKey> keys;             // one per entry of found, made as it is read
    std::vector<qint32> order, merged;              // the merge sort's runs: indexes into found
    qsizetype width = 0, from = 0;                  // its pass (length of the runs merged) and place
    qsizetype appended = 0;                         // entries of order queued so far
    std::shared_ptr<const QueueEntryHead> fileHead; // shared by the files of the listing
    explicit Listing(const QString& dir) : listing(dir) {}

    // Sub-folders first, then files; each by name as the collator orders them, and names
    // equal that way by their characters, so the order is always the same.
    bool before(qint32 x, qint32 y) const
    {
        const Listed& a = found[x];
        const Listed& b = found[y];
        if (a.folder != b.folder)
            return a.folder;
        const int c = keys[static_cast<size_t>(x)].compare(keys[static_cast<size_t>(y)]);
        return c != 0 ? c < 0 : a.leaf < b.leaf;
    }
};

namespace {

// The folder the user picked for a folder entry: its name has one component more than the
// number of folders to go up ("a/b" for ".../a/b/").
QString pickedFolder(const QString& folder, const QString& name)
{
    QString root = folder.endsWith('/') && folder.size() > 1 ? folder.chopped(1) : folder;
    for (int up = static_cast<int>(name.count('/')); up > 0; --up) {
        const qsizetype slash = root.lastIndexOf('/');
        if (slash <= 0)
            break;
        root.truncate(slash);
    }
    return root;
}

// The folder the user picked, canonical and ending in "/", when `folder` (the entry's path
// without its "/") is a folder still inside it; empty when it is gone, no folder, or a
// sub-folder that no longer lies inside the picked one.
QString insidePicked(const QString& folder, const QString& folderEntry, const QString& entryName)
{
    const QFileInfo info(folder);
    const QString root = QFileInfo(pickedFolder(folderEntry, entryName)).canonicalFilePath();
    const QString canonical = info.canonicalFilePath();
    QString inside = root.endsWith('/') ? root : root + '/';
    if (!info.isDir() || canonical.isEmpty() || root.isEmpty()
        || (entryName.contains('/') && !(canonical + '/').startsWith(inside)))
        return {};
    return inside;
}

// Why a link found in a folder is not queued, or nullptr when it is. A link is followed only
// to a file inside the picked folder: never out of it, and never to a folder, which could
// lead back into it. A link that leads nowhere (dangling, or a loop, whose canonical path
// can still come back non-empty) is not a file either.
const char* linkSkipReason(const QFileInfo& link, const QString& inside)
{
    const QString target = link.canonicalFilePath();
    if (!link.exists() || target.isEmpty())
        return "it is a link that leads nowhere";
    if (link.isDir())
        return "it is a link to a folder";
    if (!target.startsWith(inside))
        return "it is a link that leads out of the folder";
    return nullptr;
}

} // namespace

FolderExpansion::FolderExpansion(PeerState& c, QSet<QueueEntry>& q, const int& b, const int& s, Hooks h)
    : ctx(c), queued(q), batch(b), sliceMs(s), hooks(std::move(h))
{
    timer.setSingleShot(true);
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, &timer, [this] { turn(); });
}

FolderExpansion::~FolderExpansion() = default;

QString FolderExpansion::shortenLabel(const QString& text)
{
    return text.size() > 16 ? QStringLiteral("...") + text.right(13) : text;
}

bool FolderExpansion::start(const QString& folderEntry, const QString& entryName)
{
    const QString folder = folderEntry.endsWith('/') && folderEntry.size() > 1 ? folderEntry.chopped(1) : folderEntry;
    const QString inside = insidePicked(folder, folderEntry, entryName);
    if (inside.isEmpty())
        return false;
    const QFileInfo info(folder);
    if (!info.isReadable() || !info.isExecutable()) {
        ctx.addText(QStringLiteral("*** Error : Cannot read ") + folder + QStringLiteral(" - permission denied"),
                    LineKind::Error);
        return false;
    }
    current = std::make_unique<Listing>(folder);
    current->folder = folder.endsWith('/') ? folder : folder + '/';
    current->name = entryName;
    current->inside = inside;
    cancelRequested = false;
    readCount = 0;
    shownFolder = shortenLabel(folderEntry);
    hooks.shown(true);
    hooks.folderShown(shownFolder);
    hooks.read(readCount);
    timer.start();
    return true;
}

void FolderExpansion::turn()
{
    if (!current)
        return;
    Listing& x = *current;
    if (x.step == Listing::Step::Reading) {
        if (readCount == 0 && !cancelRequested)
            readCount = 2; // "." and ".." are read first
        bool done = cancelRequested;
        QElapsedTimer clock;
        clock.start();
        QString entryName;
        auto kind = FileSystem::FolderListing::Kind::Other;
        for (int n = 0; n < batch && !done && (n % 64 != 63 || clock.elapsed() < sliceMs); ++n) {
            if (!x.listing.next(entryName, kind)) {
                done = true;
                break;
            }
            ++readCount;
            readEntry(entryName, kind);
        }
        if (!cancelRequested)
            hooks.read(readCount);
        if (done || cancelRequested) {
            // What was read is queued, also when the expansion was cancelled midway.
            x.step = Listing::Step::Sorting;
            x.order.resize(static_cast<size_t>(x.found.size()));
            std::iota(x.order.begin(), x.order.end(), 0);
            x.merged.resize(x.order.size());
            x.width = 1;
            x.from = 0;
        }
    } else if (x.step == Listing::Step::Sorting) {
        if (sortSlice()) {
            x.step = Listing::Step::Appending;
            x.keys = {};
            x.merged = {};
            x.fileHead = std::make_shared<const QueueEntryHead>(QueueEntryHead{x.folder, x.name + '/'});
            hooks.sorted(x.found.size());
        }
    } else {
        appendSlice();
        if (!current)
            return; // a command had the rest queued at once, and the expansion ended there
        if (current->appended >= static_cast<qsizetype>(current->order.size())) {
            end();
            return;
        }
    }
    timer.start();
}

void FolderExpansion::readEntry(const QString& entryName, FileSystem::FolderListing::Kind kind)
{
    Listing& x = *current;
    if (kind == FileSystem::FolderListing::Kind::BadName) {
        noteSkipped(ctx, x.folder + entryName, QStringLiteral("its name is not valid text in this system's encoding"));
        return;
    }
    bool folder = kind == FileSystem::FolderListing::Kind::Folder;
    if (kind == FileSystem::FolderListing::Kind::Other) {
        // A link, a special file, or an entry whose kind the listing did not give: a closer
        // look. Each skipped link gets a line.
        const QFileInfo f(x.folder + entryName);
        if (const char* why = f.isSymLink() ? linkSkipReason(f, x.inside) : nullptr) {
            noteSkipped(ctx, f.filePath(), QLatin1String(why));
            return;
        }
        folder = f.isDir();
        if (!folder && !f.isFile() && skipSpecial(ctx, f.filePath()))
            return;
    }
    x.found.append({entryName, folder});
    // The sort keys are made as the entries come, not all at once at the end.
    x.keys.push_back(x.collator.sortKey(entryName));
}

bool FolderExpansion::sortSlice()
{
    // A bottom-up merge sort: each pass merges neighbouring runs of `width` entries into runs
    // twice as long; a merge is never cut, so a slice ends between two of them.
    Listing& x = *current;
    const auto n = static_cast<qsizetype>(x.order.size());
    QElapsedTimer clock;
    clock.start();
    const auto less = [&x](qint32 a, qint32 b) { return x.before(a, b); };
    while (x.width < n) {
        const qsizetype mid = std::min(x.from + x.width, n);
        const qsizetype end = std::min(x.from + 2 * x.width, n);
        std::merge(x.order.begin() + x.from, x.order.begin() + mid, x.order.begin() + mid, x.order.begin() + end,
                   x.merged.begin() + x.from, less);
        x.from = end;
        if (x.from >= n) {
            std::swap(x.order, x.merged);
            x.width *= 2;
            x.from = 0;
        }
        if (clock.elapsed() >= sliceMs)
            return x.width >= n;
    }
    return true;
}

void FolderExpansion::appendSlice()
{
    Listing& x = *current;
    QElapsedTimer clock;
    clock.start();
    const auto n = static_cast<qsizetype>(x.order.size());
    QList<QueueEntry> fresh;
    while (x.appended < n) {
        const Listed& l = x.found[x.order[static_cast<size_t>(x.appended++)]];
        QueueEntry e = l.folder ? QueueEntry::single(x.folder + l.leaf + '/', x.name + '/' + l.leaf)
                                : QueueEntry{x.fileHead, l.leaf};
        const qsizetype known = queued.size();
        queued.insert(e);
        if (queued.size() > known)
            fresh.append(std::move(e));
        if (x.appended % 256 == 0 && clock.elapsed() >= sliceMs)
            break;
    }
    // A view of the queue may add an entry while these are queued, which hands on the rest at once.
    if (!fresh.isEmpty())
        hooks.slice(std::move(fresh));
}

void FolderExpansion::finish()
{
    const auto appending = [this] { return current && current->step == Listing::Step::Appending; };
    while (appending() && current->appended < static_cast<qsizetype>(current->order.size()))
        appendSlice();
    if (appending())
        end();
}

bool FolderExpansion::skipSpecial(PeerState& ctx, const QString& path)
{
    // Only regular files are sent: a named pipe would wait for a writer, a device never end.
    const QString kind = FileSystem::specialKind(path);
    if (kind.isEmpty())
        return false;
    noteSkipped(ctx, path, kind + QStringLiteral(", not a regular file"));
    return true;
}

void FolderExpansion::noteSkipped(PeerState& ctx, const QString& path, const QString& why)
{
    ctx.addText(QStringLiteral("*** Skipped : ") + path + QStringLiteral(" - ") + why, LineKind::Status);
}

void FolderExpansion::end()
{
    cancelRequested = true;
    current.reset();
    hooks.shown(false);
    hooks.ended();
}
