#pragma once
#include <QDate>
#include <QString>
#include <QStringList>

#include <utility>

struct Options;

// Collects every shown line and appends it to the log file in batches: when more than
// batchLimit lines wait, when the waiting text exceeds sizeLimit bytes, and on flushLog() (at
// exit, and from the peer when the lines have stopped for a moment). logMode and logFolder of the
// option set decide whether and where; the name comes from the date of the flush. A logFolder
// that cannot be made falls back to "log" in the program folder. The file is UTF-8; one an
// earlier version wrote in Windows-1252 is converted to UTF-8 before the first append to it.
//
// A write that fails keeps the lines for the next try. While writes fail the buffer holds at
// most sizeLimit bytes: the oldest lines are dropped (and counted) to make room, and a retry
// comes with every further batchLimit lines rather than with every line.
class TranscriptLog {
public:
    TranscriptLog(Options& options, const QString& programFolder);

    int batchLimit = 300;
    qsizetype sizeLimit = 1 << 20; // bytes as written, CR LF included

    void addLine(const QString& line);
    // Writes or discards the buffered lines. Returns an empty text, or why the lines could
    // not be written (they stay buffered for the next try).
    QString flushLog(const QDate& today = QDate::currentDate());

    qsizetype pending() const { return LogList.size(); }
    qsizetype pendingBytes() const { return heldBytes; }
    // How many lines were dropped unwritten since the last call.
    qint64 takeDropped() { return std::exchange(dropped, 0); }
    // The last write problem, empty when the last flush went well.
    QString lastProblem() const { return problem; }

    static QString fileName(int logMode, const QDate& date);

private:
    void dropOldest();

    Options& options;
    const QString programFolder;
    QStringList LogList;
    qsizetype heldBytes = 0;
    int untried = 0; // lines added since the last flush attempt
    qint64 dropped = 0;
    QString problem;
    QString checkedFile; // the file last checked for lines in the old encoding
};
