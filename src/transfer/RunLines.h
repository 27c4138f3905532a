#pragma once
#include <QByteArray>
#include <QList>

// The pieces of a run's command lines (docs/protocol.md, "run"): fields separated by one
// space, numbers as plain decimals.
namespace RunLines {

// The fields of a command line: at most `count`, the last one taking the rest of the line
// (a file name may hold spaces).
QList<QByteArray> fieldsOf(const QByteArray& line, int count);

// A file number or byte count: 1 to 18 decimal digits, nothing else.
bool parseNumber(const QByteArray& text, qint64& value);
bool parseNumber(const QByteArray& text, quint64& value);

} // namespace RunLines
