#include "ui/MainWindowTray.h"

#include "core/PeerState.h"
#include "ui/MainWindowMenus.h"
#include "ui/TrayIcon.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMainWindow>
#include <QWindow>

MainWindowTray::MainWindowTray(QMainWindow& w, PeerState& c) : QObject(&w), window(w), ctx(c)
{
    trayIcon = new TrayIcon(MainWindowMenus::makeTrayMenu(window), this);
    connect(trayIcon, &TrayIcon::doubleClicked, this, &MainWindowTray::restoreWindow);

    // The check whether the program is in front, and the blink tick.
    activeCheckTimer.setInterval(500);
    flashTimer.setInterval(1000);
    // Any window of the program in front counts as the program being in front.
    programActive = [] {
        return QGuiApplication::applicationState() == Qt::ApplicationActive || QApplication::activeWindow();
    };
    connect(&activeCheckTimer, &QTimer::timeout, this, [this] { programInFront = programActive(); });
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this] { programInFront = programActive(); });
    connect(&flashTimer, &QTimer::timeout, this, &MainWindowTray::flashTick);
    activeCheckTimer.start();
    flashTimer.start();
}

void MainWindowTray::lineShown(const QString& text, bool blink, bool message)
{
    if (blink)
        alertPending = true;
    if (message && trayIcon->inTray())
        trayIcon->notify(QStringLiteral("Zantiro"), text);
}

void MainWindowTray::flashTick()
{
    if (programInFront) {
        alertPending = false;
        trayIcon->setPicture(1);
    } else if (alertPending) {
        if (trayIcon->inTray())
            trayIcon->swapPicture();
        else
            QApplication::alert(&window, 500); // once: the look alternates with each tick
    }
}

void MainWindowTray::windowStateChanged()
{
    if (!window.isMinimized()) {
        // The window system may report a hidden window as no longer minimized; the icon
        // stays until the window is really back.
        if (window.isVisible()) {
            trayIcon->setInTray(false);
            trayIcon->setPicture(1);
        }
        return;
    }
    alertPending = false; // minimizing ends a pending alert
    positionBeforeTray = window.pos();
    if (!ctx.options.minimizeToTray)
        return;
    if (!trayIcon->available()) {
        // Hiding the window with no tray to bring it back from would lose it.
        if (!std::exchange(toldNoTray, true))
            ctx.addText(QStringLiteral(
                            "*** This desktop has no notification area - Zantiro stays on the task bar when minimized"),
                        LineKind::Status);
        return;
    }
    // Hidden once the minimizing is done: the window and its task-bar button go, the icon comes.
    QTimer::singleShot(0, this, [this] {
        if (!window.isMinimized())
            return;
        // Hidden only when the icon is there to bring the window back from.
        if (trayIcon->setInTray(true))
            window.hide();
    });
}

void MainWindowTray::restoreWindow()
{
    const bool fromTray = window.isHidden();
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    // A window brought back from the tray is mapped anew; it goes where it was, not where
    // the window manager would put a new one.
    if (fromTray && !positionBeforeTray.isNull()) {
        window.move(positionBeforeTray);
        // Again once the window system has mapped it: some window managers place a window
        // that comes back from being withdrawn as if it were new.
        // Qt may still take the window to be where it was and skip a move() there.
        QTimer::singleShot(0, this, [this, at = positionBeforeTray] {
            if (QWindow* handle = window.windowHandle())
                handle->setFramePosition(at);
        });
    }
    // The program's other windows went down with it and come back with it.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != &window && w->isVisible() && w->isMinimized() && w->parentWidget()
            && w->parentWidget()->window() == &window)
            w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    window.raise();
    window.activateWindow();
    trayIcon->setInTray(false);
    trayIcon->setPicture(1);
}

void MainWindowTray::leave()
{
    trayIcon->setInTray(false);
}
