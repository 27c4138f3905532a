#include "ui/QueueList.h"

void QueueList::paintEvent(QPaintEvent* event)
{
    executeDelayedItemsLayout();
    QListView::paintEvent(event);
}

QueueListModel::QueueListModel(QAbstractItemModel& s, QObject* parent) : QAbstractListModel(parent), source(s)
{
    shown = source.rowCount();
    handOver.setSingleShot(true);
    connect(&handOver, &QTimer::timeout, this, &QueueListModel::flush);
    // Rows taken from the head and added at the end are held while the list is long; every
    // other change first hands over what is held, then is passed on as it comes.
    connect(&source, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this](const QModelIndex&, int first, int last) {
        if (first == 0 && shown >= holdFromRows) {
            holdHeadRows(last + 1);
            return;
        }
        flush();
        forwarding = true;
        beginRemoveRows({}, first, last);
    });
    connect(&source, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex&, int first, int last) {
        if (!forwarding) {
            // The held rows are gone from the queue: the view's rows map past them.
            takenFromHead += takingFromHead;
            addedAtEnd -= last - first + 1 - takingFromHead;
            takingFromHead = 0;
            handOverSoon();
            return;
        }
        forwarding = false;
        shown -= last - first + 1;
        endRemoveRows();
    });
    connect(&source, &QAbstractItemModel::rowsAboutToBeInserted, this, [this](const QModelIndex&, int first, int last) {
        if (first == source.rowCount() && shown >= holdFromRows)
            return;
        flush();
        forwarding = true;
        beginInsertRows({}, first, last);
    });
    connect(&source, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
        if (!forwarding) {
            addedAtEnd += last - first + 1;
            handOverSoon();
            return;
        }
        forwarding = false;
        shown += last - first + 1;
        endInsertRows();
    });
    connect(&source, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        flush();
        beginResetModel();
    });
    connect(&source, &QAbstractItemModel::modelReset, this, [this] {
        shown = source.rowCount();
        endResetModel();
    });
    connect(&source, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
                flush();
                Q_EMIT dataChanged(index(from.row()), index(to.row()), roles);
            });
}

int QueueListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : shown;
}

QVariant QueueListModel::data(const QModelIndex& i, int role) const
{
    if (!i.isValid() || i.row() >= shown)
        return {};
    if (i.row() < takenFromHead)
        return role == Qt::DisplayRole || role == Qt::ToolTipRole ? QVariant(takenText[i.row()]) : QVariant();
    return source.data(source.index(i.row() - takenFromHead, 0), role);
}

void QueueListModel::holdHeadRows(int n)
{
    // The first n rows of the queue are about to go. Those the view shows stay on show with
    // the text they have now until the next hand-over; the others it never saw.
    const int known = shown - takenFromHead;
    takingFromHead = std::min(n, known);
    for (int row = 0; row < takingFromHead; ++row)
        takenText.append(source.data(source.index(row, 0), Qt::DisplayRole).toString());
}

void QueueListModel::handOverSoon()
{
    if (handOver.isActive())
        return;
    const int wait = sinceHandOver.isValid() ? std::max(0, holdMs - static_cast<int>(sinceHandOver.elapsed())) : 0;
    handOver.start(wait);
}

void QueueListModel::flush()
{
    handOver.stop();
    sinceHandOver.start();
    if (takenFromHead > 0) {
        beginRemoveRows({}, 0, takenFromHead - 1);
        shown -= takenFromHead;
        takenFromHead = 0;
        takenText.clear();
        endRemoveRows();
    }
    if (addedAtEnd > 0) {
        beginInsertRows({}, shown, shown + addedAtEnd - 1);
        shown += addedAtEnd;
        addedAtEnd = 0;
        endInsertRows();
    }
}
