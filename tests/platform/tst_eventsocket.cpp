// The Windows Sockets numbers the event socket gives Qt's socket errors where no test over
// loopback meets them. A refused connection (10061) and a port in use (10048) are met in
// tst_session (kRefused, listenFailsAtOnce), a reset (10054) shows nothing there.
#include "platform/EventSocket.h"
#include "support/Harness.h"

#include <QTest>

class TestEventSocket : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void errorNumbers_data()
    {
        columns<QAbstractSocket::SocketError, int>("error", "number");
        QTest::newRow("host not found") << QAbstractSocket::HostNotFoundError << 11001;
        QTest::newRow("timed out") << QAbstractSocket::SocketTimeoutError << 10060;
        QTest::newRow("network") << QAbstractSocket::NetworkError << 10050;
        QTest::newRow("anything else") << QAbstractSocket::UnknownSocketError << 10004;
        QTest::newRow("proxy") << QAbstractSocket::ProxyConnectionRefusedError << 10004;
    }
    void errorNumbers()
    {
        auto [error, number] = fetch<QAbstractSocket::SocketError, int>("error", "number");
        QCOMPARE(EventSocket::errorNumberFor(error), number);
    }
};

QTEST_GUILESS_MAIN(TestEventSocket)
#include "tst_eventsocket.moc"
