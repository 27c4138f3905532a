#pragma once
#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QListView>
#include <QStringList>
#include <QTimer>

// The file queue's list. A list view drops its layout with every insert and lays out again
// only when the event loop gets round to it, which a folder expansion adding rows on every
// turn postpones: until then it would draw nothing. This one lays out whatever is pending
// before it draws.
class QueueList : public QListView {
public:
    using QListView::QListView;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// What the queue's list shows of the queue. A list view lays out all its rows again after
// every row removed or added, some milliseconds for 100,000 rows, and a queue sending small
// files takes its head row away hundreds of times a second. So once the list is long, the
// rows taken from the head and added at the end reach the view together, at most a few times
// a second (a short list gets every change at once); until then the view shows the rows as
// they were, the taken ones included. Every other change reaches it at once, after the held
// ones.
class QueueListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit QueueListModel(QAbstractItemModel& source, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Hands the view the changes held back: afterwards its rows are the queue's rows.
    void flush();
    bool holding() const { return takenFromHead > 0 || addedAtEnd > 0; }

    // Lists shorter than this get every change at once.
    int holdFromRows = 200;
    // Least time between two hand-overs of held changes.
    int holdMs = 250;

private:
    void holdHeadRows(int n);
    void handOverSoon();

    QAbstractItemModel& source;
    int shown = 0;           // rows the view knows
    int takenFromHead = 0;   // of these, rows gone from the head of the queue
    int takingFromHead = 0;  // rows shown of those the queue is taking from its head now
    int addedAtEnd = 0;      // rows at the end of the queue the view does not know yet
    QStringList takenText;   // what the taken rows showed
    bool forwarding = false; // a change of the queue other than those held is passed on
    QTimer handOver;
    QElapsedTimer sinceHandOver;
};
