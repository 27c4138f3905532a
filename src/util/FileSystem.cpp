#include "util/FileSystem.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileSystem {

QString withTrailingSlash(const QString& path)
{
    if (path.isEmpty() || path.endsWith('/'))
        return path;
    return path + '/';
}

bool folderExists(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
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

bool openRegularFile(QFile& file, const QString& path, QIODevice::OpenMode extra, QString& problem)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        problem = qt_error_string(errno);
        return false;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        problem = S_ISDIR(st.st_mode) ? QStringLiteral("it is a folder")
                                      : QStringLiteral("not a regular file (") + kindOf(st.st_mode) + ')';
        ::close(fd);
        return false;
    }
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

} // namespace FileSystem
