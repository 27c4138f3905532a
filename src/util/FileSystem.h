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

// A regular file open through its bare descriptor: opening it for reading costs one open and
// one status call, reading or writing one call per piece. Closed when it goes.
class RegularFile {
public:
    RegularFile() = default;
    ~RegularFile() { close(); }
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    // Opens as openRegularFile does (never waiting, regular files only, the same problem
    // texts); a file open before is closed first.
    bool open(const QString& path, QString& problem);
    // Takes over `descriptor`, a regular file open for writing and standing where writing
    // starts; a file open before is closed first.
    void adopt(int descriptor);
    bool isOpen() const { return fd >= 0; }
    int handle() const { return fd; }
    // The size when it was opened for reading.
    qint64 size() const { return length; }
    // Moves to byte `at` (a file just opened is at its start).
    bool seek(qint64 at, QString& problem);
    // Reads until `n` bytes, the end of the file or an error: the bytes read, or -1 with
    // `problem` set.
    qint64 read(char* data, qint64 n, QString& problem);
    // Writes all `n` bytes; false with the system's reason in `problem` (for example "No
    // space left on device" or "File too large") when they cannot all be written.
    bool writeAll(const char* data, qint64 n, QString& problem);
    void close();

private:
    int fd = -1;
    qint64 length = 0;
};

// The entries of one folder, "." and ".." left out, each with the kind the listing itself
// gives, so that a folder of many files costs no status call per file. Links, pipes, devices
// and entries whose kind the file system does not give are Other: the caller looks at those
// itself. A name that is not valid text in the system's encoding is BadName: its text cannot
// name the entry again. A folder that cannot be opened lists nothing.
class FolderListing {
public:
    enum class Kind { File, Folder, Other, BadName };
    explicit FolderListing(const QString& path);
    ~FolderListing();
    FolderListing(const FolderListing&) = delete;
    FolderListing& operator=(const FolderListing&) = delete;

    // The next entry's name and kind; false once all are read.
    bool next(QString& name, Kind& kind);

private:
    void* folder = nullptr; // the system's folder handle
};

} // namespace FileSystem
