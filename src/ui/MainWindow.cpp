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
#include "ui/PrivacyBadge.h"
#include "ui/QueueWindow.h"
#include "ui/TranscriptPane.h"
#include "ui/Twips.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QRegularExpression>
#include <QScreen>
#include <QShowEvent>
#include <QToolBar>

namespace {

// Places a control by its twips geometry.
void place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(twipsToPixelsX(left), twipsToPixelsY(top), twipsToPixelsX(std::max(0, width)),
                   twipsToPixelsY(std::max(0, height)));
}

// Design geometry of the controls that keep part of it when the window is resized.
constexpr int statusTextHeight = 1050;
constexpr int chatBarHeight = 315;
constexpr int stateLabelHeight = 210;
// The layout's bottom distances count from the outer edge of a window whose title bar, menu
// bar and borders took this much height. Measured from the real client area instead, the
// state label sits at the bottom whatever frame the window manager draws, and whether or
// not that frame is known yet.
constexpr int designFrameHeight = 690;

} // namespace

QColor MainWindow::colourOf(const QString& optionText)
{
    const qint64 v = optionText.trimmed().toLongLong();
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

MainWindow::MainWindow(Peer& p, QWidget* parent) : QMainWindow(parent), peer(p), ctx(p.state())
{
    setObjectName(QStringLiteral("Base"));
    setWindowTitle(QStringLiteral("Zantiro"));
    setWindowIcon(AboutWindow::programIcon());
    setAcceptDrops(true);

    buildPanes();
    buildMenus();
    windows = new CommandWindows(peer, *this);
    buildToolbar();

    for (TranscriptPane* pane : {bothPane, statusPane, messagePane}) {
        connect(pane, &TranscriptPane::popupRequested, this, [this, pane](const QPoint& at) {
            popupPane = pane;
            popupMenu->popup(at);
        });
        connect(pane, &TranscriptPane::filesDropped, this, &MainWindow::filesDropped);
    }
    // Whatever is dropped on the program's windows goes into the file queue.
    connect(this, &MainWindow::filesDropped, &peer.queue(), &FileQueue::addDropped);
    connect(chatBar, &QLineEdit::returnPressed, this, &MainWindow::onChatEnter);
    chatBar->installEventFilter(this);
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
    privacyBadge = new PrivacyBadge(s, stateLabel);
    auto* stateRow = new QHBoxLayout(stateLabel);
    stateRow->setContentsMargins(0, 0, 0, 0);
    stateRow->setSizeConstraint(QLayout::SetNoConstraint); // the label keeps its laid-out size
    stateRow->addStretch();
    stateRow->addWidget(privacyBadge);
    connect(&s, &Session::privacyChanged, privacyBadge, &PrivacyBadge::refresh);
    connect(&s, &Session::connectionStateChanged, privacyBadge, &PrivacyBadge::refresh);
    connect(&s, &Session::identityRefused, windows, &CommandWindows::askAboutIdentity);
    // The name in the title is this peer's own record, not one left from an earlier peer.
    connect(&s, &Session::remoteInfoChanged, this, [this] {
        peerNamed = true;
        updateTitle();
    });

    startTimers();

    setMinimumSize(twipsToPixelsX(minWidthTwips), twipsToPixelsY(minHeightTwips));
    resize(twipsToPixelsX(twipsOption(ctx.options.mainWidth, 4740)),
           twipsToPixelsY(twipsOption(ctx.options.mainHeight, 5115)));

    // The load handler: empty panes, the debug notice, the idle look of the commands.
    if (ctx.debugMode)
        ctx.addText(QStringLiteral("QVDEBUG ACTIVATED"), LineKind::Message);
    applyIdleCommands();
    applyLayout();
}

MainWindow::~MainWindow() = default;

// The central area with the three transcript panes, the chat bar and the state label.
void MainWindow::buildPanes()
{
    central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralWidget"));
    setCentralWidget(central);
    central->installEventFilter(this); // its size is what the controls are laid out in

    bothPane = new TranscriptPane(QStringLiteral("BothText"), central);
    statusPane = new TranscriptPane(QStringLiteral("StatusText"), central);
    messagePane = new TranscriptPane(QStringLiteral("MsgText"), central);
    chatBar = new QLineEdit(central);
    chatBar->setObjectName(QStringLiteral("ChatBar"));
    stateLabel = new QLabel(QStringLiteral("Disconnected."), central);
    stateLabel->setObjectName(QStringLiteral("SockState"));
}

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
    toolbar = MainWindowMenus::makeToolbar(central);
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
    const Options& o = ctx.options;
    QString colour;
    bool blink = false;
    TranscriptPane* second = statusPane;
    switch (kind) {
    case LineKind::Message:
        colour = o.messageColor, blink = o.messageBlink, second = messagePane;
        break;
    case LineKind::Status:
        colour = o.statusColor, blink = o.statusBlink;
        break;
    case LineKind::Error:
        colour = o.errorColor, blink = o.errorBlink;
        break;
    case LineKind::Connect:
        colour = o.connectColor, blink = o.connectBlink;
        break;
    default:
        return; // only the four kinds exist
    }
    trayKeeper->lineShown(text, blink, kind == LineKind::Message);
    const QColor c = colourOf(colour);
    bothPane->addLine(text, c);
    second->addLine(text, c);
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
        stateLabel->setText(QStringLiteral("Disconnected."));
    }
}

void MainWindow::onPingCommand()
{
    peer.session().sendPing();
}

void MainWindow::onClearCommand()
{
    for (TranscriptPane* pane : {bothPane, statusPane, messagePane})
        pane->clear();
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
    stateLabel->setText(caption);
    setConnectCommandsShown(connectShown);
}

void MainWindow::layoutControls()
{
    const QSize outer = frameGeometry().size();
    const int outerWidth = std::max(pixelsToTwipsX(outer.width()), minWidthTwips);
    const int outerHeight = std::max(pixelsToTwipsY(central->height()) + designFrameHeight, minHeightTwips);

    const int left = 53;
    const int width = outerWidth - 240;
    const int stateLabelTop = outerHeight - 975;
    const int chatTop = stateLabelTop - 350;
    const int statusTop = 585;
    const int messageTop = statusTop + statusTextHeight + 100;
    const int panesBottom = ctx.options.showChatBar ? chatTop : stateLabelTop;

    place(stateLabel, left, stateLabelTop, width, stateLabelHeight);
    place(chatBar, left, chatTop, width, chatBarHeight);
    place(statusPane, left, statusTop, width, statusTextHeight);
    place(messagePane, left, messageTop, width, panesBottom - 25 - messageTop);
    place(bothPane, left, 585, width, panesBottom - 600);

    const QSize toolbarSize = toolbar->sizeHint();
    const int toolbarWidth = pixelsToTwipsX(toolbarSize.width());
    toolbar->setGeometry(twipsToPixelsX((outerWidth - toolbarWidth) / 2 + 15), 0, toolbarSize.width(),
                         toolbarSize.height());
}

void MainWindow::applyLayout()
{
    const QString& layout = ctx.options.boxLayout;
    if (layout == QLatin1String("0")) {
        bothPane->show();
        messagePane->hide();
        statusPane->hide();
    } else if (layout == QLatin1String("1")) {
        bothPane->hide();
        messagePane->show();
        statusPane->show();
    }
    layoutControls();
    chatBar->setVisible(ctx.options.showChatBar);
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
    ctx.options.mainWidth = QString::number(std::max(pixelsToTwipsX(size.width()), minWidthTwips));
    ctx.options.mainHeight = QString::number(std::max(pixelsToTwipsY(size.height()), minHeightTwips));
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // Typing goes to the chat bar from the start, not into a read-only pane.
    if (!event->spontaneous() && chatBar->isVisible())
        chatBar->setFocus();
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    // Never narrower than the toolbar with its margins, so that no button is cut off.
    const int toolbarWidth = pixelsToTwipsX(toolbar->sizeHint().width()) + 240;
    keepMinimumOuterSize(*this, std::max(minWidthTwips, toolbarWidth), minHeightTwips);
    if (!isMinimized())
        layoutControls();
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

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == central && event->type() == QEvent::Resize && !isMinimized())
        layoutControls();
    // Files dropped on the chat bar are queued like files dropped on a pane; text drops
    // stay the line edit's own.
    if (watched == chatBar && (event->type() == QEvent::DragEnter || event->type() == QEvent::Drop)) {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList paths = droppedPaths(drop->mimeData());
        if (!paths.isEmpty()) {
            drop->acceptProposedAction();
            if (event->type() == QEvent::Drop)
                Q_EMIT filesDropped(paths);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
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
