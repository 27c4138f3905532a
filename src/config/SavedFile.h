#pragma once
#include <QByteArray>
#include <QString>

// Writes bytes to path as a whole: into a temporary file beside it that replaces the old one
// only once everything is written, so a full disk or a crash leaves the old file as it was.
// ownerOnly makes the file readable and writable by its owner only (keys, known peers).
// Returns why it failed, empty on success.
QString saveWholeFile(const QString& path, const QByteArray& bytes, bool ownerOnly = false);

// A line file of the program read back: at most maxBytes, and only from a regular file (a
// named pipe would hold the program in open()). A longer file is cut after its last whole
// line within the bound.
struct LinesRead {
    QByteArray bytes;
    bool usable = false; // bytes hold the file, or its beginning (also true when there is none)
    bool whole = false;  // ... all of it: only then may the file be written over
    QString problem;     // why not, naming the file; empty when whole
};
LinesRead readLineFile(const QString& path, qint64 maxBytes);

// saveWholeFile for a file read by readLineFile: refused, with the reason, while the last read
// did not take all of a file that is there, so nothing unread is written over. `what` names
// the file's contents in the refusal ("entries", "settings").
QString saveLineFile(const QString& path, const QByteArray& bytes, bool readWhole, bool ownerOnly, const QString& what);
