#include "util/FileHasher.h"

#include "util/FileSystem.h"

#include <QFile>

#include <atomic>

#include <xxhash.h>

namespace {

QString hexOf(XXH128_hash_t hash)
{
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, hash);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(canonical.digest), sizeof canonical.digest).toHex());
}

} // namespace

StreamChecksum::StreamChecksum() : state(XXH3_createState())
{
    XXH3_128bits_reset(static_cast<XXH3_state_t*>(state));
}

StreamChecksum::~StreamChecksum()
{
    XXH3_freeState(static_cast<XXH3_state_t*>(state));
}

void StreamChecksum::add(const char* data, qint64 n)
{
    XXH3_128bits_update(static_cast<XXH3_state_t*>(state), data, static_cast<size_t>(n));
}

QString StreamChecksum::result() const
{
    return hexOf(XXH3_128bits_digest(static_cast<const XXH3_state_t*>(state)));
}

// What the owner and the worker share about one file.
struct FileHasher::Job {
    QString path;
    quint64 serial = 0;
    std::atomic<qint64> limit{0};
    std::atomic<qint64> length{-1}; // -1 until known
    std::atomic<bool> cancelled{false};
    std::atomic<bool> posted{false}; // a turn of the worker is already asked for
    // Only the worker touches these.
    QFile file;
    XXH3_state_t* state = nullptr;
    qint64 position = 0;
    bool over = false;
    ~Job()
    {
        if (state)
            XXH3_freeState(state);
    }
};

// Lives on the worker thread; reads and hashes whenever it is asked to go on, and posts the
// result back to the owner's thread.
class FileHasher::Worker : public QObject {
public:
    explicit Worker(FileHasher* o) : owner(o) {}
    void work(const std::shared_ptr<Job>& job)
    {
        Job& j = *job;
        j.posted = false; // a limit moved on from here on asks for another turn
        if (j.over || j.cancelled)
            return;
        if (!j.state) {
            j.state = XXH3_createState();
            QString problem;
            if (!j.state || XXH3_128bits_reset(j.state) != XXH_OK)
                return fail(job, QStringLiteral("cannot read ") + j.path + QStringLiteral(" - out of memory"));
            // Never waits on the open: a path swapped for a named pipe would hold this thread,
            // and the owner waits for it when it goes.
            if (!FileSystem::openRegularFile(j.file, j.path, QIODevice::Unbuffered, problem))
                return fail(job, QStringLiteral("cannot read ") + j.path + QStringLiteral(" - ") + problem);
        }
        buffer.resize(1 << 20);
        for (;;) {
            if (j.cancelled)
                return;
            const qint64 length = j.length.load();
            const qint64 limit = length >= 0 ? length : j.limit.load();
            if (j.position < limit) {
                const qint64 want = std::min<qint64>(buffer.size(), limit - j.position);
                const qint64 got = j.file.read(buffer.data(), want);
                if (got <= 0)
                    return fail(job,
                                QStringLiteral("cannot read ") + j.path + QStringLiteral(" - ")
                                    + (got < 0 ? j.file.errorString() : QStringLiteral("it is shorter than expected")));
                XXH3_128bits_update(j.state, buffer.constData(), static_cast<size_t>(got));
                j.position += got;
                continue;
            }
            if (length >= 0 && j.position >= length) {
                j.over = true;
                j.file.close();
                finished(j.serial, hexOf(XXH3_128bits_digest(j.state)), QString());
            }
            return; // until the limit moves on
        }
    }

private:
    void finished(quint64 serial, const QString& checksum, const QString& problem)
    {
        // The owner waits for this thread before it goes, so it is there to post to.
        QMetaObject::invokeMethod(
            owner, [o = owner, serial, checksum, problem] { o->onWorkerDone(serial, checksum, problem); },
            Qt::QueuedConnection);
    }
    FileHasher* owner;
    void fail(const std::shared_ptr<Job>& job, const QString& problem)
    {
        job->over = true;
        job->file.close();
        finished(job->serial, QString(), problem);
    }
    QByteArray buffer;
};

FileHasher::FileHasher(QObject* parent) : QObject(parent)
{}

FileHasher::~FileHasher()
{
    stop();
    if (thread.isRunning()) {
        thread.quit();
        thread.wait();
    }
    delete worker;
}

void FileHasher::start(const QString& path, qint64 length)
{
    stop();
    if (!worker) {
        worker = new Worker(this);
        worker->moveToThread(&thread);
        thread.start(QThread::LowPriority);
    }
    job = std::make_shared<Job>();
    job->path = path;
    job->serial = ++serial;
    job->length = length;
    job->posted = true;
    QMetaObject::invokeMethod(
        worker, [w = worker, j = job] { w->work(j); }, Qt::QueuedConnection);
}

void FileHasher::extend(qint64 limit)
{
    if (!job || limit <= job->limit.load())
        return;
    job->limit = limit;
    if (!job->posted.exchange(true))
        QMetaObject::invokeMethod(
            worker, [w = worker, j = job] { w->work(j); }, Qt::QueuedConnection);
}

void FileHasher::finish(qint64 length)
{
    if (!job)
        return;
    job->length = length;
    if (!job->posted.exchange(true))
        QMetaObject::invokeMethod(
            worker, [w = worker, j = job] { w->work(j); }, Qt::QueuedConnection);
}

void FileHasher::stop()
{
    if (job)
        job->cancelled = true;
    job.reset();
}

void FileHasher::onWorkerDone(quint64 finished, const QString& checksum, const QString& problem)
{
    if (!job || job->serial != finished)
        return; // a job given up meanwhile
    job.reset();
    Q_EMIT done(checksum, problem);
}

QString FileHasher::checksumOf(const QByteArray& bytes)
{
    return hexOf(XXH3_128bits(bytes.constData(), static_cast<size_t>(bytes.size())));
}
