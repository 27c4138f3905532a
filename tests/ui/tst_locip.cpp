#include "ui/AboutWindow.h"
#include "ui/LocIP.h"
#include "ui/MainWindow.h"
#include "util/LocIpM.h"
#include "core/Context.h"
#include "support/Harness.h"

#include <QAction>
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

// The local address window, the about window, and the commands that open them.
class TestLocIP : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void order_data()
    {
        // Each adapter as "name:flags", flags u (up), l (loopback), 4 (IPv4 address).
        QTest::addColumn<QStringList>("adapters");
        QTest::addColumn<QStringList>("ordered");
        QTest::newRow("mixed") << QStringList{"lo:ul4", "eth0:4", "wlan0:u", "eth1:u4", "lo6:ul", "tun0:u4"}
                               << QStringList{"eth1", "tun0", "wlan0", "eth0", "lo", "lo6"};
        QTest::newRow("down v6 after down v4") << QStringList{"a:", "b:4", "c:u"} << QStringList{"c", "b", "a"};
    }
    void order()
    {
        QFETCH(QStringList, adapters);
        QFETCH(QStringList, ordered);
        QList<LocIpM::Adapter> list;
        for (const QString& a : adapters) {
            const QStringList parts = a.split(u':');
            LocIpM::Adapter x;
            x.description = parts[0];
            x.up = parts[1].contains(u'u');
            x.loopback = parts[1].contains(u'l');
            x.ipv4 = parts[1].contains(u'4');
            list.append(x);
        }
        LocIpM::orderAdapters(list);
        QStringList names;
        for (const LocIpM::Adapter& x : list)
            names.append(x.description);
        QCOMPARE(names, ordered);
    }

    // Built from this machine's own interfaces.
    void window()
    {
        LocIP w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(w.windowTitle(), QStringLiteral("Local Ip"));
        QCOMPARE(w.HstNme->text(), QHostInfo::localHostName());
        QVERIFY(!w.HstNme->text().isEmpty() && w.HstNme->isReadOnly() && w.IpsText->isReadOnly());
        const int n = w.AdapterType->count();
        QVERIFY(n >= 1);
        QCOMPARE(w.AdapterAddresses.size(), n);
        QVERIFY(QHostAddress(w.AdapterAddresses.last()).isLoopback());
        QVERIFY(!QHostAddress(w.AdapterAddresses.first()).isNull());
        // Nothing is chosen until the user picks an adapter.
        QCOMPARE(w.AdapterType->currentIndex(), -1);
        QCOMPARE(w.IpsText->text(), QString());

        QClipboard* clip = QApplication::clipboard();
        for (int i = n - 1; i >= 0; --i) {
            w.AdapterType->setCurrentIndex(i);
            QCOMPARE(w.IpsText->text(), w.AdapterAddresses.at(i));
            w.Command1->click();
            QCOMPARE(clip->text(), w.AdapterAddresses.at(i));
        }
        w.Command2->click();
        QCOMPARE(clip->text(), QHostInfo::localHostName());

        // The value fields hand the focus on to the adapter list.
        for (QLineEdit* field : {w.HstNme, w.IpsText}) {
            w.Command3->setFocus();
            field->setFocus();
            QTRY_VERIFY_WITH_TIMEOUT(w.AdapterType->hasFocus(), 2000);
        }
    }

    void about()
    {
        TestPeer p;
        AboutWindow a;
        QVERIFY(a.VersionLabel->text().endsWith(p.ctx->version));
        QVERIFY(!p.ctx->version.isEmpty());
        const QStringList commands = a.Commands->text().split(u'\n');
        QCOMPARE(commands.size(), 2);
        QVERIFY(a.Licence->toPlainText().startsWith(QStringLiteral("MIT License")));
        QVERIFY(a.Licence->toPlainText().contains(QStringLiteral("Zantiro developers")));
        // The headless peer takes the flags as the window shows them.
        QProcess cli;
        cli.start(qEnvironmentVariable("ZANTIRO_CLI"), {});
        QVERIFY(cli.waitForFinished(10000));
        const QString usage = QString::fromLocal8Bit(cli.readAllStandardError());
        for (const QString& c : commands) {
            QVERIFY2(c.startsWith(QStringLiteral("zantiro-cli --")), qPrintable(c));
            QVERIFY2(usage.contains(c.mid(12)), qPrintable(usage));
        }
    }

    void commands_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("about");
        for (const char* e : {"mnu_getip", "pop_get", "GetIp"})
            QTest::newRow(e) << QString::fromLatin1(e) << false;
        QTest::newRow("mnu_about") << QStringLiteral("mnu_about") << true;
    }
    void commands()
    {
        QFETCH(QString, entry);
        QFETCH(bool, about);
        TestPeer p;
        MainWindow w(*p.peer);
        QVERIFY(!w.windowIcon().isNull());
        QAction* a = w.findChild<QAction*>(entry);
        QVERIFY(a && a->isEnabled());
        auto opened = [&]() -> QDialog* {
            return about ? static_cast<QDialog*>(w.findChild<AboutWindow*>()) : w.findChild<LocIP*>();
        };
        a->trigger();
        a->trigger(); // one window, brought to the front again
        QCOMPARE(w.findChildren<QDialog*>().size(), 1);
        QDialog* d = opened();
        QVERIFY(d && d->isVisible() && !d->isModal());
        QVERIFY(QTest::qWaitForWindowActive(d));
        QTest::keyClick(d, Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!opened(), 2000);
    }
};

QTEST_MAIN(TestLocIP)
#include "tst_locip.moc"
