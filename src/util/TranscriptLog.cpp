#include "util/TranscriptLog.h"

#include "config/Options.h"
#include "platform/Windows1252.h"
#include "util/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

TranscriptLog::TranscriptLog(Options& o, const QString& folder) : options(o), programFolder(folder)
{}

namespace {

// The line's UTF-8 length, and CR LF.
qsizetype writtenSize(const QString& line)
{
    qsizetype n = 2;
    for (const QChar c : line)
        n += c.unicode() < 0x80 ? 1 : c.unicode() < 0x800 || c.isSurrogate() ? 2 : 3;
    return n;
}

// One line of an existing log as UTF-8: kept when it is UTF-8 already, otherwise read as
// Windows-1252 (what earlier versions wrote).
QByteArray asUtf8(const QByteArray& line, bool& changed)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    [[maybe_unused]] const QString text = utf8(line);
    if (!utf8.hasError())
        return line;
    changed = true;
    return Windows1252::decode(line).toUtf8();
}

// Passes the file line by line through asUtf8, a block at a time; `out` null only checks.
// Returns whether any line changed; false after a read or write error.
bool passLines(QFile& in, QIODevice* out)
{
    bool changed = false;
    QByteArray rest;
    while (!in.atEnd() || !rest.isEmpty()) {
        const QByteArray block = in.read(1 << 20);
        if (block.isEmpty() && !in.atEnd())
            return false; // a read error: the file is left as it is
        rest += block;
        qsizetype end = rest.lastIndexOf('\n');
        if (end < 0 && !in.atEnd())
            continue; // a line longer than the block
        end = end < 0 || in.atEnd() ? rest.size() : end + 1;
        QByteArray converted;
        for (const QByteArray& line : rest.left(end).split('\n'))
            converted += asUtf8(line, changed) + '\n';
        converted.chop(1);
        if (!out && changed)
            return true;
        if (out && out->write(converted) != converted.size())
            return false;
        rest.remove(0, end);
    }
    return changed;
}

// Earlier versions wrote the log in Windows-1252. A file that still holds such lines is
// rewritten in UTF-8 before anything is appended, so that the whole file reads in one
// encoding. Lines that are UTF-8 already stay as they are.
void convertOldLog(const QString& path)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly) || !passLines(in, nullptr) || !in.seek(0))
        return;
    QSaveFile out(path);
    if (out.open(QIODevice::WriteOnly) && passLines(in, &out))
        out.commit();
}

} // namespace

void TranscriptLog::addLine(const QString& line)
{
    LogList.append(line);
    heldBytes += writtenSize(line);
    ++untried;
    // While writes fail, size alone does not retry (that would be a try a line); the oldest
    // lines make room instead.
    if (untried > batchLimit || (heldBytes > sizeLimit && problem.isEmpty()))
        flushLog();
    dropOldest();
}

void TranscriptLog::dropOldest()
{
    while (heldBytes > sizeLimit && !LogList.isEmpty()) {
        heldBytes -= writtenSize(LogList.takeFirst());
        ++dropped;
    }
}

QString TranscriptLog::fileName(int logMode, const QDate& d)
{
    switch (logMode) {
    case 0:
        return d.toString(QStringLiteral("MMddyyyy")) + QStringLiteral(".log");
    case 2:
        return d.toString(QStringLiteral("MMyyyy")) + QStringLiteral(".log");
    case 3:
        return QStringLiteral("QvLogs.log");
    default:
        return d.toString(QStringLiteral("yyyy")) + QStringLiteral(".log");
    }
}

QString TranscriptLog::flushLog(const QDate& today)
{
    untried = 0;
    if (LogList.isEmpty())
        return {};
    Options& o = options;
    if (o.logMode == 4) {
        LogList.clear();
        heldBytes = 0;
        problem.clear();
        return {};
    }
    QString folder = FileSystem::withTrailingSlash(o.logFolder);
    if (!FileSystem::folderExists(folder) && !FileSystem::makePath(folder)) {
        folder = QDir(programFolder).filePath(QStringLiteral("log")) + '/';
        o.logFolder = folder;
        FileSystem::makePath(folder);
    }
    QFile file(folder + fileName(o.logMode, today));
    if (file.fileName() != checkedFile) {
        convertOldLog(file.fileName());
        checkedFile = file.fileName();
    }
    QByteArray bytes;
    for (const QString& line : std::as_const(LogList))
        bytes += line.toUtf8() + "\r\n";
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(bytes) != bytes.size() || !file.flush()) {
        problem = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
        dropOldest();
        return problem;
    }
    LogList.clear();
    heldBytes = 0;
    problem.clear();
    return {};
}
