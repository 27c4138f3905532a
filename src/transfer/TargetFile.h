#pragma once
#include <QString>
#include <QStringList>

#include "transfer/ExistingFileChoice.h"
#include "util/FileSystem.h"

// The receiver's target: the sub-folders below the download folder, made only once the
// transfer connection is up, and the file itself, opened so that nothing on its way leads
// out of the download folder. Each folder is opened and checked as it is opened (a folder
// swapped for a link after the offer was decided is caught), and the file's own entry is
// never followed when it is a link. A file that is replaced (overwrite, or a resume of a
// file longer than the offer) gets a new directory entry: other hard links and link targets
// keep their old content.
class TargetFile {
public:
    struct Request {
        QString root;   // the download folder
        QString folder; // the target folder: root plus the offered sub-folders, ending in "/"
        QString name;   // the file name in that folder
        ExistingFileChoice choice = ExistingFileChoice::None;
        QString newName;    // the typed name for TypedName
        qint64 size = 0;    // the offered size
        qint64 block = 512; // the offered block size (resume offsets)
    };

    // The target folder of the files before, kept open so that a run of files into one folder
    // opens and checks it once.
    class FolderCache {
    public:
        FolderCache() = default;
        FolderCache(const FolderCache&) = delete;
        FolderCache& operator=(const FolderCache&) = delete;
        ~FolderCache() { forget(); }
        void forget();
        // The open folder when it is `folder` below the download folder `root`, else -1.
        int descriptorFor(const QString& downloadFolder, const QString& targetFolder) const
        {
            return fd >= 0 && root == downloadFolder && folder == targetFolder ? fd : -1;
        }
        // A folder below the download folder `root` is kept open.
        bool keepsBelow(const QString& downloadFolder) const { return fd >= 0 && root == downloadFolder; }

    private:
        friend class TargetFile;
        QString root;
        QString folder;
        int fd = -1;
    };

    // Makes the missing sub-folders and opens the target for writing into `file`,
    // positioned at resumeAt(). False with the text of the error line in `problem`. With a
    // cache, a folder opened for the file before is used again.
    bool open(FileSystem::RegularFile& file, const Request& request, QString& problem, FolderCache* cache = nullptr);

    // The file name finally used (NumberedName and TypedName change it) and where writing starts.
    QString name() const { return finalName; }
    qint64 resumeAt() const { return resumeOffset; }

    // After a transfer that ended before any data: removes the file this target created
    // while it is still empty, then the folders it created while they are empty.
    void discardUnused();

private:
    // Opens the download folder `root` and the sub-folders of the request below it, making
    // the missing ones; `at` becomes the target folder. The folder's descriptor, or -1 with
    // the error text in `problem`.
    int openFolders(const Request& request, const QString& root, QString& at, QString& problem);
    // Opens the file `target` in the open folder `dir` as the request's choice says. Its
    // descriptor, or -1 with the reason in `why`.
    int openTarget(int dir, const Request& request, const QString& target, QString& why);
    // Resume: the file already there, cut back to the resume offset. -1 when it is missing
    // (a new file), longer than the offer (`replace` is set), or cannot be opened (`why`).
    int openForResume(int dir, const QByteArray& name, const Request& request, bool& replace, QString& why);

    QString finalName;
    qint64 resumeOffset = 0;
    QStringList createdFolders; // in the order they were made
    QString createdFile;
};
