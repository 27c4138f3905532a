#include "queue/SendList.h"

#include "session/Session.h"
#include "transfer/Transfers.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTimer>

SendList::SendList(Session& s, Transfers& t, QObject* parent) : QObject(parent), session(s), transfers(t)
{
    connect(&transfers, &Transfers::putBack, this, &SendList::onPutBack);
    connect(&transfers, &Transfers::stopQueue, this, [this] { stoppedFlag = true; });
    connect(&transfers, &Transfers::transferEnded, this, &SendList::onEnded);
    connect(&transfers, &Transfers::readyToOffer, this, &SendList::next);
    connect(&session, &Session::loggedIn, this, [this] { setReady(true); });
    connect(&session, &Session::sockClosed, this, [this] { ready = false; }); // until the next login
}

void SendList::add(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        // A folder goes as its files, offered under the folder's name and their sub-folders.
        // Linked folders are not entered (so no link loop is ever followed), and a linked
        // file is sent only when it lies inside the folder itself.
        const QDir base = info.dir();
        const QString inside = info.canonicalFilePath() + '/';
        QStringList files;
        QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo f(it.next());
            if (!f.isSymLink() || f.canonicalFilePath().startsWith(inside))
                files << f.filePath();
        }
        files.sort();
        for (const QString& f : files)
            entries.append({f, base.relativeFilePath(f), 0});
    } else {
        entries.append({path, info.fileName(), 0});
    }
    stoppedFlag = false; // a new file is a new start, as "Go" would be
    QTimer::singleShot(0, this, &SendList::next);
}

void SendList::setReady(bool r)
{
    ready = r;
    if (ready)
        QTimer::singleShot(0, this, &SendList::next);
}

void SendList::next()
{
    if (inFlight || transfers.current() || transfers.offerPending())
        return;
    if (entries.isEmpty() || stoppedFlag) {
        Q_EMIT idle();
        return;
    }
    if (!ready)
        return;
    current = entries.takeFirst();
    ++current.attempts;
    inFlight = true;
    putBackSeen = false;
    if (!transfers.offerFile(current.path, current.name)) {
        // Not offered. A file that cannot be read has ended (transferEnded said so); anything
        // else (no connection, a transfer of the peer's running) waits for the next chance.
        if (inFlight) {
            inFlight = false;
            --current.attempts;
            entries.prepend(current);
        }
    }
}

void SendList::onPutBack(const QString& path, const QString&)
{
    if (inFlight && path == current.path)
        putBackSeen = true;
}

void SendList::onEnded(const TransferOutcome& outcome)
{
    if (!outcome.sending) {
        QTimer::singleShot(0, this, &SendList::next); // a received file freed the one transfer slot
        return;
    }
    if (!inFlight || outcome.path != current.path)
        return;
    inFlight = false;
    if (putBackSeen && current.attempts < maxAttempts) {
        entries.prepend(current);
    } else {
        ++endedCount;
        if (outcome.complete)
            ++completedCount;
    }
    QTimer::singleShot(0, this, &SendList::next);
}
