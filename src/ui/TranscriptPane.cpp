#include "ui/TranscriptPane.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextCursor>
#include <QUrl>

QStringList droppedPaths(const QMimeData* mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    return paths;
}

QStringList acceptDroppedPaths(QDropEvent* event)
{
    const QStringList paths = droppedPaths(event->mimeData());
    if (paths.isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
    return paths;
}

TranscriptPane::TranscriptPane(const QString& name, QWidget* parent) : QPlainTextEdit(parent)
{
    setObjectName(name);
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setMaximumBlockCount(maxLines);
    setAcceptDrops(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    followTimer.setSingleShot(true);
    followTimer.setInterval(0);
    connect(&followTimer, &QTimer::timeout, this, &TranscriptPane::followEnd);
}

void TranscriptPane::addLine(const QString& text, const QColor& colour)
{
    QTextCharFormat format;
    format.setForeground(colour);
    if (endCursor.isNull() || endCursor.document() != document())
        endCursor = QTextCursor(document());
    endCursor.movePosition(QTextCursor::End);
    endCursor.insertText(text + '\n', format);
    if (!followTimer.isActive())
        followTimer.start();
}

void TranscriptPane::followEnd()
{
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    setTextCursor(end);
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TranscriptPane::contextMenuEvent(QContextMenuEvent* event)
{
    Q_EMIT popupRequested(event->globalPos());
    event->accept();
}

void TranscriptPane::keyPressEvent(QKeyEvent* event)
{
    // Copying and moving through the text work; nothing can be typed in.
    if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::SelectAll) || event->text().isEmpty()) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TranscriptPane::dragEnterEvent(QDragEnterEvent* event)
{
    acceptDroppedPaths(event);
}

void TranscriptPane::dragMoveEvent(QDragMoveEvent* event)
{
    acceptDroppedPaths(event);
}

void TranscriptPane::dropEvent(QDropEvent* event)
{
    if (const QStringList paths = acceptDroppedPaths(event); !paths.isEmpty())
        Q_EMIT filesDropped(paths);
}
