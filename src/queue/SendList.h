#pragma once
#include <QList>
#include <QObject>
#include <QString>

class Session;
class Transfers;
struct TransferOutcome;

// A plain in-order list of files to send, until the file queue takes its place: it offers
// the head entry whenever the control connection is logged in and no transfer runs. Entries
// put back by an unfinished transfer return to the front, but each file is offered at most
// `maxAttempts` times.
class SendList : public QObject {
    Q_OBJECT
public:
    SendList(Session& session, Transfers& transfers, QObject* parent = nullptr);

    int maxAttempts = 3;

    // Adds a file (offered under its own name) or a folder's files (offered under the
    // folder's name followed by their path below it). Links to folders are not entered;
    // links to files are taken only when the file lies inside the folder.
    void add(const QString& path);
    // Lets the list offer; a login makes it ready, a closed connection not. Until then
    // entries wait.
    void setReady(bool ready);
    // Entries not yet ended.
    int remaining() const { return static_cast<int>(entries.size()) + (inFlight ? 1 : 0); }
    // Files that ended, and how many of them completed.
    int ended() const { return endedCount; }
    int completed() const { return completedCount; }
    bool stopped() const { return stoppedFlag; }

Q_SIGNALS:
    // Every entry has ended (or the list stopped with nothing in flight).
    void idle();

private:
    struct Entry {
        QString path;
        QString name;
        int attempts = 0;
    };
    void next();
    void onEnded(const TransferOutcome& outcome);
    void onPutBack(const QString& path, const QString& name);

    Session& session;
    Transfers& transfers;
    QList<Entry> entries;
    bool inFlight = false;
    Entry current;
    bool ready = false;
    bool stoppedFlag = false;
    bool putBackSeen = false;
    int endedCount = 0;
    int completedCount = 0;
};
