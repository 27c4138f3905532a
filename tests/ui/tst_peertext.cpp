#include "ui/AcceptItDialog.h"
#include "ui/FAExistsDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

// Texts from the peer reach the dialogs' labels as one line, control characters escaped.
class TestPeerText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void shownAsOneLine_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("shown");
        QTest::newRow("accept: file name") << "AcceptIt" << "FileNameLabel" << QStringLiteral("a\\nb\\x1b[2J\\r.bin");
        QTest::newRow("accept: from") << "AcceptIt" << "FromLabel" << QStringLiteral("Eve\\nX");
        QTest::newRow("accept: size") << "AcceptIt" << "SizeLabel" << QStringLiteral("12\\t3");
        QTest::newRow("exists: file name") << "FAExists" << "FileNameText" << QStringLiteral("a\\nb\\x1b[2J\\r.bin");
    }
    void shownAsOneLine()
    {
        QFETCH(QString, dialog);
        QFETCH(QString, control);
        QFETCH(QString, shown);
        const QString name = QStringLiteral("a\nb\x1b[2J\r.bin");
        if (dialog == QLatin1String("AcceptIt")) {
            AcceptItDialog d(name, QStringLiteral("12\t3"), QStringLiteral("Eve\nX"), QStringLiteral("/tmp"), false);
            QCOMPARE(d.findChild<QLabel*>(control)->text(), shown);
            return;
        }
        FAExistsDialog d(name);
        d.show();
        auto* edit = d.findChild<QLineEdit*>(control);
        QTest::mouseClick(d.option(3), Qt::LeftButton, {}, QPoint(6, d.option(3)->height() / 2));
        QCOMPARE(edit->text(), shown);
        // The escaped name is no usable name: it cannot be taken as it is.
        QVERIFY(!d.findChild<QPushButton*>(QStringLiteral("OkButton"))->isEnabled());
    }
};

QTEST_MAIN(TestPeerText)
#include "tst_peertext.moc"
