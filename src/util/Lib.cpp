#include "util/Lib.h"

#include <QDir>
#include <QFileInfo>

namespace Lib {

QString AddSlash(const QString& path)
{
    if (path.isEmpty() || path.endsWith('/'))
        return path;
    return path + '/';
}

bool DirExists(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

bool FileExists(const QString& path)
{
    return !path.isEmpty() && QFileInfo::exists(path);
}

bool MakePath(const QString& path)
{
    return !path.isEmpty() && QDir().mkpath(path);
}

} // namespace Lib
