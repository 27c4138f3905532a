#include "config/ProgramSettings.h"

#include "config/SavedFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr char FileName[] = "zantiro.ini";
constexpr char ModeKey[] = "private-connections";

// The key of a "key=value" line, empty for a comment or a line without "=".
QByteArray keyOf(const QByteArray& line)
{
    const QByteArray t = line.trimmed();
    if (t.startsWith('#') || t.startsWith(';'))
        return {};
    const qsizetype eq = t.indexOf('=');
    return eq < 0 ? QByteArray() : t.left(eq).trimmed();
}

} // namespace

ProgramSettings::ProgramSettings(const QString& programFolder) : path(filePath(programFolder))
{}

QString ProgramSettings::filePath(const QString& programFolder)
{
    return QDir(programFolder).filePath(QString::fromLatin1(FileName));
}

QString ProgramSettings::modeName(PrivateMode mode)
{
    switch (mode) {
    case PrivateMode::Always:
        return QStringLiteral("always");
    case PrivateMode::Never:
        return QStringLiteral("never");
    case PrivateMode::Auto:
        break;
    }
    return QStringLiteral("auto");
}

bool ProgramSettings::parseMode(const QString& text, PrivateMode& mode)
{
    for (const PrivateMode m : {PrivateMode::Auto, PrivateMode::Always, PrivateMode::Never})
        if (text.compare(modeName(m), Qt::CaseInsensitive) == 0) {
            mode = m;
            return true;
        }
    return false;
}

bool ProgramSettings::load(QString* problem)
{
    privateMode = PrivateMode::Auto;
    lines.clear();
    modeLine = -1;
    unknownMode.clear();
    readWhole = false;
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    QString why;
    QByteArray bytes;
    bool read = false;
    QFile file(path);
    if (!info.exists() && !info.isSymLink()) {
        readWhole = read = true;
    } else if (!info.isFile() || !file.open(QIODevice::ReadOnly)) { // a named pipe would hold open()
        why = QStringLiteral("%1 cannot be read (%2)")
                  .arg(shown, info.isFile() ? file.errorString() : QStringLiteral("it is not a regular file"));
    } else {
        bytes = file.read(MaxFileSize + 1);
        read = file.error() == QFileDevice::NoError;
        readWhole = read && bytes.size() <= MaxFileSize;
        if (!read) {
            why = QStringLiteral("%1 cannot be read (%2)").arg(shown, file.errorString());
            bytes.clear();
        } else if (!readWhole) {
            bytes.truncate(bytes.lastIndexOf('\n', MaxFileSize - 1) + 1);
            why = QStringLiteral("%1 is larger than %2 KiB: only its beginning was read, and it is not written over")
                      .arg(shown)
                      .arg(MaxFileSize >> 10);
        }
    }
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    if (!bytes.isEmpty())
        lines = bytes.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (keyOf(lines[i]) == ModeKey)
            modeLine = i; // the last one counts
    if (modeLine >= 0) {
        const QByteArray& line = lines[modeLine];
        const QByteArray value = line.mid(line.indexOf('=') + 1).trimmed();
        if (!parseMode(QString::fromUtf8(value), privateMode)) {
            privateMode = PrivateMode::Auto;
            unknownMode = value;
            if (why.isEmpty())
                why = QStringLiteral("%1: %2 \"%3\" is none of auto, always, never; auto is used")
                          .arg(shown, QString::fromLatin1(ModeKey), QString::fromUtf8(value));
        }
    }
    if (problem)
        *problem = why;
    return read;
}

bool ProgramSettings::save(QString* problem) const
{
    const QFileInfo info(path);
    QString why;
    if (!readWhole && (info.exists() || info.isSymLink())) {
        why = QStringLiteral("%1 was not written: it holds settings that were not read")
                  .arg(QDir::toNativeSeparators(path));
    } else {
        const QByteArray value =
            privateMode == PrivateMode::Auto && !unknownMode.isEmpty() ? unknownMode : modeName(privateMode).toLatin1();
        QList<QByteArray> out = lines;
        const QByteArray modeText = QByteArray(ModeKey) + '=' + value;
        if (modeLine >= 0)
            out[modeLine] = modeText;
        else
            out << modeText;
        const QByteArray bytes = out.join('\n') + '\n';
        if (const QString error = saveWholeFile(path, bytes); !error.isEmpty())
            why = QStringLiteral("%1 could not be written (%2)").arg(QDir::toNativeSeparators(path), error);
        else
            readWhole = true;
    }
    if (problem)
        *problem = why;
    return why.isEmpty();
}
