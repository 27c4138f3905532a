#pragma once
#include <QString>

// Small file-system helpers shared across the program.
namespace Lib {

// The path with "/" appended when it does not already end in one; an empty path stays empty.
QString AddSlash(const QString& path);
bool DirExists(const QString& path);
// True for a file or a directory of that name, hidden ones included.
bool FileExists(const QString& path);
// Creates every missing folder along the path; true when the whole path exists afterwards.
bool MakePath(const QString& path);

} // namespace Lib
