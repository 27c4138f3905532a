#pragma once
#include "util/FileHasher.h"

#include <QObject>
#include <QString>

#include <memory>

// The checksum of the whole file on our side of a transfer between two peers that share
// "verify", and the one the peer names in "CHECK_SUM". From byte 0 it is taken from the
// blocks as they are sent or written; when the transfer starts past the beginning, the file
// is read on a worker meanwhile (a growing file trailing the writes on the receiver).
class TransferChecksum : public QObject {
    Q_OBJECT
public:
    explicit TransferChecksum(QObject* parent = nullptr);

    // Sender: the file at `path` of `size` bytes, whose blocks go out from `from`.
    void startSending(qint64 from, const QString& path, qint64 size);
    // Receiver: the open file `handle`, whose bytes up to `from` are on disk already.
    void startReceiving(qint64 from, int handle);
    // Bytes that went out or were written, in order (taken only when fromBlocks()).
    void add(const char* data, qint64 n);
    // Receiver: the file read on the worker holds its bytes up to `limit`.
    void extend(qint64 limit)
    {
        if (hasher)
            hasher->extend(limit);
    }
    // The file ends at `length`: the worker's done() follows once it has read that far.
    void finish(qint64 length)
    {
        if (hasher)
            hasher->finish(length);
    }
    // Forgets the worker's job.
    void stop()
    {
        if (hasher)
            hasher->stop();
    }

    // The checksum is taken from the blocks (not read from the file).
    bool fromBlocks() const { return stream != nullptr; }
    // Our checksum of the blocks so far.
    QString blocksResult() const { return stream->result(); }

    QString own;           // our checksum, once known (empty when it could not be computed)
    bool ownKnown = false; // `own` is final: computed, or failed (see problem)
    QString problem;       // why our checksum could not be computed
    QString peer;          // the checksum in "CHECK_SUM" (received, or sent by us)
    bool matched = false;  // the receiver found the same checksum

Q_SIGNALS:
    // The worker finished: 32 hexadecimal digits, or empty with the problem.
    void done(const QString& checksum, const QString& problem);

private:
    // Made only for a file read from disk: most files are taken from their blocks, and a
    // hasher holds a thread object.
    std::unique_ptr<FileHasher> hasher;
    void startHasher(const QString& path, qint64 length);
    std::unique_ptr<StreamChecksum> stream;
};
