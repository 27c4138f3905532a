#include "transfer/TargetFile.h"

#include "transfer/TransferRules.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// One open descriptor, closed when it goes out of scope unless released.
class Fd {
public:
    explicit Fd(int fd = -1) : fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd; }
    int release() { return std::exchange(fd, -1); }
    void reset(int other = -1)
    {
        if (fd >= 0)
            ::close(fd);
        fd = other;
    }

private:
    int fd;
};

QByteArray native(const QString& name)
{
    return QFile::encodeName(name);
}

// Where an open folder really is, whatever links led to it.
QString realPath(int dirFd)
{
    return QFileInfo(QStringLiteral("/proc/self/fd/") + QString::number(dirFd)).symLinkTarget();
}

bool inside(const QString& canonicalRoot, const QString& path)
{
    if (path.isEmpty())
        return false;
    const QString r = canonicalRoot.endsWith('/') ? canonicalRoot : canonicalRoot + '/';
    return path == canonicalRoot || path.startsWith(r);
}

QString reason(int err)
{
    return qt_error_string(err);
}

// Why the target's own entry could not be opened or replaced.
QString openErrorText(int err)
{
    if (err == ELOOP)
        return QStringLiteral("it is a link");
    if (err == EEXIST)
        return QStringLiteral("it already exists");
    if (err == EISDIR)
        return QStringLiteral("it is a folder");
    return reason(err);
}

} // namespace

void TargetFile::FolderCache::forget()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    root.clear();
    folder.clear();
}

bool TargetFile::open(FileSystem::RegularFile& file, const Request& request, QString& problem, FolderCache* cache)
{
    const QString root = request.root.isEmpty() ? request.folder : request.root;
    QString at = request.folder.startsWith(root) ? root : request.folder;
    finalName = request.name;
    Fd opened;
    int dirFd = -1;
    if (cache && cache->fd >= 0 && cache->root == root && cache->folder == request.folder) {
        dirFd = cache->fd; // checked when it was opened; the descriptor still names that folder
        at = request.folder;
    } else {
        opened.reset(openFolders(request, root, at, problem));
        if (opened.get() < 0)
            return false;
        dirFd = opened.get();
        if (cache) {
            cache->forget();
            cache->root = root;
            cache->folder = request.folder;
            cache->fd = opened.release();
        }
    }

    if (request.choice == ExistingFileChoice::NumberedName) {
        finalName = TransferRules::uniqueName(request.name, at);
        if (finalName.isEmpty()) {
            problem = QStringLiteral("No free name for ") + request.name + QStringLiteral(" in ") + at;
            return false;
        }
    } else if (request.choice == ExistingFileChoice::TypedName) {
        finalName = request.newName;
    }
    const QString target = at + finalName;
    auto failAt = [&](const QString& why) {
        problem = QStringLiteral("Cannot write ") + target + QStringLiteral(" - ") + why;
        return false;
    };
    QString why;
    const int raw = openTarget(dirFd, request, target, why);
    if (raw < 0)
        return failAt(why);
    file.adopt(raw); // standing at resumeAt(): a new file at 0, a resumed one where it was cut
    return true;
}

int TargetFile::openFolders(const Request& request, const QString& root, QString& at, QString& problem)
{
    const QStringList folders = request.folder.mid(at.size()).split('/', Qt::SkipEmptyParts);
    auto fail = [&](const QString& why) {
        problem = QStringLiteral("Cannot write ") + request.folder + finalName + QStringLiteral(" - ") + why;
        return -1;
    };
    const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
    if (canonicalRoot.isEmpty())
        return fail(QStringLiteral("the download folder ") + root + QStringLiteral(" is missing"));
    Fd dir(::open(native(canonicalRoot).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return fail(reason(errno));
    if (realPath(dir.get()) != canonicalRoot)
        return fail(QStringLiteral("the download folder ") + root + QStringLiteral(" changed while it was opened"));

    // Each folder is made when missing, then opened and checked where it really is: what is
    // checked is what the file is created in.
    for (const QString& part : folders) {
        at += part + '/';
        const QByteArray p = native(part);
        if (::mkdirat(dir.get(), p.constData(), 0777) == 0)
            createdFolders << at;
        else if (errno != EEXIST)
            return fail(QStringLiteral("cannot create the folder ") + at + QStringLiteral(": ") + reason(errno));
        const int sub = ::openat(dir.get(), p.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (sub < 0)
            return fail(errno == ENOTDIR ? at + QStringLiteral(" is not a folder") : reason(errno));
        dir.reset(sub);
        if (!inside(canonicalRoot, realPath(dir.get()))) {
            problem = QStringLiteral("Refused to write ") + at + finalName + QStringLiteral(" - the folder ") + at
                      + QStringLiteral(" leads out of ") + root;
            return -1;
        }
    }
    return dir.release();
}

int TargetFile::openTarget(int dir, const Request& request, const QString& target, QString& why)
{
    const QByteArray name = native(finalName);
    Fd fd;
    bool replace = request.choice == ExistingFileChoice::Overwrite;
    resumeOffset = 0;
    if (request.choice == ExistingFileChoice::Resume) {
        fd.reset(openForResume(dir, name, request, replace, why));
        if (fd.get() < 0 && !why.isEmpty())
            return -1;
    }
    if (fd.get() < 0) {
        // Replacing removes the old entry first, so the new content never reaches the old
        // file through another hard link or a link pointing at it.
        if (replace && ::unlinkat(dir, name.constData(), 0) != 0 && errno != ENOENT) {
            why = openErrorText(errno);
            return -1;
        }
        fd.reset(::openat(dir, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (fd.get() < 0) {
            why = openErrorText(errno);
            return -1;
        }
        createdFile = target;
    }
    return fd.release();
}

int TargetFile::openForResume(int dir, const QByteArray& name, const Request& request, bool& replace, QString& why)
{
    // The file's own entry is never followed: a link there is not resumed through.
    Fd fd(::openat(dir, name.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno != ENOENT)
            why = openErrorText(errno);
        return -1; // missing: a new file
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        why = reason(errno);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        why = QStringLiteral("it is not a plain file");
        return -1;
    }
    if (st.st_size > request.size) {
        replace = true; // longer than the offer, so not a part of it: start again from nothing
        return -1;
    }
    resumeOffset = TransferRules::resumeOffset(st.st_size, request.block, request.size);
    if (::ftruncate(fd.get(), resumeOffset) != 0 || ::lseek(fd.get(), resumeOffset, SEEK_SET) < 0) {
        why = reason(errno);
        return -1;
    }
    return fd.release();
}

void TargetFile::discardUnused()
{
    if (!createdFile.isEmpty()) {
        const QFileInfo info(createdFile);
        if (info.isFile() && !info.isSymLink() && info.size() == 0)
            QFile::remove(createdFile);
    }
    for (qsizetype i = createdFolders.size() - 1; i >= 0; --i)
        QDir().rmdir(createdFolders[i]); // only while empty
    createdFolders.clear();
    createdFile.clear();
}
