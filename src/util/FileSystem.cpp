#include "util/FileSystem.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace FileSystem {

QString withTrailingSlash(const QString& path)
{
    if (path.isEmpty() || path.endsWith('/'))
        return path;
    return path + '/';
}

bool folderExists(const QString& path)
{
    // One status call: asked for every file received.
    struct stat st = {};
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makePath(const QString& path)
{
    return !path.isEmpty() && QDir().mkpath(path);
}

namespace {

QString kindOf(mode_t mode)
{
    if (S_ISREG(mode) || S_ISDIR(mode))
        return {};
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    return QStringLiteral("a special file");
}

} // namespace

QString specialKind(const QString& path)
{
    struct stat st = {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return kindOf(st.st_mode);
}

namespace {

// Opens `path` for reading without ever waiting (a named pipe would wait for a writer) and
// keeps it only when it is a regular file: its descriptor, still non-blocking, or -1 with
// the problem.
int openRegularDescriptor(const QString& path, struct stat& st, QString& problem)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        problem = qt_error_string(errno);
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        problem = S_ISDIR(st.st_mode) ? QStringLiteral("it is a folder")
                                      : QStringLiteral("not a regular file (") + kindOf(st.st_mode) + ')';
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

bool openRegularFile(QFile& file, const QString& path, QIODevice::OpenMode extra, QString& problem)
{
    struct stat st = {};
    const int fd = openRegularDescriptor(path, st, problem);
    if (fd < 0)
        return false;
    // A regular file: ordinary reads from here on.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file.close();
    file.setFileName(path);
    if (!file.open(fd, QIODevice::ReadOnly | extra, QFileDevice::AutoCloseHandle)) {
        problem = file.errorString();
        ::close(fd);
        return false;
    }
    return true;
}

bool RegularFile::open(const QString& path, QString& problem)
{
    close();
    struct stat st = {};
    const int handle = openRegularDescriptor(path, st, problem);
    if (handle < 0)
        return false;
    // O_NONBLOCK stays: reading a regular file does not wait for a writer, and the rare file
    // system that answers EAGAIN has it taken off then (read()).
    fd = handle;
    length = st.st_size;
    return true;
}

void RegularFile::adopt(int descriptor)
{
    close();
    fd = descriptor;
}

bool RegularFile::seek(qint64 at, QString& problem)
{
    if (::lseek(fd, static_cast<off_t>(at), SEEK_SET) < 0) {
        problem = qt_error_string(errno);
        return false;
    }
    return true;
}

qint64 RegularFile::read(char* data, qint64 n, QString& problem)
{
    qint64 got = 0;
    bool waited = false;
    while (got < n) {
        const ssize_t r = ::read(fd, data + got, static_cast<size_t>(n - got));
        if (r > 0) {
            got += r;
        } else if (r == 0) {
            break; // the end of the file
        } else if (errno == EAGAIN && !std::exchange(waited, true)) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        } else if (errno != EINTR) {
            problem = qt_error_string(errno);
            return -1;
        }
    }
    return got;
}

bool RegularFile::writeAll(const char* data, qint64 n, QString& problem)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, data, static_cast<size_t>(n));
        if (w > 0) {
            data += w;
            n -= w;
        } else if (w == 0) {
            problem = QStringLiteral("nothing could be written");
            return false;
        } else if (errno != EINTR) {
            problem = qt_error_string(errno);
            return false;
        }
    }
    return true;
}

void RegularFile::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    length = 0;
}

FolderListing::FolderListing(const QString& path) : folder(::opendir(QFile::encodeName(path).constData()))
{}

FolderListing::~FolderListing()
{
    if (folder)
        ::closedir(static_cast<DIR*>(folder));
}

bool FolderListing::next(QString& name, Kind& kind)
{
    if (!folder)
        return false;
    while (const dirent* entry = ::readdir(static_cast<DIR*>(folder))) {
        const char* leaf = entry->d_name;
        if (leaf[0] == '.' && (leaf[1] == 0 || (leaf[1] == '.' && leaf[2] == 0)))
            continue;
        name = QFile::decodeName(leaf);
        kind = entry->d_type == DT_REG ? Kind::File : entry->d_type == DT_DIR ? Kind::Folder : Kind::Other;
        // Only a name holding a replacement character can have lost bytes in the decoding.
        if (name.contains(QChar::ReplacementCharacter) && QFile::encodeName(name) != QByteArrayView(leaf))
            kind = Kind::BadName;
        return true;
    }
    return false;
}

} // namespace FileSystem
