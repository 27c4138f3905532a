#pragma once
#include <QFile>
#include <QString>

// Small file-system helpers shared across the program.
namespace FileSystem {

// The path with "/" appended when it does not already end in one; an empty path stays empty.
QString withTrailingSlash(const QString& path);
bool folderExists(const QString& path);
// Creates every missing folder along the path; true when the whole path exists afterwards.
bool makePath(const QString& path);

// What the path leads to (links followed) when that is neither a regular file nor a folder:
// "a named pipe", "a socket", "a device"; empty for a regular file, a folder or nothing.
// Looking never opens the path, so it never waits.
QString specialKind(const QString& path);
// Opens `path` for reading into `file` without ever waiting: the open itself does not block
// (a named pipe with no writer would wait for one for good), and what was opened must be a
// regular file. False with `problem` set otherwise ("not a regular file (a named pipe)").
bool openRegularFile(QFile& file, const QString& path, QIODevice::OpenMode extra, QString& problem);

} // namespace FileSystem
