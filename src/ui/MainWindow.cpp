#include "ui/MainWindow.h"

#include "core/LineText.h"
#include "core/PeerState.h"
#include "peer/Peer.h"
#include "platform/EventSocket.h"
#include "queue/FileQueue.h"
#include "session/Session.h"
#include "transfer/TransferManager.h"
#include "ui/AboutWindow.h"
#include "ui/CommandWindows.h"
#include "ui/DesktopServices.h"
#include "ui/MainWindowMenus.h"
#include "ui/MainWindowTray.h"
#include "ui/QueueWindow.h"
#include "ui/TranscriptArea.h"
#include "ui/TranscriptPane.h"
#include "ui/Twips.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>
#include <QShowEvent>
#include <QToolBar>

MainWindow::MainWindow(Peer& p, QWidget* parent) : QMainWindow(parent), peer(p), ctx(p.state())
{
    setObjectName(QStringLiteral("Base"));
    setWindowTitle(QStringLiteral("Zantiro"));
    setWindowIcon(AboutWindow::programIcon());
    setAcceptDrops(true);

    area = new TranscriptArea(ctx, peer.session(), this);
    setCentralWidget(area);
    buildMenus();
    windows = new CommandWindows(peer, *this);
    buildToolbar();

    connect(area, &TranscriptArea::popupRequested, this, [this](TranscriptPane* pane, const QPoint& at) {
        popupPane = pane;
        popupMenu->popup(at);
    });
    connect(area, &TranscriptArea::filesDropped, this, &MainWindow::filesDropped);
    // Whatever is dropped on the program's windows goes into the file queue.
    connect(this, &MainWindow::filesDropped, &peer.queue(), &FileQueue::addDropped);
    connect(area->chatBar(), &QLineEdit::returnPressed, this, &MainWindow::onChatEnter);
    connect(&ctx, &PeerState::lineAdded, this, &MainWindow::showLine);

    Session& s = peer.session();
    // The session announces a change of the connection in the middle of handling it; the
    // label and commands follow the socket's state once that handler is done, instead of
    // swapping blindly and waiting for the next stateTimer tick to put them right.
    auto refreshSoon = [this] { QTimer::singleShot(0, this, &MainWindow::refreshState); };
    // A close shows the idle commands at once.
    connect(&s, &Session::connectionStateChanged, this, [this, refreshSoon](Session::State state) {
        if (state == Session::State::Idle) {
            applyIdleCommands();
            peerNamed = false;
            updateTitle();
        }
        refreshSoon();
    });
    connect(&s, &Session::loggedIn, this, &MainWindow::updateTitle);
    connect(&s, &Session::identityRefused, windows, &CommandWindows::askAboutIdentity);
    // The name in the title is this peer's own record, not one left from an earlier peer.
    connect(&s, &Session::remoteInfoChanged, this, [this] {
        peerNamed = true;
        updateTitle();
    });

    startTimers();

    setMinimumSize(twipsToPixelsX(TranscriptArea::minWidthTwips), twipsToPixelsY(TranscriptArea::minHeightTwips));
    resize(twipsToPixelsX(twipsOption(ctx.options.mainWidth, 4740)),
           twipsToPixelsY(twipsOption(ctx.options.mainHeight, 5115)));

    // The load handler: empty panes, the debug notice, the idle look of the commands.
    if (ctx.debugMode)
        ctx.addText(QStringLiteral("QVDEBUG ACTIVATED"), LineKind::Message);
    applyIdleCommands();
    applyLayout();
}

MainWindow::~MainWindow() = default;

// The state refresh.
void MainWindow::startTimers()
{
    stateTimer.setInterval(500);
    connect(&stateTimer, &QTimer::timeout, this, &MainWindow::refreshState);
    stateTimer.start();
}

QAction* MainWindow::action(const char* name) const
{
    return findChild<QAction*>(QLatin1String(name));
}

template <class Receiver>
void MainWindow::route(const QStringList& names, Receiver* receiver, void (Receiver::*handler)())
{
    for (const QString& n : names)
        if (QAction* a = findChild<QAction*>(n))
            connect(a, &QAction::triggered, receiver, handler);
}

void MainWindow::buildMenus()
{
    MainWindowMenus::fillMenuBar(*this);
    popupMenu = MainWindowMenus::makePopupMenu(*this);
    // Copy and Select All act on the pane the menu was opened over.
    connect(action("pop_copy"), &QAction::triggered, this, [this] {
        if (popupPane)
            popupPane->copy();
    });
    connect(action("pop_selectall"), &QAction::triggered, this, [this] {
        if (popupPane)
            popupPane->selectAll();
    });
    trayKeeper = new MainWindowTray(*this, ctx);
}

void MainWindow::buildToolbar()
{
    area->setToolbar(MainWindowMenus::makeToolbar(area));
    routeCommands();
}

// Every menu entry, popup entry and toolbar button runs its command.
void MainWindow::routeCommands()
{
    route({"mnu_Connect", "pop_conn", "Connect"}, this, &MainWindow::onConnectCommand);
    route({"mnu_dc", "pop_dc", "Disconnect"}, this, &MainWindow::onDisconnectCommand);
    route({"mnu_Ping", "pop_ping", "Ping"}, this, &MainWindow::onPingCommand);
    route({"mnu_clear", "pop_clear", "Clean"}, this, &MainWindow::onClearCommand);
    route({"mnu_Help2", "pop_help", "Help"}, this, &MainWindow::onHelpCommand);
    route({"mnu_svrlist", "pop_svrlist", "ServerList"}, this, &MainWindow::onSiteListCommand);
    route({"mnu_exit", "mnu_trayexit"}, this, &MainWindow::closeWindow);
    route({"mnu_restore"}, trayKeeper, &MainWindowTray::restoreWindow);
    route({"mnu_queue", "pop_queue"}, windows, &CommandWindows::toggleQueue);
    route({"mnu_catcher", "pop_catcher"}, windows, &CommandWindows::toggleCatcher);
    route({"mnu_remui", "pop_remui"}, windows, &CommandWindows::showRemoteInfo);
    route({"mnu_msg", "pop_msg", "Msg"}, windows, &CommandWindows::showMessageDialog);
    route({"mnu_Opt", "pop_opt", "Options"}, windows, &CommandWindows::showOptions);
    route({"mnu_getip", "pop_get", "GetIp"}, windows, &CommandWindows::showLocalAddress);
    route({"mnu_about"}, windows, &CommandWindows::showAbout);

    // The site list is opened through its own installer (setSiteListOpener); until then
    // its commands stay disabled.
    for (const char* name : {"mnu_svrlist", "pop_svrlist", "ServerList"})
        action(name)->setEnabled(false);
}

void MainWindow::setSiteListOpener(std::function<void()> opener)
{
    siteListOpener = std::move(opener);
    for (const char* name : {"mnu_svrlist", "pop_svrlist", "ServerList"})
        action(name)->setEnabled(bool(siteListOpener));
}

void MainWindow::onSiteListCommand()
{
    if (siteListOpener)
        siteListOpener();
}

QueueWindow* MainWindow::queueWindow() const
{
    return windows->queueWindow();
}

FileCatcherWindow* MainWindow::catcher() const
{
    return windows->catcher();
}

void MainWindow::switchToSiteList()
{
    windows->closeConnectDialog();
    onSiteListCommand();
}

void MainWindow::showLine(const QString& text, LineKind kind)
{
    const bool blink = area->showLine(text, kind);
    trayKeeper->lineShown(text, blink, kind == LineKind::Message);
}

void MainWindow::updateTitle()
{
    const Session& s = peer.session();
    if (!s.isConnected() || s.loginPending()) {
        setWindowTitle(QStringLiteral("Zantiro"));
        return;
    }
    // The name is the peer's own text: one line, and not so long that the title loses the address.
    QString name = peerNamed ? LineText::visible(ctx.remoteName) : QString();
    if (name.size() > 48)
        name = name.left(47) + QChar(0x2026);
    setWindowTitle(QStringLiteral("Zantiro - ") + name + (name.isEmpty() ? "(" : " (") + s.controlSocket.remoteHostIP()
                   + ')');
}

void MainWindow::onChatEnter()
{
    QLineEdit* chatBar = area->chatBar();
    const QString line = chatBar->text();
    if (line.isEmpty())
        return;
    if (line.toLower() == QLatin1String("/debug")) {
        chatBar->clear();
        ctx.addText(ctx.debugMode ? QStringLiteral("QVDEBUG DEACTIVATED") : QStringLiteral("QVDEBUG ACTIVATED"),
                    LineKind::Message);
        ctx.debugMode = !ctx.debugMode;
        return;
    }
    if (!windows->connectedOrSay())
        return;
    // Several pasted lines are several chat lines, each sent and shown on its own.
    static const QRegularExpression lineBreak(QStringLiteral("\\r\\n|[\\n\\r\\x{2028}\\x{2029}]"));
    const QStringList lines = line.split(lineBreak, Qt::SkipEmptyParts);
    for (const QString& one : lines)
        peer.session().sendChat(one);
    chatBar->clear();
}

void MainWindow::openConnection()
{
    windows->dropIdentityQuestion();
    peer.session().openConnection();
    refreshState();
}

void MainWindow::onConnectCommand()
{
    windows->dropIdentityQuestion();
    peer.session().dropForConnect();
    refreshState();
    std::function<void()> openSiteList;
    if (siteListOpener)
        openSiteList = [this] { onSiteListCommand(); };
    windows->showConnectDialog(std::move(openSiteList));
}

void MainWindow::onDisconnectCommand()
{
    Session& s = peer.session();
    const bool wasConnected = s.isConnected();
    s.disconnectFromPeer();
    if (!wasConnected) {
        applyIdleCommands();
        area->setStateText(QStringLiteral("Disconnected."));
    }
}

void MainWindow::onPingCommand()
{
    peer.session().sendPing();
}

void MainWindow::onClearCommand()
{
    area->clear();
}

void MainWindow::onHelpCommand()
{
    showHelpTopic(2, this);
}

void MainWindow::setConnectCommandsShown(bool shown)
{
    for (const char* name : {"mnu_Connect", "pop_conn", "Connect"})
        action(name)->setVisible(shown);
    for (const char* name : {"mnu_dc", "pop_dc", "Disconnect"})
        action(name)->setVisible(!shown);
}

void MainWindow::applyIdleCommands()
{
    setConnectCommandsShown(true);
}

void MainWindow::refreshState()
{
    QString caption;
    bool connectShown = false;
    switch (peer.session().controlSocket.state()) {
    case EventSocket::Closed:
        caption = QStringLiteral("Disconnected."), connectShown = true;
        break;
    case EventSocket::Listening:
        caption = QStringLiteral("Waiting For Connect Attempt.");
        break;
    case EventSocket::ResolvingHost:
        caption = QStringLiteral("Resolving Host.");
        break;
    case EventSocket::HostResolved:
        caption = QStringLiteral("Host Resolved.");
        break;
    case EventSocket::Connecting:
        caption = QStringLiteral("Connecting...");
        break;
    case EventSocket::Connected:
        caption = QStringLiteral("Connected.");
        break;
    case EventSocket::Error:
        caption = QStringLiteral("Disconnected."), connectShown = true;
        break;
    default:
        return; // open, pending, closing: left as they are
    }
    area->setStateText(caption);
    setConnectCommandsShown(connectShown);
}

void MainWindow::applyLayout()
{
    area->applyLayout();
}

void MainWindow::applyWindowPlacement()
{
    // The stored size counts the frame; before the window is first shown the frame is not
    // known yet (0), and the same frame is added back when the size is stored at exit.
    placementFrame = frameGeometry().size() - size();
    const QSize outer(twipsToPixelsX(twipsOption(ctx.options.mainWidth, 4740)),
                      twipsToPixelsY(twipsOption(ctx.options.mainHeight, 5115)));
    resize(outer - placementFrame);
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->geometry();
        const QString& pos = ctx.options.windowPosition;
        const QSize now = frameGeometry().size();
        if (pos == QLatin1String("0"))
            move(area.left() + area.width() - now.width(), area.top());
        else if (pos == QLatin1String("1"))
            move(area.left() + (area.width() - now.width()) / 2, area.top() + (area.height() - now.height()) / 2);
    }
    applyLayout();
}

void MainWindow::sizeForNewInstallation()
{
    QSize size(640, 600);
    if (const QScreen* screen = this->screen())
        size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    ctx.options.mainWidth = QString::number(std::max(pixelsToTwipsX(size.width()), TranscriptArea::minWidthTwips));
    ctx.options.mainHeight = QString::number(std::max(pixelsToTwipsY(size.height()), TranscriptArea::minHeightTwips));
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // Typing goes to the chat bar from the start, not into a read-only pane.
    if (!event->spontaneous() && area->chatBar()->isVisible())
        area->chatBar()->setFocus();
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    // Never narrower than the toolbar with its margins, so that no button is cut off.
    const int toolbarWidth = pixelsToTwipsX(area->toolBar()->sizeHint().width()) + 240;
    keepMinimumOuterSize(*this, std::max(TranscriptArea::minWidthTwips, toolbarWidth), TranscriptArea::minHeightTwips);
    if (!isMinimized())
        area->layoutControls();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        trayKeeper->windowStateChanged();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    acceptDroppedPaths(event);
}

void MainWindow::dropEvent(QDropEvent* event)
{
    if (const QStringList paths = acceptDroppedPaths(event); !paths.isEmpty())
        Q_EMIT filesDropped(paths);
}

void MainWindow::closeWindow()
{
    close();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (exiting) {
        event->accept();
        return;
    }
    event->ignore();
    askExit();
}

void MainWindow::askExit()
{
    if (exitBox && exitBox->isVisible()) {
        exitBox->raise();
        return;
    }
    // Leaving ends a running transfer: the question says so.
    exitBox = new QMessageBox(QMessageBox::Question, QStringLiteral("Exit?"),
                              peer.transfers().working() ? QStringLiteral("A file transfer is running. Exit anyway?")
                                                         : QStringLiteral("Are you sure you want to exit Zantiro?"),
                              QMessageBox::Yes | QMessageBox::No, this);
    exitBox->setObjectName(QStringLiteral("exitQuestion"));
    exitBox->setAttribute(Qt::WA_DeleteOnClose);
    exitBox->setEscapeButton(QMessageBox::No);
    connect(exitBox, &QMessageBox::buttonClicked, this, [this](QAbstractButton* b) {
        if (exitBox && exitBox->standardButton(b) == QMessageBox::Yes)
            QTimer::singleShot(0, this, &MainWindow::finishExit);
    });
    exitBox->open();
}

void MainWindow::finishExit()
{
    if (exiting)
        return;
    exiting = true;
    Options& o = ctx.options;
    // The size as it was applied at start, so that it comes back exactly at the next start.
    const QSize outer = size() + placementFrame;
    o.mainWidth = QString::number(pixelsToTwipsX(outer.width()));
    o.mainHeight = QString::number(pixelsToTwipsY(outer.height()));
    // The queue window keeps its size in the options whether it is shown or not; like the
    // main window's, the size stored is the one applied at start.
    o.queueWidth = QString::number(pixelsToTwipsX(windows->queueWindow()->width()));
    o.queueHeight = QString::number(pixelsToTwipsY(windows->queueWindow()->height()));
    hide();
    trayKeeper->leave();
    // A running transfer is canceled and the peer told "bye" before anything is torn down.
    connect(&peer, &Peer::left, this, &MainWindow::closeDown, Qt::SingleShotConnection);
    peer.leave();
}

void MainWindow::closeDown()
{
    peer.flushLog();
    // Other windows of this program close with it, first, so that what they keep in the
    // options (the site list's size) is saved too; another main window in the same process
    // (two peers in one test) and what it owns are left alone.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w == this || !w->isVisible())
            continue;
        QWidget* owner = w;
        while (owner->parentWidget())
            owner = owner->parentWidget()->window();
        if (owner == this || !qobject_cast<MainWindow*>(owner))
            w->close();
    }
    const QString problem = ctx.saveConfig();
    auto end = [this, problem] {
        if (problem.isEmpty()) {
            Q_EMIT exitConfirmed();
            return;
        }
        // The options could not be saved: say so before the program ends.
        auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Zantiro"), problem, QMessageBox::Ok);
        box->setObjectName(QStringLiteral("saveConfigError"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        connect(box, &QMessageBox::finished, this, &MainWindow::exitConfirmed);
        box->open();
    };
    // A window that could not save what it closed with (the site list) has said so; the
    // program ends once the user has read it.
    const auto told = findChildren<QMessageBox*>(QStringLiteral("saveSitesError"), Qt::FindDirectChildrenOnly);
    for (QMessageBox* box : told)
        if (box->isVisible()) {
            connect(box, &QMessageBox::finished, this, end);
            return;
        }
    end();
}
