#pragma once
#include <QList>
#include <QString>

// The machine's host name and, per network adapter, its name and one address: what a user
// tells the other side to connect to. Read from the system's interface list each time.
namespace AddressLookup {

struct Adapter {
    QString description; // the adapter's human-readable name
    QString address;     // its one address, IPv4 when it has one
    bool up = false;     // up and running
    bool loopback = false;
    bool ipv4 = false;
};

struct LocalAddresses {
    QString hostName;
    QList<Adapter> adapters; // in the order of orderAdapters
};

// Up adapters first, IPv4 before IPv6, loopback last; otherwise the system's order.
void orderAdapters(QList<Adapter>& adapters);

// The host name and every adapter that has an address, ordered.
LocalAddresses lookUp();

} // namespace AddressLookup
