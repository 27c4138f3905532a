#include "config/ProgramSettings.h"

#include "config/SavedFile.h"

#include <QDir>

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
    LinesRead read = readLineFile(path, MaxFileSize);
    readWhole = read.whole;
    QString why = read.problem;
    QByteArray& bytes = read.bytes;
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
                          .arg(QDir::toNativeSeparators(path), QString::fromLatin1(ModeKey), QString::fromUtf8(value));
        }
    }
    if (problem)
        *problem = why;
    return read.usable;
}

bool ProgramSettings::save(QString* problem) const
{
    const QByteArray value =
        privateMode == PrivateMode::Auto && !unknownMode.isEmpty() ? unknownMode : modeName(privateMode).toLatin1();
    QList<QByteArray> out = lines;
    const QByteArray modeText = QByteArray(ModeKey) + '=' + value;
    if (modeLine >= 0)
        out[modeLine] = modeText;
    else
        out << modeText;
    const QString why = saveLineFile(path, out.join('\n') + '\n', readWhole, false, QStringLiteral("settings"));
    readWhole = readWhole || why.isEmpty();
    if (problem)
        *problem = why;
    return why.isEmpty();
}
