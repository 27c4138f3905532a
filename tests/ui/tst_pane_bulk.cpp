#include "ui/QueueList.h"
#include "ui/TranscriptPane.h"

#include <QElapsedTimer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTest>
#include <QTextBlock>

namespace {

QStringList rows(const QAbstractItemModel& m)
{
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r)
        out << m.data(m.index(r, 0)).toString();
    return out;
}

} // namespace

class TestPaneBulk : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A long list sees the rows taken from the head and added at the end in one go; until
    // then it shows the rows as they were. Any other change hands those over first.
    void heldListChanges()
    {
        QStringListModel queue(QStringList{"a", "b", "c", "d", "e"});
        QueueListModel shown(queue);
        shown.holdFromRows = 3;
        shown.holdMs = 60000;
        QSignalSpy removed(&shown, &QAbstractItemModel::rowsRemoved);
        QSignalSpy inserted(&shown, &QAbstractItemModel::rowsInserted);
        shown.flush(); // the first hand-over is at once, the next only after holdMs
        for (int i = 0; i < 3; ++i)
            queue.removeRows(0, 1);
        queue.insertRows(queue.rowCount(), 2);
        queue.removeRows(0, 1); // d: shown; then
        queue.removeRows(0, 2); // e (shown) and a new row (never shown)
        QCOMPARE(rows(shown), (QStringList{"a", "b", "c", "d", "e"}));
        QVERIFY(shown.holding() && removed.isEmpty() && inserted.isEmpty());
        queue.insertRows(0, 1); // at the head: passed on after the held changes
        QCOMPARE(rows(shown), rows(queue));
        QCOMPARE(removed.size(), 1);
        QCOMPARE(inserted.size(), 2); // the held row, then the new head
        QVERIFY(!shown.holding());

        // A short list gets every change at once.
        shown.holdFromRows = 100;
        queue.removeRows(0, 1);
        QCOMPARE(rows(shown), rows(queue));
        // Held changes reach the view by themselves.
        shown.holdFromRows = 0;
        shown.holdMs = 10;
        queue.insertRows(queue.rowCount(), 3);
        queue.removeRows(0, 1);
        QVERIFY(shown.holding());
        QTRY_VERIFY_WITH_TIMEOUT(!shown.holding(), 5000);
        QCOMPARE(rows(shown), rows(queue));
    }

    // Lines are in the pane at once; the caret and the view reach the newest line on the next
    // turn; the pane keeps the newest maxLines lines, also after it was cleared, and a full
    // pane still takes lines cheaply.
    void paneLines()
    {
        TranscriptPane pane("p");
        pane.resize(300, 100);
        pane.show();
        for (int i = 0; i < 50; ++i)
            pane.addLine(QString::number(i), Qt::red);
        QVERIFY(pane.toPlainText().endsWith("48\n49\n"));
        QTRY_VERIFY(pane.textCursor().atEnd());
        QScrollBar* bar = pane.verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QTRY_COMPARE(bar->value(), bar->maximum());
        pane.clear();
        pane.addLine("after", Qt::blue);
        QCOMPARE(pane.toPlainText(), "after\n");
        QCOMPARE(pane.document()->firstBlock().begin().fragment().charFormat().foreground().color(), QColor(Qt::blue));
        for (int i = 0; i < TranscriptPane::maxLines; ++i)
            pane.addLine(QString::number(i), Qt::red);
        QCOMPARE(pane.blockCount(), TranscriptPane::maxLines);
        QCOMPARE(pane.document()->firstBlock().text(), "1");
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < 1000; ++i)
            pane.addLine(QStringLiteral("[9:05] <Ann> one more"), Qt::black);
        QVERIFY2(t.elapsed() < 1000, "appending to a full pane takes 1 ms a line or more");
    }
};

QTEST_MAIN(TestPaneBulk)
#include "tst_pane_bulk.moc"
