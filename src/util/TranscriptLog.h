#pragma once
#include <QDate>
#include <QString>
#include <QStringList>

struct Options;

// Collects every shown line and appends it to the log file in batches: when more than
// batchLimit lines wait, and on FlushLog() (at exit). LogMode and LogDir of the option set
// decide whether and where; the name comes from the date of the flush. A LogDir that cannot
// be made falls back to "log" in the program folder.
class TranscriptLog {
public:
    TranscriptLog(Options& options, const QString& programFolder);

    int batchLimit = 300;

    void AddLogLine(const QString& line);
    // Writes or discards the buffered lines. Returns an empty text, or why the lines could
    // not be written (they stay buffered for the next try).
    QString FlushLog(const QDate& today = QDate::currentDate());

    qsizetype pending() const { return LogList.size(); }
    // Drops the buffered lines unwritten.
    void clear() { LogList.clear(); }
    // The last write problem, empty when the last flush went well.
    QString lastProblem() const { return problem; }

    static QString fileName(int logMode, const QDate& date);

private:
    Options& options;
    const QString programFolder;
    QStringList LogList;
    QString problem;
};
