#include "support/Harness.h"
#include "ui/DesktopServices.h"
#include "ui/HelpWindow.h"
#include "ui/Twips.h"

#include <QFileDialog>
#include <QRegularExpression>
#include <QTemporaryDir>
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

    void browseForFolderAnswers()
    {
        QTemporaryDir dir;
        QWidget owner;
        QStringList answers;
        auto browse = [&]() -> QFileDialog* {
            browseForFolder(dir.path(), &owner, [&](const QString& folder) { answers << folder; });
            auto* dialog = owner.findChild<QFileDialog*>(QStringLiteral("BrowseFolder"));
            if (dialog)
                dialog->setObjectName(QString()); // the next call finds its own dialog
            return dialog;
        };
        QFileDialog* dialog = browse();
        QVERIFY(dialog && dialog->isVisible());
        QMetaObject::invokeMethod(dialog, "reject");
        QVERIFY(answers.isEmpty());
        QVERIFY((dialog = browse()));
        Q_EMIT dialog->fileSelected(dir.path());
        QCOMPARE(answers, QStringList{dir.path()});
        QVERIFY((dialog = browse())); // nothing answers once the dialog is gone
        delete dialog;
        QCOMPARE(answers.size(), 1);
    }
};

QTEST_MAIN(TestDesktopServices)
#include "tst_desktopservices.moc"
