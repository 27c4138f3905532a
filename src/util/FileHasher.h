#pragma once
#include <QObject>
#include <QString>
#include <QThread>

#include <memory>

// The checksum of bytes handed over in order, in the same form as FileHasher's: for a file
// that is read anyway, no second read is needed.
class StreamChecksum {
public:
    StreamChecksum();
    ~StreamChecksum();
    StreamChecksum(const StreamChecksum&) = delete;
    StreamChecksum& operator=(const StreamChecksum&) = delete;
    void add(const char* data, qint64 n);
    // 32 lowercase hexadecimal digits of everything added so far.
    QString result() const;

private:
    void* state; // XXH3_state_t
};

// The 128-bit checksum (XXH3-128) of the first bytes of a file, computed on a worker thread so
// that the event loop and a transfer never wait for a whole-file read. The file may still be
// growing: the worker hashes up to the limit it is given and goes on as the limit moves, and
// the result comes once the final length is known and reached. One hasher, one file; a new
// start() forgets the old one.
class FileHasher : public QObject {
    Q_OBJECT
public:
    explicit FileHasher(QObject* parent = nullptr);
    // Stops the worker (waiting at most for the piece it is reading).
    ~FileHasher() override;

    // Starts with `path` from byte 0. With `length` >= 0 that is the whole job; otherwise
    // extend() and finish() say how far the file has come.
    void start(const QString& path, qint64 length = -1);
    // The file holds its bytes up to `limit`: they may be hashed now.
    void extend(qint64 limit);
    // The file ends at `length`; done() follows once that far.
    void finish(qint64 length);
    // Forgets the current job; no done() follows for it.
    void stop();
    // A job was started and its done() has not come yet.
    bool busy() const { return job != nullptr; }

    // The checksum of bytes held in memory, in the same form as done() gives it.
    static QString checksumOf(const QByteArray& bytes);

Q_SIGNALS:
    // 32 lowercase hexadecimal digits; empty with `problem` set when the file could not be
    // read that far.
    void done(const QString& checksum, const QString& problem);

private:
    struct Job;
    class Worker;
    void onWorkerDone(quint64 finished, const QString& checksum, const QString& problem);

    QThread thread;
    Worker* worker = nullptr;
    std::shared_ptr<Job> job;
    quint64 serial = 0;
};
