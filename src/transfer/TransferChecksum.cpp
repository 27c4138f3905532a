#include "transfer/TransferChecksum.h"

TransferChecksum::TransferChecksum(QObject* parent) : QObject(parent)
{}

void TransferChecksum::startHasher(const QString& path, qint64 length)
{
    if (!hasher) {
        hasher = std::make_unique<FileHasher>();
        connect(hasher.get(), &FileHasher::done, this, &TransferChecksum::done);
    }
    hasher->start(path, length);
}

void TransferChecksum::startSending(qint64 from, const QString& path, qint64 size)
{
    if (from == 0)
        stream = std::make_unique<StreamChecksum>();
    else
        startHasher(path, size);
}

void TransferChecksum::startReceiving(qint64 from, int handle)
{
    if (from == 0) {
        stream = std::make_unique<StreamChecksum>(); // the bytes as they are written
        return;
    }
    // A resumed file: what is on disk, read through a descriptor of its own on the worker,
    // trailing the writes.
    startHasher(QStringLiteral("/proc/self/fd/%1").arg(handle), -1);
    hasher->extend(from);
}

void TransferChecksum::add(const char* data, qint64 n)
{
    if (stream)
        stream->add(data, n);
}
