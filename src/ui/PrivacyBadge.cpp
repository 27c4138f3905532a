#include "ui/PrivacyBadge.h"

#include "session/Session.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

PrivacyBadge::PrivacyBadge(const Session& s, QWidget* parent) : QWidget(parent), session(s)
{
    setObjectName(QStringLiteral("PrivacyBadge"));
    lockLabel = new QLabel(this);
    lockLabel->setObjectName(QStringLiteral("PrivacyLock"));
    lockLabel->setPixmap(lockPicture(12));
    textLabel = new QLabel(QStringLiteral("Private"), this);
    textLabel->setObjectName(QStringLiteral("PrivacyText"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(3);
    row->addWidget(lockLabel);
    row->addWidget(textLabel);
    refresh();
}

void PrivacyBadge::refresh()
{
    const bool shown = session.isPrivate();
    setToolTip(shown ? QStringLiteral("Private connection (%1) - connection code %2")
                           .arg(session.privateProtocol(), session.connectionCode())
                     : QString());
    setVisible(shown);
}

QPixmap PrivacyBadge::lockPicture(int size)
{
    QPixmap picture(size, size);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal unit = size / 12.0;
    // The shackle: a bow over the body.
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1.6 * unit));
    QPainterPath bow;
    bow.moveTo(3.5 * unit, 6 * unit);
    bow.lineTo(3.5 * unit, 4 * unit);
    bow.arcTo(QRectF(3.5 * unit, 1 * unit, 5 * unit, 6 * unit), 180, -180);
    bow.lineTo(8.5 * unit, 6 * unit);
    p.drawPath(bow);
    // The body with its key hole.
    p.setPen(QPen(QColor(0x8a, 0x64, 0x00), unit));
    p.setBrush(QColor(0xe0, 0xa8, 0x10));
    p.drawRoundedRect(QRectF(1.5 * unit, 5.5 * unit, 9 * unit, 6 * unit), unit, unit);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x50, 0x38, 0x00));
    p.drawEllipse(QPointF(6 * unit, 8.2 * unit), 1 * unit, 1 * unit);
    return picture;
}
