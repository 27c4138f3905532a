#include "config/SavedFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>

QString saveWholeFile(const QString& path, const QByteArray& bytes, bool ownerOnly)
{
    QSaveFile file(path);
    // Unbuffered, so that a write the disk cuts short is seen at once.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.errorString();
    if ((ownerOnly && ::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0) || file.write(bytes) != bytes.size()
        || !file.commit()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return why.isEmpty() ? QStringLiteral("write error") : why;
    }
    return {};
}

LinesRead readLineFile(const QString& path, qint64 maxBytes)
{
    LinesRead r;
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        r.usable = r.whole = true;
        return r;
    }
    QFile file(path);
    if (!info.isFile()) {
        r.problem = QStringLiteral("%1 cannot be read: it is not a regular file").arg(shown);
        return r;
    }
    if (!file.open(QIODevice::ReadOnly) || (r.bytes = file.read(maxBytes + 1), file.error() != QFileDevice::NoError)) {
        r.bytes.clear();
        r.problem = QStringLiteral("%1 cannot be read (%2)").arg(shown, file.errorString());
        return r;
    }
    r.usable = true;
    r.whole = r.bytes.size() <= maxBytes;
    if (!r.whole) {
        r.bytes.truncate(r.bytes.lastIndexOf('\n', maxBytes - 1) + 1);
        const QString bound = maxBytes >= (1 << 20) ? QStringLiteral("%1 MiB").arg(maxBytes >> 20)
                                                    : QStringLiteral("%1 KiB").arg(maxBytes >> 10);
        r.problem = QStringLiteral("%1 is larger than %2: only its beginning was read, and it is not written over")
                        .arg(shown, bound);
    }
    return r;
}

QString saveLineFile(const QString& path, const QByteArray& bytes, bool readWhole, bool ownerOnly, const QString& what)
{
    const QFileInfo info(path);
    if (!readWhole && (info.exists() || info.isSymLink()))
        return QStringLiteral("%1 was not written: it holds %2 that were not read")
            .arg(QDir::toNativeSeparators(path), what);
    if (const QString error = saveWholeFile(path, bytes, ownerOnly); !error.isEmpty())
        return QStringLiteral("%1 could not be written (%2)").arg(QDir::toNativeSeparators(path), error);
    return {};
}
