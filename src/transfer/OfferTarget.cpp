#include "transfer/OfferTarget.h"

#include "transfer/TransferRules.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

OfferTarget::Entry OfferTarget::lookAt(const QString& path)
{
    return lookAt(path, AT_FDCWD, path);
}

OfferTarget::Entry OfferTarget::lookAt(const QString& path, int dir, const QString& leaf)
{
    Entry e;
    e.path = path;
    const QByteArray name = QFile::encodeName(leaf);
    struct stat st {};
    if (::fstatat(dir, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return e;
    e.present = true;
    e.link = S_ISLNK(st.st_mode);
    if (e.link && ::fstatat(dir, name.constData(), &st, 0) != 0)
        return e; // a broken link: neither file nor folder
    e.folder = S_ISDIR(st.st_mode);
    e.file = S_ISREG(st.st_mode);
    e.size = st.st_size;
    return e;
}

QString OfferTarget::problemAt(const QString& root, const Entry& entry)
{
    if (!TransferRules::staysInside(root, entry.path))
        return QStringLiteral("%1 is a link that leads out of %2").arg(entry.path, root);
    if (entry.folder)
        return QStringLiteral("%1 is a folder").arg(entry.path);
    return {};
}

bool OfferTarget::checkFolders(const QString& root, const QStringList& parts, bool inRun, QString& folder,
                               QString& problem)
{
    folder = root;
    bool missing = false; // a folder on the way does not exist: nor can any below it
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        folder += parts[i] + '/';
        // In a run of files the folders of one file are mostly those of the file before:
        // each is checked once per run (the target's opening checks them again anyway).
        // Below a missing folder there is nothing to check: each check would walk up to the
        // missing one again, and a deep name would hold the event loop for minutes.
        if (missing || (inRun && runFolders.contains(folder)))
            continue;
        if (!TransferRules::staysInside(root, folder)) {
            problem = QStringLiteral("the folder %1 leads out of %2").arg(folder, root);
            return false;
        }
        const QFileInfo info(folder);
        if (info.exists() && !info.isDir()) {
            problem = QStringLiteral("%1 is not a folder").arg(folder);
            return false;
        }
        if (inRun && info.isDir() && runFolders.size() < 4096)
            runFolders.insert(folder);
        missing = !info.exists() && !info.isSymLink();
    }
    return true;
}
