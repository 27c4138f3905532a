#include "ui/QueueList.h"

void QueueList::paintEvent(QPaintEvent* event)
{
    executeDelayedItemsLayout();
    QListView::paintEvent(event);
}
