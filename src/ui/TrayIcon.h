#pragma once
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QStringList>

class QMenu;
class QSystemTrayIcon;

// The program's icon in the desktop's notification area. It is shown only while the main
// window is minimized into it (inTray), alternates between two pictures while blinking,
// and reports a double-click. Where the desktop has no notification area (now: a panel
// may go away while the program runs), available() is false and nothing is put there;
// tests set `standIn` to pretend there is one.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(QMenu* menu, QObject* parent = nullptr);
    ~TrayIcon() override;

    bool available() const;
    bool standIn = false;

    bool inTray() const { return shownInTray; }
    // Returns whether the icon is now in the tray.
    bool setInTray(bool on);
    // 1 shows normalIcon (the normal picture), 2 shows blinkIcon (the blink picture).
    int picture() const { return shown; }
    void setPicture(int which);
    // Shows picture 2 after picture 1 and picture 1 after picture 2.
    void swapPicture();
    QString toolTip() const { return tipText; }
    // A desktop notification next to the icon while it is in the tray.
    void notify(const QString& title, const QString& text);
    // The texts notified so far, as they went to the desktop.
    const QStringList& notices() const { return notified; }

    static QIcon drawIcon(bool alternate);

Q_SIGNALS:
    void doubleClicked();

private:
    void sync();

    QPointer<QMenu> menu;
    QSystemTrayIcon* systemIcon = nullptr; // made only on a desktop that has a notification area
    const QIcon normalIcon;
    const QIcon blinkIcon;
    const QString tipText;
    bool shownInTray = false;
    int shown = 1;
    QStringList notified;
    bool notifiedThisSpell = false;
};
