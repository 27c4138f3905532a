#pragma once
#include <QTreeWidget>

#include <functional>

// The site list's tree with its own drag of nodes between folders: pressing a node and
// moving with the left button held drags it (never the root); while dragging, the folder
// under the mouse, or the folder of the site under it, is highlighted; releasing over it
// reports the move. Done with the mouse events alone, so no drag loop runs inside a handler.
class SiteTreeView : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;

    static constexpr int nodeRole = Qt::UserRole;     // the item's node in the site tree
    static constexpr int siteRole = Qt::UserRole + 1; // true for a site

    std::function<void(QTreeWidgetItem* dragged, QTreeWidgetItem* target)> dropped;
    std::function<QCursor(QTreeWidgetItem*)> cursorFor;

    // Ends any drag before the items are built again.
    void forget();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void highlight(QTreeWidgetItem* target);
    void endDrag();

    QTreeWidgetItem* dragItem = nullptr;
    QTreeWidgetItem* dropTarget = nullptr;
    QPoint pressPos;
    bool dragging = false;
};
