#pragma once
#include <QColor>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTextCursor>
#include <QTimer>

// One read-only transcript pane: coloured lines appended at the end, the newest kept in view.
// The pane holds at most maxLines lines and drops the oldest beyond that, so a long session
// (a folder of 100,000 files writes a line for each) keeps its memory bounded: a line costs
// the pane about 700 bytes. The transcript log keeps every line.
//
// A line is in the pane's text as soon as addLine returns; the caret and the view follow the
// newest line once per turn of the event loop, however many lines came in it.
class TranscriptPane : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int maxLines = 10000;

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

private:
    void followEnd();
    QTextCursor endCursor; // stays at the end of the text
    QTimer followTimer;    // the caret and the view go to the end on the next turn
};

// The local paths of a drop, empty when it carries none.
QStringList droppedPaths(const class QMimeData* mime);
// Accepts a drag or drop that carries local paths and gives them; ignores any other.
QStringList acceptDroppedPaths(class QDropEvent* event);
