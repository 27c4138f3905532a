#pragma once
#include <QPointer>
#include <QTimer>
#include <QWidget>

class FileQueue;
class QAction;
class QLabel;
class QListView;
class QMenu;
class QMessageBox;
class QPushButton;
class QToolBar;
class QueueListModel;

// The file queue's window "File Queue": the queued paths in a list with multiple selection,
// the toolbar and popup menu that stop, resume, reorder and remove, and the panel shown while
// a folder is being expanded. Closing it only hides it; the queue goes on sending either way.
// Its outer size is kept in the options queueWidth and queueHeight (twips).
class QueueWindow : public QWidget {
    Q_OBJECT
public:
    QueueWindow(FileQueue& queue, const QString& widthTwips, const QString& heightTwips, QWidget* owner);

    // Minimum outer size, in twips.
    static constexpr int minWidthTwips = 2745;
    static constexpr int minHeightTwips = 1560;

    // The rows selected in listView, ascending.
    QList<int> selectedRows() const;
    // The ordering commands, as the toolbar and menu run them.
    void moveUp();
    void moveDown();
    void moveToTop();
    void moveToBottom();
    void removeSelected();
    // Asks "Clear?" (modeless); anything but No empties the queue.
    void askClear();
    // Where a window with frame size `frame` opens beside the main window's frame `main`,
    // inside `screen`: below, right, left or above, else below as far as the screen allows.
    static QPoint placeBeside(const QRect& main, const QSize& frame, const QRect& screen);

Q_SIGNALS:
    // The window was shown (true) or closed by its close box (false), for the main window's
    // "Show File Queue"/"Hide File Queue" captions.
    void shownChanged(bool shown);
    // Local files or folders were dropped on the window, its list or its toolbar.
    void filesDropped(const QStringList& paths);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildListView();
    void buildFolderPanel();
    QAction* addToolButton(const char* key, const QString& tip, const QIcon& icon);
    QAction* addMenuEntry(const char* name, const QString& caption);
    void refreshButtons();
    void refreshSelectionCommands();
    void select(const QList<int>& rows);
    void layoutControls();

    FileQueue& queue;
    QListView* listView = nullptr;
    QueueListModel* listModel = nullptr;
    QToolBar* toolbar = nullptr;
    QMenu* popupMenu = nullptr;
    QWidget* folderPanel = nullptr;
    QLabel* DirLabel = nullptr;
    QLabel* filesAddedLabel = nullptr;
    // The count read so far changes a thousand times a second on a large folder: the label
    // takes the first change at once and the latest one each time this runs out.
    QTimer filesAddedTimer;
    int filesAdded = 0;
    QPushButton* CancelDirProc = nullptr;
    QPointer<QMessageBox> clearBox;
    bool placed = false;
};
