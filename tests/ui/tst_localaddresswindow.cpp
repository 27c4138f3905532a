#include "core/PeerState.h"
#include "support/Harness.h"
#include "ui/AboutWindow.h"
#include "ui/LocalAddressWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHostAddress>
#include <QHostInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

// The local address window and the about window; the commands that open them are tested
// with every other command.
class TestLocalAddressWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Built from this machine's own interfaces; each address and the host name copied.
    void window()
    {
        LocalAddressWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(w.hostNameEdit->text(), QHostInfo::localHostName());
        const int n = w.adapterCombo->count();
        QVERIFY(n >= 1 && w.adapterAddresses.size() == n);
        QVERIFY(QHostAddress(w.adapterAddresses.last()).isLoopback());
        QClipboard* clip = QApplication::clipboard();
        for (int i = n - 1; i >= 0; --i) {
            w.adapterCombo->setCurrentIndex(i);
            QVERIFY(!QHostAddress(w.addressEdit->text()).isNull() && w.addressEdit->text() == w.adapterAddresses.at(i));
            w.copyAddressButton->click();
            QCOMPARE(clip->text(), w.adapterAddresses.at(i));
        }
        w.copyHostNameButton->click();
        QCOMPARE(clip->text(), QHostInfo::localHostName());
    }

    // The about window shows the version and the licence, and the headless peer takes its
    // flags as the window shows them.
    void about()
    {
        TestPeer p;
        AboutWindow a;
        QVERIFY(!p.ctx->version.isEmpty() && a.versionLabel->text().endsWith(p.ctx->version));
        QVERIFY(a.licenceView->toPlainText().startsWith("MIT License"));
        QProcess cli;
        cli.start(qEnvironmentVariable("ZANTIRO_CLI"), {});
        QVERIFY(cli.waitForFinished(10000));
        const QString usage = QString::fromLocal8Bit(cli.readAllStandardError());
        for (const QString& c : a.headlessCommandsLabel->text().split('\n')) {
            QVERIFY2(c.startsWith("zantiro-cli --"), qPrintable(c));
            QVERIFY2(usage.contains(c.mid(12)), qPrintable(usage));
        }
    }
};

QTEST_MAIN(TestLocalAddressWindow)
#include "tst_localaddresswindow.moc"
