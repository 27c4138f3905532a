#pragma once
#include <QColor>
#include <QPlainTextEdit>
#include <QStringList>

// One read-only transcript pane: coloured lines appended at the end, the newest kept in view.
// The pane holds at most maxLines lines and drops the oldest beyond that, so a long session
// keeps its memory bounded; the transcript log keeps every line.
class TranscriptPane : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int maxLines = 100000;

    explicit TranscriptPane(const QString& name, QWidget* parent = nullptr);

    // Appends text and a line end in the given colour. Never fails.
    void addLine(const QString& text, const QColor& colour);

Q_SIGNALS:
    // The right mouse button asks for the window's popup menu at this screen position.
    void popupRequested(const QPoint& globalPos);
    // Local files or folders were dropped on the pane.
    void filesDropped(const QStringList& paths);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

// The local paths of a drop, empty when it carries none.
QStringList droppedPaths(const class QMimeData* mime);
// Accepts a drag or drop that carries local paths and gives them; ignores any other.
QStringList acceptDroppedPaths(class QDropEvent* event);
