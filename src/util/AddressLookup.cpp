#include "util/AddressLookup.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>

#include <algorithm>
#include <tuple>

namespace AddressLookup {

namespace {

// How useful an address is to give to someone else: IPv4, then a global IPv6, then
// whatever else the adapter has (link-local and the like).
int addressRank(const QHostAddress& a)
{
    if (a.protocol() == QAbstractSocket::IPv4Protocol)
        return 0;
    if (a.isGlobal())
        return 1;
    return 2;
}

} // namespace

void orderAdapters(QList<Adapter>& adapters)
{
    std::stable_sort(adapters.begin(), adapters.end(), [](const Adapter& a, const Adapter& b) {
        return std::make_tuple(a.loopback, !a.up, !a.ipv4) < std::make_tuple(b.loopback, !b.up, !b.ipv4);
    });
}

LocalAddresses lookUp()
{
    LocalAddresses result;
    result.hostName = QHostInfo::localHostName();
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& networkInterface : interfaces) {
        QList<QNetworkAddressEntry> entries = networkInterface.addressEntries();
        if (entries.isEmpty())
            continue; // nothing to copy
        std::stable_sort(entries.begin(), entries.end(),
                         [](const QNetworkAddressEntry& a, const QNetworkAddressEntry& b) {
                             return addressRank(a.ip()) < addressRank(b.ip());
                         });
        const QHostAddress ip = entries.first().ip();
        const auto flags = networkInterface.flags();
        Adapter adapter;
        adapter.description = networkInterface.humanReadableName();
        adapter.address = ip.toString();
        adapter.up = flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning);
        adapter.loopback = flags.testFlag(QNetworkInterface::IsLoopBack) || ip.isLoopback();
        adapter.ipv4 = ip.protocol() == QAbstractSocket::IPv4Protocol;
        result.adapters.append(adapter);
    }
    orderAdapters(result.adapters);
    return result;
}

} // namespace AddressLookup
