#include "ui/TrayIcon.h"

#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSystemTrayIcon>

TrayIcon::TrayIcon(QMenu* m, QObject* parent)
    : QObject(parent), menu(m), normalIcon(drawIcon(false)), blinkIcon(drawIcon(true)),
      tipText(QStringLiteral("Zantiro"))
{}

TrayIcon::~TrayIcon()
{
    delete systemIcon; // leaving the program takes the icon out of the tray
}

QIcon TrayIcon::drawIcon(bool alternate)
{
    // Two speech bubbles, one answering the other; the blink picture inverts their colours
    // so that the alternation shows even at 16 pixels.
    QIcon icon;
    for (int size : {16, 22, 32, 48}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 32.0, size / 32.0);
        const QColor blue(0x2a, 0x6f, 0xdb), orange(0xf5, 0x9e, 0x0b);
        auto bubble = [&](QRectF r, QPointF tail, const QColor& fill) {
            QPainterPath path;
            path.addRoundedRect(r, 4, 4);
            QPainterPath t;
            t.moveTo(tail);
            t.lineTo(tail.x() + 6, r.bottom() - 1);
            t.lineTo(tail.x() + 1, r.bottom() - 1);
            t.closeSubpath();
            p.setPen(QPen(Qt::black, 1.2));
            p.setBrush(fill);
            p.drawPath(path.united(t));
        };
        bubble(QRectF(1.5, 2.5, 20, 14), QPointF(5, 21), alternate ? orange : blue);
        bubble(QRectF(10.5, 13.5, 20, 14), QPointF(24, 31), alternate ? blue : orange);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

bool TrayIcon::available() const
{
    return standIn || QSystemTrayIcon::isSystemTrayAvailable();
}

bool TrayIcon::setInTray(bool on)
{
    shownInTray = on && available();
    sync();
    return shownInTray;
}

void TrayIcon::setPicture(int which)
{
    const int picture = which == 2 ? 2 : 1;
    if (picture == shown)
        return;
    shown = picture;
    sync();
}

void TrayIcon::swapPicture()
{
    setPicture(shown == 1 ? 2 : 1);
}

void TrayIcon::notify(const QString& title, const QString& text)
{
    // One notification per spell in the tray: a chatty peer must not bury the desktop.
    if (!shownInTray || notifiedThisSpell)
        return;
    notifiedThisSpell = true;
    // Notification services read tags in the text; the peer's "<Name>" must show as typed.
    QString plain = text;
    plain.replace('&', QChar(0xFF06)).replace('<', QChar(0x2039)).replace('>', QChar(0x203A));
    notified.append(plain);
    if (systemIcon && QSystemTrayIcon::supportsMessages())
        systemIcon->showMessage(title, plain, shown == 1 ? normalIcon : blinkIcon, 8000);
}

void TrayIcon::sync()
{
    if (!shownInTray) {
        notifiedThisSpell = false;
        if (systemIcon)
            systemIcon->hide();
        return;
    }
    if (!systemIcon && QSystemTrayIcon::isSystemTrayAvailable()) {
        // Created when first needed: a desktop whose tray started late still gets the icon.
        systemIcon = new QSystemTrayIcon;
        systemIcon->setToolTip(tipText);
        if (menu)
            systemIcon->setContextMenu(menu);
        connect(systemIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
            if (why == QSystemTrayIcon::DoubleClick || why == QSystemTrayIcon::Trigger)
                Q_EMIT doubleClicked();
        });
    }
    if (systemIcon) {
        systemIcon->setIcon(shown == 1 ? normalIcon : blinkIcon);
        systemIcon->show();
    }
}
