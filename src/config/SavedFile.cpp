#include "config/SavedFile.h"

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
