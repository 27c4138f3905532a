#pragma once
#include <QListView>

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
