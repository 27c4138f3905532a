#include "ui/CommandWindows.h"

#include "core/PeerState.h"
#include "peer/Peer.h"
#include "queue/FileQueue.h"
#include "session/Session.h"
#include "ui/AboutWindow.h"
#include "ui/ChangedIdentityDialog.h"
#include "ui/FileCatcherWindow.h"
#include "ui/LocalAddressWindow.h"
#include "ui/MainWindow.h"
#include "ui/OptionsDialog.h"
#include "ui/QueueWindow.h"
#include "ui/QuickConnectDialog.h"
#include "ui/RemoteUserInfoDialog.h"
#include "ui/SendMessageDialog.h"

#include <QAction>

namespace {

// Brings a window that closes itself (deleted on close) to the front, creating it first.
template <class Window, class Make>
void bringUp(QPointer<Window>& window, Make make)
{
    if (!window) {
        window = make();
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

CommandWindows::CommandWindows(Peer& p, MainWindow& w) : QObject(&w), peer(p), ctx(p.state()), window(w)
{
    queueWin = new QueueWindow(peer.queue(), ctx.options.queueWidth, ctx.options.queueHeight, &window);
    connect(queueWin, &QueueWindow::filesDropped, &peer.queue(), &FileQueue::addDropped);
    connect(queueWin, &QueueWindow::shownChanged, this, [this](bool shown) {
        setCaptions("mnu_queue", "pop_queue",
                    shown ? QStringLiteral("Hide File Queue") : QStringLiteral("Show File Queue"));
    });
}

void CommandWindows::setCaptions(const char* menuEntry, const char* popupEntry, const QString& caption)
{
    window.findChild<QAction*>(QLatin1String(menuEntry))->setText(caption);
    window.findChild<QAction*>(QLatin1String(popupEntry))->setText(caption);
}

void CommandWindows::toggleQueue()
{
    // The captions follow the window's shownChanged.
    if (!queueWin->isVisible()) {
        queueWin->show();
        queueWin->raise();
    } else {
        queueWin->hide();
    }
}

FileCatcherWindow* CommandWindows::catcher() const
{
    return catcherWin;
}

void CommandWindows::toggleCatcher()
{
    const QString shown = QStringLiteral("S&how File Catcher");
    if (window.findChild<QAction*>(QStringLiteral("mnu_catcher"))->text() != shown) {
        if (catcherWin)
            catcherWin->close(); // its closing resets the captions
        setCaptions("mnu_catcher", "pop_catcher", shown);
        return;
    }
    if (!catcherWin) {
        catcherWin = new FileCatcherWindow(ctx, &window);
        connect(catcherWin, &FileCatcherWindow::filesDropped, &peer.queue(), &FileQueue::addDropped);
        connect(catcherWin, &FileCatcherWindow::closed, this, [this, shown] {
            catcherWin = nullptr; // unloaded: the next command loads a new one
            setCaptions("mnu_catcher", "pop_catcher", shown);
        });
        catcherWin->load();
    }
    setCaptions("mnu_catcher", "pop_catcher", QStringLiteral("Hi&de File Catcher"));
}

void CommandWindows::showConnectDialog(std::function<void()> openSiteList)
{
    bringUp(connectDialog, [&] {
        auto* dialog = new QuickConnectDialog(peer, &window);
        dialog->openConnection = [this] { window.openConnection(); };
        if (openSiteList)
            dialog->openSiteList = std::move(openSiteList);
        dialog->load();
        return dialog;
    });
}

void CommandWindows::closeConnectDialog()
{
    if (connectDialog)
        connectDialog->close();
}

bool CommandWindows::connectedOrSay()
{
    if (peer.session().isConnected())
        return true;
    ctx.addText(QStringLiteral("*** Not Connected"), LineKind::Status);
    return false;
}

void CommandWindows::showRemoteInfo()
{
    // An open window keeps the record it was loaded with.
    if (connectedOrSay())
        bringUp(remoteInfoDialog,
                [this] { return new RemoteUserInfoDialog(ctx, &window, peer.session().connectionCode()); });
}

void CommandWindows::showMessageDialog()
{
    if (connectedOrSay())
        bringUp(msgDialog, [this] { return new SendMessageDialog(peer.session(), &window); });
}

void CommandWindows::showOptions()
{
    // One dialog; the command brings an open one to the front as it is.
    bringUp(optionsDialog, [this] { return new OptionsDialog(peer, window); });
}

void CommandWindows::showLocalAddress()
{
    bringUp(localAddressWindow, [this] { return new LocalAddressWindow(&window); });
}

void CommandWindows::showAbout()
{
    bringUp(aboutWin, [this] { return new AboutWindow(&window); });
}

void CommandWindows::askAboutIdentity(const QString& host, quint16 port, const QString& code)
{
    // Only the latest refusal can be accepted: the session keeps that one.
    dropIdentityQuestion();
    identityDialog = new ChangedIdentityDialog(host, port, code, &window);
    identityDialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(identityDialog, &ChangedIdentityDialog::identityAccepted, this, [this] {
        peer.session().acceptChangedIdentity();
        window.refreshState();
    });
    identityDialog->open();
}

void CommandWindows::dropIdentityQuestion()
{
    if (identityDialog)
        identityDialog->close();
}
