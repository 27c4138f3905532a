#pragma once
#include <QObject>
#include <QPoint>
#include <QTimer>

#include <functional>

class PeerState;
class QMainWindow;
class TrayIcon;

// The main window's alerts and its life in the notification area: a line of a blinking kind
// leaves an alert pending, which blinks the tray icon (or the task-bar entry) until the
// program is in front; minimizing may hide the window behind the icon, and the icon's
// Restore or double-click brings it back where it was, with the windows that went down
// with it. Owned by the window.
class MainWindowTray : public QObject {
    Q_OBJECT
public:
    MainWindowTray(QMainWindow& window, PeerState& ctx);

    TrayIcon& icon() const { return *trayIcon; }

    // A line was shown: a blinking one leaves an alert pending; a message shown while the
    // window is in the tray is also told through the icon.
    void lineShown(const QString& text, bool blink, bool message);
    // The window was minimized or came back (its WindowStateChange).
    void windowStateChanged();
    // Brings the window back from the tray or the task bar, in front.
    void restoreWindow();
    // Leaving takes the icon away at once.
    void leave();

    // An alert is pending; the program is in front.
    bool alertPending = false;
    bool programInFront = false;
    // Whether any window of the program is in front (programInFront's source).
    std::function<bool()> programActive;

    QTimer activeCheckTimer;
    QTimer flashTimer;

private:
    void flashTick();

    QMainWindow& window;
    PeerState& ctx;
    TrayIcon* trayIcon = nullptr;
    bool toldNoTray = false;
    QPoint positionBeforeTray; // where the window was when it was last minimized
};
