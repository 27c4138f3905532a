// The event socket's error reports: Windows Sockets numbers for Qt's socket errors, and the
// two failures a user meets most, a refused connection and a port already in use.
#include "platform/EventSocket.h"
#include "support/Harness.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

class TestEventSocket : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void errorNumbers_data()
    {
        columns<QAbstractSocket::SocketError, int>("error", "number");
        QTest::newRow("refused") << QAbstractSocket::ConnectionRefusedError << 10061;
        QTest::newRow("closed by the peer") << QAbstractSocket::RemoteHostClosedError << 10054;
        QTest::newRow("host not found") << QAbstractSocket::HostNotFoundError << 11001;
        QTest::newRow("access") << QAbstractSocket::SocketAccessError << 10013;
        QTest::newRow("resources") << QAbstractSocket::SocketResourceError << 10055;
        QTest::newRow("timed out") << QAbstractSocket::SocketTimeoutError << 10060;
        QTest::newRow("datagram too large") << QAbstractSocket::DatagramTooLargeError << 10040;
        QTest::newRow("network") << QAbstractSocket::NetworkError << 10050;
        QTest::newRow("address in use") << QAbstractSocket::AddressInUseError << 10048;
        QTest::newRow("address not available") << QAbstractSocket::SocketAddressNotAvailableError << 10049;
        QTest::newRow("unsupported") << QAbstractSocket::UnsupportedSocketOperationError << 10045;
        QTest::newRow("operation") << QAbstractSocket::OperationError << 10022;
        QTest::newRow("temporary") << QAbstractSocket::TemporaryError << 10035;
        QTest::newRow("anything else") << QAbstractSocket::UnknownSocketError << 10004;
        QTest::newRow("proxy") << QAbstractSocket::ProxyConnectionRefusedError << 10004;
    }

    void errorNumbers()
    {
        auto [error, number] = fetch<QAbstractSocket::SocketError, int>("error", "number");
        QCOMPARE(EventSocket::errorNumberFor(error), number);
    }

    void refused()
    {
        quint16 port = 0;
        {
            QTcpServer probe; // a port nobody listens on once the probe is gone
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            port = probe.serverPort();
        }
        EventSocket socket;
        QSignalSpy errors(&socket, &EventSocket::error);
        socket.setRemoteHost(QStringLiteral("127.0.0.1"));
        socket.setRemotePort(port);
        socket.connectToPeer();
        QVERIFY(errors.wait(10000));
        QCOMPARE(errors.first().at(0).toInt(), 10061);
        QVERIFY(!errors.first().at(1).toString().isEmpty());
        QCOMPARE(socket.state(), int(EventSocket::Error));
        QCOMPARE(socket.lastErrorNumber(), 10061);
    }

    void portInUse()
    {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost));
        EventSocket socket;
        QSignalSpy errors(&socket, &EventSocket::error);
        socket.setListenAddress(QHostAddress::LocalHost);
        socket.setLocalPort(holder.serverPort());
        QVERIFY(!socket.listen());
        QCOMPARE(socket.lastErrorNumber(), 10048);
        QVERIFY(!socket.lastErrorText().isEmpty());
        QCOMPARE(socket.state(), int(EventSocket::Closed)); // a failed listen leaves it closed
        QCOMPARE(errors.size(), 0);                         // told by the return value, not a signal
    }
};

QTEST_GUILESS_MAIN(TestEventSocket)
#include "tst_eventsocket.moc"
