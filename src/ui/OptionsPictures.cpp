#include "ui/OptionsPictures.h"

#include "ui/FileCatcherWindow.h"

#include <QFont>
#include <QPainter>

namespace {

constexpr int kPicW = 160, kPicH = 100;
const QColor kDesk(0, 128, 128);
const QColor kFace(212, 208, 200);
const QColor kTitle(10, 36, 106);

QFont tinyFont(int px, bool bold = false)
{
    QFont f;
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}

// A raised or sunken 3D edge, as the classic desktop draws it.
void edge(QPainter& p, const QRectF& r, bool raised)
{
    p.setBrush(Qt::NoBrush);
    p.setPen(raised ? Qt::white : QColor(128, 128, 128));
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(raised ? QColor(64, 64, 64) : Qt::white);
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
}

// A window with a title bar; returns its client area.
QRectF window(QPainter& p, const QRectF& r, const QString& title, bool active = true)
{
    p.fillRect(r, kFace);
    edge(p, r, true);
    const QRectF bar(r.left() + 2, r.top() + 2, r.width() - 4, 9);
    p.fillRect(bar, active ? kTitle : QColor(128, 128, 128));
    p.setPen(Qt::white);
    p.setFont(tinyFont(7, true));
    p.drawText(bar.adjusted(2, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft, title);
    return QRectF(r.left() + 3, bar.bottom() + 2, r.width() - 6, r.bottom() - bar.bottom() - 4);
}

// A text pane with a few coloured lines.
void pane(QPainter& p, const QRectF& r, const QList<QColor>& lines)
{
    p.fillRect(r, Qt::white);
    edge(p, r, false);
    qreal y = r.top() + 4;
    int i = 0;
    for (const QColor& c : lines) {
        if (y + 2 > r.bottom() - 2)
            break;
        p.fillRect(QRectF(r.left() + 4, y, r.width() * (i % 3 == 1 ? 0.45 : 0.7), 2), c);
        y += 5;
        ++i;
    }
}

// The program's own small sign: a blue disc with a white arrow pair.
void programSign(QPainter& p, const QPointF& centre, qreal radius)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(20, 40, 120), 1));
    p.setBrush(QColor(60, 110, 220));
    p.drawEllipse(centre, radius, radius);
    p.setPen(QPen(Qt::white, std::max<qreal>(1, radius / 4)));
    p.drawLine(centre + QPointF(-radius / 2, -radius / 4), centre + QPointF(radius / 2, -radius / 4));
    p.drawLine(centre + QPointF(-radius / 2, radius / 4), centre + QPointF(radius / 2, radius / 4));
    p.setRenderHint(QPainter::Antialiasing, false);
}

void arrow(QPainter& p, const QPointF& from, const QPointF& to)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(255, 220, 0), 2));
    p.drawLine(from, to);
    const QLineF back(to, from);
    for (int turn : {-30, 30}) {
        QLineF wing = back;
        wing.setLength(6);
        wing.setAngle(back.angle() + turn);
        p.drawLine(wing);
    }
    p.setRenderHint(QPainter::Antialiasing, false);
}

// The task bar along the bottom with its start button and tray; gives the tray area.
QRectF taskBar(QPainter& p, QRectF& bar)
{
    bar = QRectF(0, kPicH - 16, kPicW, 16);
    p.fillRect(bar, kFace);
    p.setPen(Qt::white);
    p.drawLine(bar.topLeft(), bar.topRight());
    const QRectF start(2, bar.top() + 2, 30, 12);
    p.fillRect(start, kFace);
    edge(p, start, true);
    p.setPen(Qt::black);
    p.setFont(tinyFont(8, true));
    p.drawText(start, Qt::AlignCenter, QStringLiteral("Start"));
    const QRectF tray(kPicW - 46, bar.top() + 2, 44, 12);
    edge(p, tray, false);
    p.setPen(Qt::black);
    p.setFont(tinyFont(7));
    p.drawText(tray.adjusted(0, 0, -2, 0), Qt::AlignVCenter | Qt::AlignRight, QStringLiteral("9:05"));
    return tray;
}

} // namespace

namespace OptionsPictures {

QPixmap tray(bool inTray)
{
    QPixmap pm(kPicW, kPicH);
    pm.fill(kDesk);
    QPainter p(&pm);
    QRectF bar;
    const QRectF trayArea = taskBar(p, bar);
    QPointF target;
    if (inTray) {
        target = QPointF(trayArea.left() + 8, trayArea.center().y());
        programSign(p, target, 4);
    } else {
        const QRectF button(36, bar.top() + 2, 58, 12);
        p.fillRect(button, kFace.lighter(106));
        edge(p, button, false);
        programSign(p, QPointF(button.left() + 7, button.center().y()), 4);
        p.setPen(Qt::black);
        p.setFont(tinyFont(8));
        p.drawText(button.adjusted(13, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Zantiro"));
        target = QPointF(button.center().x(), button.top());
    }
    // The window as it goes down, drawn faint, and where it goes.
    p.setOpacity(0.55);
    window(p, QRectF(40, 8, 80, 46), QStringLiteral("Zantiro"));
    p.setOpacity(1);
    arrow(p, QPointF(80, 56), target - QPointF(0, 4));
    return pm;
}

QPixmap layout(bool twoBoxes)
{
    QPixmap pm(kPicW, kPicH);
    pm.fill(kDesk);
    QPainter p(&pm);
    const QRectF client = window(p, QRectF(10, 4, 140, 92), QStringLiteral("Zantiro"));
    // Toolbar, panes, chat bar, state label.
    const QRectF tools(client.left(), client.top(), client.width(), 9);
    for (int i = 0; i < 7; ++i) {
        const QRectF b(tools.left() + 30 + i * 11, tools.top() + 1, 9, 7);
        edge(p, b, true);
    }
    const qreal left = client.left() + 2, width = client.width() - 4;
    const qreal top = tools.bottom() + 3;
    const qreal chatTop = client.bottom() - 18;
    const QColor msg(0, 0, 0), status(128, 128, 128), error(128, 0, 0), conn(0, 128, 0);
    if (twoBoxes) {
        const qreal split = top + 22;
        pane(p, QRectF(left, top, width, split - top), {conn, status, error, status});
        pane(p, QRectF(left, split + 3, width, chatTop - split - 6), {msg, msg, msg, msg, msg});
    } else {
        pane(p, QRectF(left, top, width, chatTop - top - 3), {conn, msg, status, msg, error, msg, msg});
    }
    const QRectF chat(left, chatTop, width, 8);
    p.fillRect(chat, Qt::white);
    edge(p, chat, false);
    p.setPen(Qt::black);
    p.setFont(tinyFont(7));
    p.drawText(QRectF(left, chat.bottom() + 1, width, 8), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("Connected."));
    return pm;
}

QPixmap catcher(bool small, bool onTop)
{
    QPixmap pm(kPicW, kPicH);
    pm.fill(kDesk);
    QPainter p(&pm);
    auto drawCatcher = [&](bool active) {
        QRectF client;
        if (small) {
            client = window(p, QRectF(18, 30, 30, 40), QString(), active);
        } else {
            client = window(p, QRectF(10, 36, 92, 40), QStringLiteral("QV Catcher"), active);
            p.setPen(Qt::black);
            p.setFont(tinyFont(7));
            p.drawText(client.adjusted(28, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextWordWrap,
                       QStringLiteral("Drag a file and drop it here"));
        }
        const QRectF box(client.left() + 1, client.top() + 1, 24, 24);
        p.drawPixmap(box.toRect(), FileCatcherWindow::drawFrame(0));
    };
    auto drawOther = [&](bool active) {
        const QRectF client = window(p, QRectF(34, 6, 118, 60), QStringLiteral("Another Program"), active);
        pane(p, client.adjusted(2, 2, -2, -2), {Qt::black, Qt::black, Qt::black, Qt::black, Qt::black, Qt::black});
    };
    if (onTop) {
        drawOther(true);
        drawCatcher(false);
    } else {
        drawCatcher(false);
        drawOther(true);
    }
    p.setPen(Qt::white);
    p.setFont(tinyFont(8, true));
    p.drawText(QRectF(4, kPicH - 16, kPicW - 8, 14), Qt::AlignVCenter | Qt::AlignRight,
               onTop ? QStringLiteral("On top") : QStringLiteral("Behind others"));
    return pm;
}

QPixmap named(const QString& name)
{
    if (name == QLatin1String("MinTrayImg") || name == QLatin1String("MinTaskImg"))
        return tray(name == QLatin1String("MinTrayImg"));
    if (name == QLatin1String("OneBoxImg") || name == QLatin1String("TwoBoxImg"))
        return layout(name == QLatin1String("TwoBoxImg"));
    if (name == QLatin1String("FCSWOTIMG"))
        return catcher(true, true);
    if (name == QLatin1String("FCSWIMG"))
        return catcher(true, false);
    if (name == QLatin1String("FCOTIMG"))
        return catcher(false, true);
    return catcher(false, false); // FCFCIMG
}

} // namespace OptionsPictures
