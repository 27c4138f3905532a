#pragma once
#include "platform/EventSocket.h"

#include <QByteArray>
#include <QList>
#include <QObject>

// Connections to a transfer port that count only once their first bytes are the offer's
// proof (the token the sender announced). Until then each waits apart from the transfer; one
// that sends anything else, closes, or stays silent for waitMs is closed, and the transfer
// never hears of it. The first to prove it is moved into the target socket, with whatever
// followed the proof; the others are closed. When maxWaiting wait already, the one that has
// waited longest is closed to make room for the new one.
class TokenGate : public QObject {
    Q_OBJECT
public:
    TokenGate(EventSocket& target, const QByteArray& proof, QObject* parent = nullptr);

    int waitMs = 10000;
    int maxWaiting = 8; // connections waiting at once

    // Candidates must first finish a TLS handshake as the server and present `peerKey`; the
    // proof, if any, is then read from inside the encrypted stream.
    void requireTls(const QSslConfiguration& configuration, const QByteArray& peerKey);

    // Takes the pending request `requestId` of `listener` as a candidate.
    void admit(EventSocket& listener, int requestId);
    // A connection has proved the token.
    bool passed() const { return done; }
    // Connections closed or refused for not proving it.
    int turnedAway() const { return rejected; }

Q_SIGNALS:
    // The target now holds the proven connection; bytes after the proof may wait in it.
    void proven();

private:
    void check(EventSocket* candidate);
    void drop(EventSocket* candidate);

    EventSocket& target;
    QByteArray proof;
    QSslConfiguration tls;
    QByteArray tlsPeerKey;
    QList<EventSocket*> waiting;
    bool done = false;
    int rejected = 0;
};
