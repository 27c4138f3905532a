#include "util/TranscriptLog.h"

#include "config/Options.h"
#include "platform/Ansi.h"
#include "util/Lib.h"

#include <QDir>
#include <QFile>

TranscriptLog::TranscriptLog(Options& o, const QString& folder) : options(o), programFolder(folder) {}

void TranscriptLog::AddLogLine(const QString& line)
{
    LogList.append(line);
    if (LogList.size() > batchLimit)
        FlushLog();
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
    if (LogList.isEmpty())
        return {};
    Options& o = options;
    if (o.LogMode == 4) {
        LogList.clear();
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
        return problem;
    }
    LogList.clear();
    problem.clear();
    return {};
}
