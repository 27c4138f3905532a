#pragma once
#include "core/LineKind.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>

class CommandWindows;
class PeerState;
class Peer;
class QAction;
class QMenu;
class QMessageBox;
class TranscriptArea;
class TranscriptPane;
class MainWindowTray;
class FileCatcherWindow;
class QueueWindow;

// The main window "Base": the menus, the toolbar's commands, the connection state they follow,
// the title, the chat bar's sending, and leaving the program. Its client area (TranscriptArea),
// the windows its commands open (CommandWindows) and its alerts and tray (MainWindowTray) are
// parts it owns. Every pane line comes from PeerState::lineAdded; the window owns no
// connection state of its own beyond what the commands show.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(Peer& peer, QWidget* parent = nullptr);
    ~MainWindow() override;

    PeerState& context() { return ctx; }

    // Opens the connection the context's connection settings describe.
    void openConnection();
    // Leaves the quick-connect dialog for the site list.
    void switchToSiteList();
    // Closes the window, which asks "Exit?" first.
    void closeWindow();
    // Applies the pane layout and the chat-bar option.
    void applyLayout();
    // Sizes and places the window from the option set, then lays it out.
    void applyWindowPlacement();
    // A first start (no option file yet): the stored size becomes one to work in on this
    // screen instead of the small design size.
    void sizeForNewInstallation();
    // Mirrors the control socket's state in the state label and in the commands (stateTimer).
    void refreshState();

    // The file queue's window (hidden until used) and the file catcher while it is loaded.
    QueueWindow* queueWindow() const;
    FileCatcherWindow* catcher() const;

    // Opens the site list; while unset, the site-list commands are disabled.
    void setSiteListOpener(std::function<void()> opener);

    // The alerts, and the notification-area icon the window may be minimized into.
    MainWindowTray* tray() const { return trayKeeper; }
    // "Zantiro", or "Zantiro - NAME (ADDRESS)" while logged in.
    void updateTitle();

    QTimer stateTimer;

Q_SIGNALS:
    // The user answered Yes to "Exit?": the log is flushed, the options saved, the other
    // windows closed; the program should end now.
    void exitConfirmed();
    // Local files or folders were dropped on the window, a pane or the state label.
    void filesDropped(const QStringList& paths);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void startTimers();
    void buildMenus();
    void buildToolbar();
    void routeCommands();
    QAction* action(const char* name) const;
    template <class Receiver>
    void route(const QStringList& names, Receiver* receiver, void (Receiver::*handler)());
    void setConnectCommandsShown(bool shown);
    void applyIdleCommands();
    void showLine(const QString& text, LineKind kind);
    void onChatEnter();
    void onConnectCommand();
    void onDisconnectCommand();
    void onPingCommand();
    void onClearCommand();
    void onHelpCommand();
    void onSiteListCommand();
    void askExit();
    // After the peer has left: log, options, the other windows, exitConfirmed().
    void closeDown();
    void finishExit();

    Peer& peer;
    PeerState& ctx; // the peer's state
    TranscriptArea* area = nullptr;
    QMenu* popupMenu = nullptr;
    MainWindowTray* trayKeeper = nullptr;
    QPointer<TranscriptPane> popupPane; // the pane the popup menu was opened over
    bool peerNamed = false;             // a "uinfo:" came on this connection
    CommandWindows* windows = nullptr;

    QPointer<QMessageBox> exitBox;
    std::function<void()> siteListOpener;
    bool exiting = false;
    QSize placementFrame; // the frame applyWindowPlacement took off the stored size
};
