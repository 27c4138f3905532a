#pragma once
#include <QObject>
#include <QPointer>

#include <functional>

class AboutWindow;
class ChangedIdentityDialog;
class FileCatcherWindow;
class LocalAddressWindow;
class MainWindow;
class OptionsDialog;
class Peer;
class PeerState;
class QueueWindow;
class QuickConnectDialog;
class RemoteUserInfoDialog;
class SendMessageDialog;

// The windows the main window's commands open and keep track of, each one at a time: the file
// queue's window (made at once, hidden until used), the file catcher, the quick-connect
// dialog, the peer's user information, the message dialog, the options, the local address,
// About, and the question about a site's changed identity. Owned by the main window, which
// is the parent of every one of them.
class CommandWindows : public QObject {
    Q_OBJECT
public:
    CommandWindows(Peer& peer, MainWindow& window);

    QueueWindow* queueWindow() const { return queueWin; }
    // The file catcher while it is loaded.
    FileCatcherWindow* catcher() const;

    // Shows or hides the queue window; loads or closes the file catcher. The menu and popup
    // captions follow.
    void toggleQueue();
    void toggleCatcher();
    // The quick-connect dialog, in front; openSiteList (may be empty) leaves it for the site list.
    void showConnectDialog(std::function<void()> openSiteList);
    void closeConnectDialog();
    void showRemoteInfo();
    void showMessageDialog();
    void showOptions();
    void showLocalAddress();
    void showAbout();
    // The site presented another key than the one remembered: ask whether to take it.
    void askAboutIdentity(const QString& host, quint16 port, const QString& code);
    // A connection asked for now leaves a question about an earlier one unanswered.
    void dropIdentityQuestion();

    // True when connected; otherwise says "*** Not Connected".
    bool connectedOrSay();

private:
    void setCaptions(const char* menuEntry, const char* popupEntry, const QString& caption);

    Peer& peer;
    PeerState& ctx;
    MainWindow& window;
    QueueWindow* queueWin = nullptr;
    QPointer<FileCatcherWindow> catcherWin;
    QPointer<QuickConnectDialog> connectDialog;
    QPointer<RemoteUserInfoDialog> remoteInfoDialog;
    QPointer<SendMessageDialog> msgDialog;
    QPointer<OptionsDialog> optionsDialog;
    QPointer<LocalAddressWindow> localAddressWindow;
    QPointer<AboutWindow> aboutWin;
    QPointer<ChangedIdentityDialog> identityDialog;
};
