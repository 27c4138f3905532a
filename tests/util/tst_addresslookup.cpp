// The order in which the machine's addresses are offered to the user.
#include "util/AddressLookup.h"

#include <QTest>

class TestAddressLookup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Up before down, IPv4 before IPv6, loopback last; otherwise the system's order. (This
    // machine's own list: the local address window's test, which shows it.)
    void order()
    {
        QList<AddressLookup::Adapter> list;
        // Each adapter as "name:flags", flags u (up), l (loopback), 4 (IPv4 address).
        for (const QString a : {"down6:", "lo:ul4", "eth0:4", "wlan0:u", "eth1:u4", "lo6:ul", "tun0:u4"}) {
            const QString f = a.section(':', 1);
            list.append({a.section(':', 0, 0), {}, f.contains('u'), f.contains('l'), f.contains('4')});
        }
        AddressLookup::orderAdapters(list);
        QStringList names;
        for (const AddressLookup::Adapter& x : list)
            names.append(x.description);
        QCOMPARE(names, QStringList({"eth1", "tun0", "wlan0", "eth0", "down6", "lo", "lo6"}));
    }
};

QTEST_GUILESS_MAIN(TestAddressLookup)
#include "tst_addresslookup.moc"
