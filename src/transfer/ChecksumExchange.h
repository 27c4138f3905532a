#pragma once
#include "util/FileHasher.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class Session;

// "hashq:" and "hasha:" between two peers that share "verify": the receiver asks for the
// checksum of the first bytes of the file on offer and compares it with its own file's; the
// sender answers for the file it has out. One comparison at a time.
class ChecksumExchange : public QObject {
    Q_OBJECT
public:
    explicit ChecksumExchange(Session& session, QObject* parent = nullptr);

    // Compares the first `length` bytes of the local file `path` with the offered file
    // `wire` ("hashq:" to the sender, ours read meanwhile); `then` runs with the answer once
    // both checksums are known, or with false after `waitMs`.
    void compare(const QString& wire, const QString& path, qint64 length, int waitMs,
                 std::function<void(bool same)> then);
    // Forgets the comparison: `then` is not called.
    void stop();
    // Sends the checksum of the first `length` bytes of `path` for "hashq:" about `name`
    // once it is read; with an empty path at once, without a checksum.
    void answer(const QString& name, qint64 length, const QString& path);

private:
    void receiveAnswer(const QString& name, qint64 length, const QString& checksum);
    void onLocalChecksum(const QString& checksum);
    void finish(bool timedOut);

    Session& session;
    QTimer waitTimer;
    FileHasher localHasher;  // our side of the comparison
    FileHasher answerHasher; // the checksum a "hashq:" asked for
    QString answerName;
    qint64 answerLength = 0;
    // The comparison under way (none while `then` is empty).
    std::function<void(bool)> then;
    QString wire;
    qint64 length = 0;
    QString localSum, remoteSum;
    bool localKnown = false, remoteKnown = false;
};
