#include "support/Harness.h"
#include "ui/DesktopServices.h"
#include "ui/HelpWindow.h"
#include "ui/Twips.h"

#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>

class TestDesktopServices : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void twips_data()
    {
        columns<int, double, int, int>("twips", "dpi", "pixels", "backToTwips");
        QTest::newRow("1 inch at 96") << 1440 << 96.0 << 96 << 1440;
        QTest::newRow("main window minimum width") << 4400 << 96.0 << 293 << 4395;
        QTest::newRow("one pixel rounds") << 15 << 96.0 << 1 << 15;
        QTest::newRow("7 twips round down") << 7 << 96.0 << 0 << 0;
        QTest::newRow("120 dpi") << 4800 << 120.0 << 400 << 4800;
    }

    void twips()
    {
        auto [twips, dpi, pixels, backToTwips] = fetch<int, double, int, int>("twips", "dpi", "pixels", "backToTwips");
        QCOMPARE(twipsToPixels(twips, dpi), pixels);
        QCOMPARE(pixelsToTwips(pixels, dpi), backToTwips);
        // The screen-based form agrees with the explicit one at the screen's DPI.
        QCOMPARE(twipsToPixelsX(twips), twipsToPixels(twips, QGuiApplication::primaryScreen()->logicalDotsPerInchX()));
    }

    // Every topic a window of the program opens has a real page; others show the contents.
    // Every link on a page leads to a page that exists.
    void helpPages_data()
    {
        columns<int, bool>("topic", "ownPage");
        for (int topic : {2, 4, 5, 6, 7, 8, 9, 12, 13, 14, 15, 16, 17, 18})
            QTest::addRow("topic %d", topic) << topic << true;
        for (int topic : {0, 1, 3, 10, 19, -1})
            QTest::addRow("no topic %d", topic) << topic << false;
    }

    void helpPages()
    {
        auto [topic, ownPage] = fetch<int, bool>("topic", "ownPage");
        HelpWindow help;
        QCOMPARE(help.showTopic(topic), ownPage);
        const QString source = help.browser()->source().toString();
        QVERIFY2(source.endsWith(ownPage ? QStringLiteral("topic%1.html").arg(topic) : "index.html"),
                 qPrintable(source));
        const QString title = help.browser()->documentTitle();
        QVERIFY(!title.isEmpty()); // a real page: a heading and some text beyond it
        QVERIFY2(help.browser()->toPlainText().size() > title.size() + 60, qPrintable(title));
        int links = 0;
        const QRegularExpression href(QStringLiteral("href=\"([^\"]+)\""));
        for (auto it = href.globalMatch(help.browser()->toHtml()); it.hasNext(); ++links) {
            const QString target = it.next().captured(1);
            QVERIFY2(QFile::exists(QStringLiteral(":/help/") + target), qPrintable(target));
        }
        QVERIFY(ownPage || links >= 14);
    }
};

QTEST_MAIN(TestDesktopServices)
#include "tst_desktopservices.moc"
