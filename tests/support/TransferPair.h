#pragma once
// Two logged-in peers in one process for transfer tests: a sends from src, b receives into
// down, accepting every offer, with its questions scripted by askB. Every wait is shortened.
#include "support/Harness.h"
#include "support/ScriptedPrompts.h"
#include "transfer/TransferManager.h"

#include <QDir>
#include <QTest>

struct TransferPair {
    TestPeer a{QStringLiteral("Ann")};
    TestPeer b{QStringLiteral("Bob")};
    ScriptedPrompts* askB = new ScriptedPrompts;
    QList<TransferOutcome> endedA, endedB;
    QString src = a.home.filePath("src");
    QString down = b.ctx->options.downloadFolder;

    TransferPair()
    {
        b.peer->transfers().setPrompts(std::unique_ptr<Prompts>(askB));
        for (TestPeer* p : {&a, &b}) {
            TransferTimeouts& t = p->peer->transfers().timeouts;
            t.acceptMs = t.blockMs = t.gotAllMs = t.cancelAckMs = t.closeMs = p->peer->transfers().busyWaitMs = 3000;
            p->peer->transfers().staleGraceMs = 100;
        }
        QObject::connect(&a.peer->transfers(), &TransferManager::transferEnded,
                         [this](const TransferOutcome& o) { endedA << o; });
        QObject::connect(&b.peer->transfers(), &TransferManager::transferEnded,
                         [this](const TransferOutcome& o) { endedB << o; });
        QDir().mkpath(src), QDir().mkpath(down);
        b.ctx->options.autoAccept = true;
    }
    bool connect() { return connectPeers(a, b, freePortTriple()); }
    // Offers src/name under that name and waits until both sides ended.
    bool send(const QString& name, int timeoutMs = 10000)
    {
        const auto na = endedA.size(), nb = endedB.size();
        return a.peer->transfers().offerFile(srcPath(name), name) && waitEnded(na, nb, timeoutMs);
    }
    // Runs the event loop until both sides have more outcomes than na and nb.
    bool waitEnded(qsizetype na, qsizetype nb, int timeoutMs = 10000)
    {
        return QTest::qWaitFor([&] { return endedA.size() > na && endedB.size() > nb; }, timeoutMs);
    }
    QString srcPath(const QString& name) const { return QDir(src).filePath(name); }
    QString downPath(const QString& name) const { return QDir(down).filePath(name); }
    static QString at(const QString& folder, const QString& name) { return QDir(folder).filePath(name); }
};
