#include "util/TranscriptLog.h"

#include "config/Options.h"
#include "platform/Ansi.h"
#include "util/Lib.h"

#include <QDir>
#include <QFile>

TranscriptLog::TranscriptLog(Options& o, const QString& folder) : options(o), programFolder(folder) {}

namespace {

// One byte a character in the file, and CR LF.
qsizetype writtenSize(const QString& line)
{
    return line.size() + 2;
}

} // namespace

void TranscriptLog::AddLogLine(const QString& line)
{
    LogList.append(line);
    heldBytes += writtenSize(line);
    ++untried;
    // While writes fail, size alone does not retry (that would be a try a line); the oldest
    // lines make room instead.
    if (untried > batchLimit || (heldBytes > sizeLimit && problem.isEmpty()))
        FlushLog();
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
    case 0: return d.toString(QStringLiteral("MMddyyyy")) + QStringLiteral(".log");
    case 2: return d.toString(QStringLiteral("MMyyyy")) + QStringLiteral(".log");
    case 3: return QStringLiteral("QvLogs.log");
    default: return d.toString(QStringLiteral("yyyy")) + QStringLiteral(".log");
    }
}

QString TranscriptLog::FlushLog(const QDate& today)
{
    untried = 0;
    if (LogList.isEmpty())
        return {};
    Options& o = options;
    if (o.LogMode == 4) {
        LogList.clear();
        heldBytes = 0;
        problem.clear();
        return {};
    }
    QString folder = Lib::AddSlash(o.LogDir);
    if (!Lib::DirExists(folder) && !Lib::MakePath(folder)) {
        folder = QDir(programFolder).filePath(QStringLiteral("log")) + '/';
        o.LogDir = folder;
        Lib::MakePath(folder);
    }
    QFile file(folder + fileName(o.LogMode, today));
    QByteArray bytes;
    for (const QString& line : std::as_const(LogList))
        bytes += Ansi::encode(line) + "\r\n";
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
