#include "ui/QueueWindow.h"

#include "queue/FileQueue.h"
#include "ui/DesktopServices.h"
#include "ui/QueueList.h"
#include "ui/TranscriptPane.h"
#include "ui/Twips.h"

#include <QAction>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHideEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QToolBar>

#include <algorithm>

QueueWindow::QueueWindow(FileQueue& q, const QString& widthTwips, const QString& heightTwips, QWidget* owner)
    : QWidget(owner, Qt::Tool), queue(q)
{
    setObjectName(QStringLiteral("queue"));
    setWindowTitle(QStringLiteral("File Queue"));
    setAcceptDrops(true);

    toolbar = new QToolBar(this);
    toolbar->setObjectName(QStringLiteral("Toolbar1"));
    toolbar->setIconSize(QSize(20, 20));
    QAction* stop = addToolButton("Stop", QStringLiteral("Stop Transfer"), style()->standardIcon(QStyle::SP_MediaStop));
    QAction* go = addToolButton("Go", QStringLiteral("Start Transfer"), style()->standardIcon(QStyle::SP_MediaPlay));
    QAction* up = addToolButton("Up", QStringLiteral("Move File(s) Up"), style()->standardIcon(QStyle::SP_ArrowUp));
    QAction* down =
        addToolButton("Down", QStringLiteral("Move File(s) Down"), style()->standardIcon(QStyle::SP_ArrowDown));
    QAction* del =
        addToolButton("Del", QStringLiteral("Delete File(s) From Queue"), style()->standardIcon(QStyle::SP_TrashIcon));
    QAction* help = addToolButton("Help", QStringLiteral("Help"), style()->standardIcon(QStyle::SP_MessageBoxQuestion));

    buildListView();

    popupMenu = new QMenu(this);
    popupMenu->setObjectName(QStringLiteral("mnu_list"));
    QAction* mUp = addMenuEntry("mnu_up", QStringLiteral("Move Up"));
    QAction* mDown = addMenuEntry("mnu_down", QStringLiteral("Move Down"));
    popupMenu->addSeparator();
    QAction* mTop = addMenuEntry("mnu_top", QStringLiteral("Move To Top"));
    QAction* mBott = addMenuEntry("mnu_bott", QStringLiteral("Move To Bottom"));
    popupMenu->addSeparator();
    QAction* mDel = addMenuEntry("mnu_del", QStringLiteral("Remove From Queue"));
    QAction* mClear = addMenuEntry("mnu_clear", QStringLiteral("Clear Queue"));
    popupMenu->addSeparator();
    QAction* mHelp = addMenuEntry("mnu_help", QStringLiteral("Help"));

    buildFolderPanel();

    connect(stop, &QAction::triggered, &queue, &FileQueue::stop);
    connect(go, &QAction::triggered, &queue, &FileQueue::start);
    for (QAction* a : {up, mUp})
        connect(a, &QAction::triggered, this, &QueueWindow::moveUp);
    for (QAction* a : {down, mDown})
        connect(a, &QAction::triggered, this, &QueueWindow::moveDown);
    for (QAction* a : {del, mDel})
        connect(a, &QAction::triggered, this, &QueueWindow::removeSelected);
    connect(mTop, &QAction::triggered, this, &QueueWindow::moveToTop);
    connect(mBott, &QAction::triggered, this, &QueueWindow::moveToBottom);
    connect(mClear, &QAction::triggered, this, &QueueWindow::askClear);
    for (QAction* a : {help, mHelp})
        connect(a, &QAction::triggered, this, [this] { showHelpTopic(8, this); });
    connect(CancelDirProc, &QPushButton::clicked, &queue, &FileQueue::cancelDir);

    connect(&queue, &FileQueue::stateChanged, this, &QueueWindow::refreshButtons);
    connect(&queue, &FileQueue::firstEntryAdded, this, [this] {
        if (!isVisible())
            show();
    });
    connect(&queue, &FileQueue::expansionShown, this, [this](bool shown) {
        folderPanel->setVisible(shown);
        if (shown) {
            layoutControls();
            folderPanel->raise();
        }
    });
    connect(&queue, &FileQueue::expandingFolderChanged, this, [this](const QString& text) {
        DirLabel->setText(FileQueue::shortenDirLabel(text));
        layoutControls(); // the panel fits the folder's text
    });
    filesAddedTimer.setSingleShot(true);
    filesAddedTimer.setInterval(250);
    connect(&filesAddedTimer, &QTimer::timeout, this, [this] {
        const QString text = QString::number(filesAdded);
        if (filesAddedLabel->text() != text) {
            filesAddedLabel->setText(text);
            filesAddedTimer.start(); // the next change waits its turn too
        }
    });
    connect(&queue, &FileQueue::filesAddedChanged, this, [this](int n) {
        filesAdded = n;
        if (filesAddedTimer.isActive())
            return;
        filesAddedLabel->setText(QString::number(n));
        filesAddedTimer.start();
    });

    // The ordering commands apply to the selection; they are enabled only while there is one.
    connect(listView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &QueueWindow::refreshSelectionCommands);
    connect(&queue, &QAbstractItemModel::modelReset, this, &QueueWindow::refreshSelectionCommands);
    connect(&queue, &QAbstractItemModel::rowsRemoved, this, &QueueWindow::refreshSelectionCommands);
    connect(listView, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        refreshSelectionCommands();
        popupMenu->popup(listView->viewport()->mapToGlobal(at));
    });

    refreshButtons();
    refreshSelectionCommands();
    resize(twipsToPixelsX(twipsOption(widthTwips, 4800)), twipsToPixelsY(twipsOption(heightTwips, 3180)));
}

void QueueWindow::buildListView()
{
    listView = new QueueList(this);
    listView->setObjectName(QStringLiteral("List1"));
    listModel = new QueueListModel(queue, this);
    listView->setModel(listModel);
    listView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    listView->setUniformItemSizes(true); // keeps a list of 100,000 entries quick
    listView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listView->setContextMenuPolicy(Qt::CustomContextMenu);
}

// The panel shown while a folder is being expanded.
void QueueWindow::buildFolderPanel()
{
    auto* panel = new QFrame(this);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setAutoFillBackground(true);
    folderPanel = panel;
    folderPanel->setObjectName(QStringLiteral("ProcDirPic"));
    DirLabel = new QLabel(folderPanel);
    DirLabel->setObjectName(QStringLiteral("DirLabel"));
    filesAddedLabel = new QLabel(QStringLiteral("0"), folderPanel);
    filesAddedLabel->setObjectName(QStringLiteral("FileAddedLabel"));
    filesAddedLabel->setMinimumWidth(filesAddedLabel->fontMetrics().horizontalAdvance(QStringLiteral("0000000")));
    CancelDirProc = new QPushButton(QStringLiteral("Cancel"), folderPanel);
    CancelDirProc->setObjectName(QStringLiteral("CancelDirProc"));
    auto* grid = new QGridLayout(folderPanel);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setVerticalSpacing(2);
    auto* title = new QLabel(QStringLiteral("Processing Directory..."), folderPanel);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    grid->addWidget(title, 0, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Directory : "), folderPanel), 1, 0);
    grid->addWidget(DirLabel, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Files Added To Queue"), folderPanel), 2, 0);
    grid->addWidget(filesAddedLabel, 2, 1);
    grid->addWidget(CancelDirProc, 3, 0, 1, 2, Qt::AlignHCenter);
    folderPanel->hide();
}

QAction* QueueWindow::addToolButton(const char* key, const QString& tip, const QIcon& icon)
{
    QAction* a = toolbar->addAction(icon, tip);
    a->setObjectName(QLatin1String(key));
    a->setToolTip(tip);
    return a;
}

QAction* QueueWindow::addMenuEntry(const char* name, const QString& caption)
{
    QAction* a = popupMenu->addAction(caption);
    a->setObjectName(QLatin1String(name));
    return a;
}

void QueueWindow::refreshButtons()
{
    // Stop is offered while the loop runs (and at first), Go once it is off.
    const FileQueue::State state = queue.state();
    const bool on = state == FileQueue::State::Ready || state == FileQueue::State::Sending;
    findChild<QAction*>(QStringLiteral("Stop"))->setEnabled(on);
    findChild<QAction*>(QStringLiteral("Go"))->setEnabled(!on);
}

void QueueWindow::refreshSelectionCommands()
{
    const bool any = listView->selectionModel()->hasSelection();
    for (const char* name : {"Up", "Down", "Del", "mnu_up", "mnu_down", "mnu_top", "mnu_bott", "mnu_del"})
        findChild<QAction*>(QLatin1String(name))->setEnabled(any);
}

QList<int> QueueWindow::selectedRows() const
{
    // Rows of the queue: the list shows the queue as it is from here on.
    listModel->flush();
    QList<int> rows;
    const QModelIndexList selected = listView->selectionModel()->selectedRows();
    rows.reserve(selected.size());
    for (const QModelIndex& i : selected)
        rows.append(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void QueueWindow::select(const QList<int>& rows)
{
    listModel->flush();
    QItemSelection selection;
    for (int r : rows) {
        const QModelIndex i = listModel->index(r);
        selection.select(i, i);
    }
    listView->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!rows.isEmpty())
        listView->scrollTo(listModel->index(rows.first()));
    refreshSelectionCommands();
}

void QueueWindow::moveUp()
{
    select(queue.moveUp(selectedRows()));
}
void QueueWindow::moveDown()
{
    select(queue.moveDown(selectedRows()));
}
void QueueWindow::moveToTop()
{
    select(queue.moveToTop(selectedRows()));
}
void QueueWindow::moveToBottom()
{
    select(queue.moveToBottom(selectedRows()));
}
void QueueWindow::removeSelected()
{
    select(queue.remove(selectedRows()));
}

void QueueWindow::askClear()
{
    if (clearBox) {
        clearBox->raise();
        return;
    }
    clearBox = new QMessageBox(QMessageBox::Question, QStringLiteral("Clear?"),
                               QStringLiteral("Are you sure you want to clear the File Queue?"),
                               QMessageBox::Yes | QMessageBox::No, this);
    clearBox->setObjectName(QStringLiteral("clearQuestion"));
    clearBox->setAttribute(Qt::WA_DeleteOnClose);
    // Emptying the queue cannot be undone: Enter alone must not do it.
    clearBox->setDefaultButton(QMessageBox::No);
    clearBox->setEscapeButton(QMessageBox::No);
    connect(clearBox, &QMessageBox::finished, this, [this](int answer) {
        if (answer != QMessageBox::No)
            queue.clear();
    });
    clearBox->open();
}

// Where a window of frame size `frame` goes beside the main window's frame `main`: below it,
// else to its right, its left or above it, whichever first fits on the screen; when none
// does, below it as far as the screen allows, so that it never opens off the screen.
QPoint QueueWindow::placeBeside(const QRect& main, const QSize& frame, const QRect& screen)
{
    const QPoint candidates[] = {{main.left(), main.bottom() + 1},
                                 {main.right() + 1, main.top()},
                                 {main.left() - frame.width(), main.top()},
                                 {main.left(), main.top() - frame.height()}};
    for (const QPoint& at : candidates)
        if (screen.contains(QRect(at, frame)))
            return at;
    const int x = std::clamp(main.left(), screen.left(), std::max(screen.left(), screen.right() + 1 - frame.width()));
    const int y =
        std::clamp(main.bottom() + 1, screen.top(), std::max(screen.top(), screen.bottom() + 1 - frame.height()));
    return {x, y};
}

void QueueWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The first time, directly below the main window.
    if (!placed && parentWidget()) {
        placed = true;
        const QWidget* mainWindow = parentWidget()->window();
        const QRect main = mainWindow->frameGeometry();
        // Until this window has been shown its frame is not known and a position names its
        // client area: leave room for a title bar and border like the main window's, so that
        // the frame starts below the main window instead of covering its state label.
        QPoint room;
        QSize frame = frameGeometry().size();
        if (frameGeometry() == geometry()) {
            room = mainWindow->geometry().topLeft() - main.topLeft();
            frame += main.size() - mainWindow->geometry().size();
        }
        move(placeBeside(main, frame, mainWindow->screen()->availableGeometry()) + room);
    }
    Q_EMIT shownChanged(true);
}

void QueueWindow::closeEvent(QCloseEvent* event)
{
    // The close box only hides: the entries and the send loop stay as they are.
    event->ignore();
    hide();
}

void QueueWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // Hidden by the close box or the main window's command alike; a minimized desktop
    // hides it only for the while.
    if (!event->spontaneous())
        Q_EMIT shownChanged(false);
}

void QueueWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    keepMinimumOuterSize(*this, minWidthTwips, minHeightTwips);
    if (!isMinimized())
        layoutControls();
}

void QueueWindow::layoutControls()
{
    const int margin = twipsToPixelsX(15);
    const QSize tb = toolbar->sizeHint();
    const int tbLeft = std::max(0, (width() - tb.width()) / 2 + margin);
    toolbar->setGeometry(tbLeft, 0, tb.width(), tb.height());
    const int top = tb.height() + 2;
    listView->setGeometry(margin, top, std::max(0, width() - 2 * margin), std::max(0, height() - top - margin));
    const QSize panel = folderPanel->sizeHint();
    const int panelWidth = std::min(std::max(panel.width(), tb.width()), width() - 2 * margin);
    folderPanel->setGeometry(std::max(margin, std::min(tbLeft, width() - panelWidth - margin)), top + 8, panelWidth,
                             panel.height());
}

void QueueWindow::dragEnterEvent(QDragEnterEvent* event)
{
    acceptDroppedPaths(event);
}

void QueueWindow::dragMoveEvent(QDragMoveEvent* event)
{
    acceptDroppedPaths(event);
}

void QueueWindow::dropEvent(QDropEvent* event)
{
    if (const QStringList paths = acceptDroppedPaths(event); !paths.isEmpty())
        Q_EMIT filesDropped(paths);
}
