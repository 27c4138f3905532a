#pragma once
#include <QByteArray>
#include <QString>

// Writes bytes to path as a whole: into a temporary file beside it that replaces the old one
// only once everything is written, so a full disk or a crash leaves the old file as it was.
// ownerOnly makes the file readable and writable by its owner only (keys, known peers).
// Returns why it failed, empty on success.
QString saveWholeFile(const QString& path, const QByteArray& bytes, bool ownerOnly = false);
