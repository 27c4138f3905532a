#include "ui/SitePictures.h"

#include <QCursor>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>

namespace {

QPixmap canvas()
{
    QPixmap p(32, 32);
    p.fill(Qt::transparent);
    return p;
}

} // namespace

namespace SitePictures {

QPixmap folder(bool open)
{
    QPixmap p = canvas();
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    const QColor edge(0x8a, 0x62, 0x0c);
    g.setPen(QPen(edge, 1.5));
    g.setBrush(QColor(0xd9, 0xa5, 0x20));
    g.drawRoundedRect(QRectF(3, 6, 11, 6), 1.5, 1.5); // the tab
    QLinearGradient body(0, 9, 0, 29);
    body.setColorAt(0, QColor(0xf7, 0xd3, 0x62));
    body.setColorAt(1, QColor(0xe0, 0xa8, 0x2e));
    if (!open) {
        g.setBrush(body);
        g.drawRoundedRect(QRectF(2, 9.5, 28, 19), 2, 2);
        return p;
    }
    g.setBrush(QColor(0xc9, 0x92, 0x18));
    g.drawRoundedRect(QRectF(2, 9.5, 26, 19), 2, 2); // the back, seen inside
    g.setBrush(QColor(0xff, 0xff, 0xff));
    g.drawRect(QRectF(6, 7.5, 18, 8)); // a sheet in the folder
    QLinearGradient front(0, 15, 0, 29);
    front.setColorAt(0, QColor(0xfb, 0xe3, 0x8c));
    front.setColorAt(1, QColor(0xe8, 0xb4, 0x3c));
    g.setBrush(front);
    QPainterPath flap;
    flap.moveTo(7, 15);
    flap.lineTo(31, 15);
    flap.lineTo(26, 28.5);
    flap.lineTo(2, 28.5);
    flap.closeSubpath();
    g.drawPath(flap);
    return p;
}

QPixmap site(bool shown)
{
    QPixmap p = canvas();
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    if (shown) { // a soft glow behind the shown site
        QRadialGradient glow(16, 14, 16);
        glow.setColorAt(0, QColor(0xff, 0xe0, 0x40, 200));
        glow.setColorAt(1, QColor(0xff, 0xe0, 0x40, 0));
        g.setPen(Qt::NoPen);
        g.setBrush(glow);
        g.drawEllipse(QRectF(0, -2, 32, 32));
    }
    const QColor edge(0x26, 0x2c, 0x34);
    g.setPen(QPen(edge, 1.5));
    g.setBrush(QColor(0x5a, 0x64, 0x70));
    g.drawRoundedRect(QRectF(3, 4, 26, 18), 2, 2); // the monitor
    QLinearGradient screen(0, 7, 0, 19);
    screen.setColorAt(0, shown ? QColor(0x9c, 0xf0, 0x8c) : QColor(0x8c, 0xc4, 0xf4));
    screen.setColorAt(1, shown ? QColor(0x2c, 0xa8, 0x3c) : QColor(0x2a, 0x6c, 0xc4));
    g.setPen(Qt::NoPen);
    g.setBrush(screen);
    g.drawRect(QRectF(6, 7, 20, 12));
    g.setPen(QPen(edge, 1.5));
    g.setBrush(QColor(0x7a, 0x84, 0x90));
    g.drawRect(QRectF(13, 22, 6, 3)); // the stand
    g.drawRoundedRect(QRectF(8, 25, 16, 3.5), 1, 1);
    return p;
}

QCursor dragCursor(const QIcon& node)
{
    QPixmap p = canvas();
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    g.drawPixmap(12, 12, node.pixmap(18, 18));
    QPainterPath arrow;
    arrow.moveTo(1, 1);
    arrow.lineTo(1, 15);
    arrow.lineTo(4.5, 11.5);
    arrow.lineTo(7, 17);
    arrow.lineTo(9, 16);
    arrow.lineTo(6.5, 10.5);
    arrow.lineTo(11, 10.5);
    arrow.closeSubpath();
    g.setPen(QPen(Qt::black, 1));
    g.setBrush(Qt::white);
    g.drawPath(arrow);
    g.end();
    return QCursor(p, 1, 1);
}

} // namespace SitePictures
