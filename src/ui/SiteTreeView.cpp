#include "ui/SiteTreeView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

void SiteTreeView::forget()
{
    endDrag();
    dragItem = nullptr;
}

void SiteTreeView::mousePressEvent(QMouseEvent* e)
{
    QTreeWidget::mousePressEvent(e);
    endDrag();
    QTreeWidgetItem* at = itemAt(e->position().toPoint());
    dragItem = at && at != topLevelItem(0) ? at : nullptr;
    pressPos = e->position().toPoint();
}

void SiteTreeView::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    if (!dragging && dragItem && (e->buttons() & Qt::LeftButton)
        && (pos - pressPos).manhattanLength() >= QApplication::startDragDistance()) {
        dragging = true;
        setCurrentItem(dragItem);
        if (cursorFor)
            viewport()->setCursor(cursorFor(dragItem));
    }
    if (!dragging) {
        QTreeWidget::mouseMoveEvent(e);
        return;
    }
    QTreeWidgetItem* target = itemAt(pos);
    if (target && target->data(0, siteRole).toBool())
        target = target->parent(); // a site: its folder
    highlight(target);
}

void SiteTreeView::mouseReleaseEvent(QMouseEvent* e)
{
    if (dragging) {
        QTreeWidgetItem* dragged = dragItem;
        QTreeWidgetItem* target = dropTarget;
        endDrag();
        if (target && dropped)
            dropped(dragged, target);
    }
    dragItem = nullptr;
    QTreeWidget::mouseReleaseEvent(e);
}

void SiteTreeView::keyPressEvent(QKeyEvent* e)
{
    if (dragging && e->key() == Qt::Key_Escape) {
        endDrag();
        dragItem = nullptr;
        return;
    }
    QTreeWidget::keyPressEvent(e);
}

void SiteTreeView::focusOutEvent(QFocusEvent* e)
{
    endDrag();
    QTreeWidget::focusOutEvent(e);
}

void SiteTreeView::highlight(QTreeWidgetItem* target)
{
    if (target == dropTarget)
        return;
    if (dropTarget)
        dropTarget->setBackground(0, QBrush());
    dropTarget = target;
    if (dropTarget) {
        QColor c = palette().color(QPalette::Highlight);
        c.setAlpha(90);
        dropTarget->setBackground(0, c);
    }
}

void SiteTreeView::endDrag()
{
    highlight(nullptr);
    if (dragging)
        viewport()->unsetCursor();
    dragging = false;
}
