#pragma once
#include <QElapsedTimer>
#include <QHash>
#include <QString>

// Slows password guessing down. After freeTries wrong passwords the answer to each further
// login waits firstDelayMs, doubling with every further wrong one up to maxDelayMs. Wrong
// passwords are counted per connection and per address, so connecting again does not start
// afresh; an address is forgotten after forgetMs without a wrong password, or when it logs in.
// At most maxAddresses are remembered; the one quiet longest makes room for a new one.
class PasswordThrottle {
public:
    PasswordThrottle() { clock.start(); }

    int freeTries = 3;
    int firstDelayMs = 1000;
    int maxDelayMs = 30000;
    qint64 forgetMs = qint64(15) * 60 * 1000;
    int maxAddresses = 1024;

    // How long the answer to the next login from `address` waits, given the wrong passwords
    // already sent on its connection.
    int delayMs(const QString& address, int connectionFailures) const;
    void failed(const QString& address);
    void succeeded(const QString& address) { addresses.remove(address); }
    qsizetype remembered() const { return addresses.size(); }

private:
    struct Record {
        int failures = 0;
        qint64 lastMs = 0;
        quint64 order = 0; // of its last wrong password among all
    };
    // Removes the forgotten addresses, then the quietest while there is no room for one more.
    void makeRoom();

    QElapsedTimer clock;
    QHash<QString, Record> addresses;
    quint64 failuresSeen = 0;
};
