#include "support/Harness.h"
#include "ui/QuickConnectDialog.h"
#include "ui/WindowTestTools.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

class TestQuickConnectDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void portBoxes_data()
    {
        stringRows({"typed", "port", "filePorts"}, {{"digits", "2100", "2100", "2101 & 2102"},
                                                    {"letters dropped", "2a1b0-0 ", "2100", "2101 & 2102"},
                                                    {"backspace works", "20009\b", "2000", "2001 & 2002"},
                                                    {"emptied", "7\b", "", ""},
                                                    {"five digits at most", "6553377", "65533", "65534 & 65535"}});
    }
    // The port boxes take digits only, and the file ports follow them.
    void portBoxes()
    {
        auto [typed, port, filePorts] = fetch<QString, QString, QString>("typed", "port", "filePorts");
        TestPeer p;
        p.ctx->options.connectionType = ConnectionMode::Server;
        p.ctx->options.serverPort = "3000";
        QuickConnectDialog d(*p.peer);
        d.load();
        QCOMPARE(d.serverFilePortsEdit->text(), QString("3001 & 3002"));
        for (QLineEdit* box : {d.clientPortEdit, d.serverPortEdit}) {
            box->selectAll();
            QTest::keyClick(box, Qt::Key_Delete);
            QTest::keyClicks(box, typed);
            QCOMPARE(box->text(), port);
        }
        QCOMPARE(d.clientFilePortsEdit->text(), filePorts);
        QCOMPARE(d.serverFilePortsEdit->text(), filePorts);
    }

    void okAndCancel_data()
    {
        columns<bool, QString>("server", "serverPort");
        QTest::addColumn<QString>("password"); // typed into the chosen mode's password box
        QTest::addColumn<QString>("refusal");  // the message box that refuses OK; "cancel": Cancel is pressed
        const QString pw = "pw";
        QTest::newRow("ok server") << true << "2500" << pw << "";
        QTest::newRow("ok client") << false << "2500" << pw << "";
        QTest::newRow("ok highest port") << true << "65533" << pw << "";
        QTest::newRow("ok empty port refused") << true << "" << pw << "emptyPortMessage";
        QTest::newRow("ok port 0 refused") << true << "0" << pw << "portRangeMessage";
        QTest::newRow("ok port 65534 refused") << true << "65534" << pw << "portRangeMessage";
        QTest::newRow("ok other mode's port refused") << false << "99999" << pw << "portRangeMessage";
        QTest::newRow("ok client password with [ refused") << false << "2500"
                                                           << "a[b"
                                                           << "passwordMessage";
        QTest::newRow("ok server password outside Windows-1252 refused")
            << true << "2500" << QString::fromUtf8("\u0141\u00f3d\u017a") << "passwordMessage";
        QTest::newRow("cancel") << true << "2500" << pw << "cancel";
    }
    void okAndCancel()
    {
        auto [server, serverPort, password, refusal] =
            fetch<bool, QString, QString, QString>("server", "serverPort", "password", "refusal");
        const bool stored = refusal.isEmpty();
        TestPeer p;
        const Options before = p.ctx->options;
        QuickConnectDialog d(*p.peer);
        int connects = 0;
        d.openConnection = [&] { ++connects; };
        d.load();
        d.show();
        (server ? d.serverModeOption : d.clientModeOption)->click();
        d.clientPortEdit->setText("4100");
        d.clientAddressEdit->setText("127.0.0.1");
        d.clientPasswordEdit->setText(server ? "pw" : password);
        d.serverPortEdit->setText(serverPort);
        d.requirePasswordCheck->setChecked(true);
        d.serverPasswordEdit->setText(server ? password : "pw");
        (refusal == "cancel" ? d.cancelButton : d.okButton)->click();
        const Options& o = p.ctx->options;
        QCOMPARE(connects, stored ? 1 : 0);
        QCOMPARE(d.isVisible(), !stored && refusal != "cancel");
        for (const char* box : {"emptyPortMessage", "portRangeMessage", "passwordMessage"})
            QCOMPARE(d.findChild<QMessageBox*>(box) != nullptr, refusal == QLatin1String(box));
        if (!stored) {
            QVERIFY(o == before);
            QVERIFY(p.ctx->connectionMode == ConnectionMode::None && p.ctx->connectionPort.isEmpty()
                    && p.ctx->connectionPassword.isEmpty());
            return;
        }
        // Both modes' fields are stored, whichever mode was chosen.
        QCOMPARE(
            (QStringList{o.clientPort, o.clientFilePort, o.clientAddress, o.clientPassword, o.serverPort,
                         o.serverFilePort, connectionModeName(o.connectionType),
                         connectionModeName(p.ctx->connectionMode), p.ctx->connectionPort}),
            (QStringList{"4100", "4101", "127.0.0.1", "pw", serverPort, QString::number(serverPort.toInt() + 1),
                         server ? "Server" : "Client", server ? "Server" : "Client", server ? serverPort : "4100"}));
        QVERIFY(o.requirePassword);
        if (!server)
            QCOMPARE(p.ctx->connectionHost, QString("127.0.0.1"));
    }
};

QTEST_MAIN(TestQuickConnectDialog)
#include "tst_quickconnectdialog.moc"
