// Queueing many entries: adds N entries to a peer's file queue and, as the reference, the
// same paths and names to a plain list with the same duplicate check through a hash set,
// and prints both times.
//
// usage: queuefill N
// output: "queue <n> entries <ms> ms; list <ms> ms"

#include "peer/Peer.h"
#include "queue/FileQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QSet>
#include <QTemporaryDir>

#include <cstdio>
#include <utility>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int n = argc == 2 ? QByteArray(argv[1]).toInt() : 0;
    if (n < 1) {
        std::fprintf(stderr, "usage: queuefill N\n");
        return 2;
    }
    QTemporaryDir home;
    Peer peer(home.path());
    FileQueue& queue = peer.queue();

    QElapsedTimer t;
    t.start();
    for (int i = 0; i < n; ++i)
        queue.add(QStringLiteral("/f/%1").arg(i), QString::number(i));
    const double queueMs = double(t.nsecsElapsed()) / 1e6;

    QList<std::pair<QString, QString>> list;
    QSet<QString> keys;
    t.restart();
    for (int i = 0; i < n; ++i) {
        const QString path = QStringLiteral("/f/%1").arg(i);
        const QString name = QString::number(i);
        if (!keys.contains(path + QChar(0) + name)) {
            keys.insert(path + QChar(0) + name);
            list.append({path, name});
        }
    }
    const double listMs = double(t.nsecsElapsed()) / 1e6;

    if (queue.count() != n || list.size() != n || queue.path(n - 1) != list.last().first) {
        std::fprintf(stderr, "queuefill: %d entries queued, %lld listed, %d expected\n", queue.count(),
                     static_cast<long long>(list.size()), n);
        return 1;
    }
    std::printf("queue %d entries %.1f ms; list %.1f ms\n", n, queueMs, listMs);
    return 0;
}
