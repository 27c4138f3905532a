#include "transfer/TokenGate.h"

#include <QTimer>

#include <algorithm>
#include <utility>

TokenGate::TokenGate(EventSocket& t, const QByteArray& p, QObject* parent) : QObject(parent), target(t), proof(p)
{}

void TokenGate::requireTls(const QSslConfiguration& configuration, const QByteArray& peerKey)
{
    tls = configuration;
    tlsPeerKey = peerKey;
}

void TokenGate::admit(EventSocket& listener, int requestId)
{
    if (done) {
        listener.refuse(requestId);
        ++rejected;
        return;
    }
    // A full room makes way for the newcomer: connections that wait longest without proving
    // the token go first, so silent ones cannot lock the peer out.
    while (!waiting.isEmpty() && waiting.size() >= std::max(1, maxWaiting))
        drop(waiting.first());
    auto* candidate = new EventSocket(this);
    candidate->readBufferSize = qint64{64} * 1024; // the proof is short; a flood waits in the system
    if (!tls.isNull())
        candidate->setTls(tls, tlsPeerKey);
    listener.handOver(requestId, *candidate);
    auto* timer = new QTimer(candidate);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, candidate] { drop(candidate); });
    connect(candidate, &EventSocket::dataArrived, this, [this, candidate] { check(candidate); });
    connect(candidate, &EventSocket::closed, this, [this, candidate] { drop(candidate); });
    connect(candidate, &EventSocket::error, this, [this, candidate] { drop(candidate); });
    connect(candidate, &EventSocket::encrypted, this, [this, candidate] { check(candidate); });
    waiting.append(candidate);
    if (!tls.isNull() && !candidate->startTls(true)) {
        drop(candidate);
        return;
    }
    timer->start(waitMs);
    check(candidate); // what came with the connection
}

void TokenGate::check(EventSocket* candidate)
{
    if (!waiting.contains(candidate))
        return;
    if (!tls.isNull() && !candidate->isEncrypted())
        return; // nothing counts before the handshake and the key check
    const QByteArray got = candidate->peek();
    const qsizetype n = std::min(got.size(), proof.size());
    if (QByteArrayView(got).first(n) != QByteArrayView(proof).first(n)) {
        drop(candidate);
        return;
    }
    if (n < proof.size())
        return; // the rest of the proof is still to come
    candidate->take(proof.size());
    waiting.removeOne(candidate);
    done = true;
    candidate->moveTo(target);
    candidate->deleteLater();
    for (EventSocket* other : std::exchange(waiting, {})) {
        other->reset();
        other->deleteLater();
        ++rejected;
    }
    Q_EMIT proven();
}

void TokenGate::drop(EventSocket* candidate)
{
    if (!waiting.removeOne(candidate))
        return;
    candidate->reset();
    candidate->deleteLater();
    ++rejected;
}
