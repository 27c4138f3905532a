#include "transfer/ChecksumExchange.h"

#include "session/ControlMessages.h"
#include "session/Session.h"

ChecksumExchange::ChecksumExchange(Session& s, QObject* parent) : QObject(parent), session(s)
{
    waitTimer.setSingleShot(true);
    connect(&waitTimer, &QTimer::timeout, this, [this] { finish(true); });
    connect(&localHasher, &FileHasher::done, this, &ChecksumExchange::onLocalChecksum);
    connect(&session, &Session::checksumAnswered, this, &ChecksumExchange::receiveAnswer);
    connect(&answerHasher, &FileHasher::done, this, [this](const QString& checksum) {
        session.sendControlMessage(ControlMessages::checksumAnswer(answerName, answerLength, checksum));
    });
}

void ChecksumExchange::compare(const QString& offered, const QString& path, qint64 bytes, int waitMs,
                               std::function<void(bool)> next)
{
    wire = offered;
    length = bytes;
    localSum.clear();
    remoteSum.clear();
    localKnown = remoteKnown = false;
    then = std::move(next);
    session.sendControlMessage(ControlMessages::checksumQuestion(wire, length));
    localHasher.start(path, length);
    waitTimer.start(waitMs);
}

void ChecksumExchange::stop()
{
    waitTimer.stop();
    localHasher.stop();
    then = nullptr;
}

void ChecksumExchange::onLocalChecksum(const QString& checksum)
{
    if (!then)
        return;
    localSum = checksum;
    localKnown = true;
    finish(false);
}

void ChecksumExchange::receiveAnswer(const QString& name, qint64 bytes, const QString& checksum)
{
    if (!then || wire != name || length != bytes || remoteKnown)
        return; // not the question open here
    remoteSum = checksum;
    remoteKnown = true;
    finish(false);
}

void ChecksumExchange::finish(bool timedOut)
{
    if (!then || (!timedOut && !(localKnown && remoteKnown)))
        return;
    waitTimer.stop();
    localHasher.stop();
    const bool same = !timedOut && !localSum.isEmpty() && localSum == remoteSum;
    std::exchange(then, nullptr)(same);
}

void ChecksumExchange::answer(const QString& name, qint64 bytes, const QString& path)
{
    if (path.isEmpty()) {
        // Not the file on offer: no checksum, so the asker takes its file for another.
        session.sendControlMessage(ControlMessages::checksumAnswer(name, bytes, QString()));
        return;
    }
    answerName = name;
    answerLength = bytes;
    answerHasher.start(path, bytes);
}
