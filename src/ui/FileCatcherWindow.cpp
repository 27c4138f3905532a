#include "ui/FileCatcherWindow.h"

#include "core/PeerState.h"
#include "ui/DesktopServices.h"
#include "ui/TranscriptPane.h"
#include "ui/Twips.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

// A sheet of paper with a folded corner, its top left at (x, y).
void drawSheet(QPainter& p, qreal x, qreal y, qreal angle)
{
    p.save();
    p.translate(x + 6, y + 7);
    p.rotate(angle);
    QPainterPath page;
    page.moveTo(-6, -7);
    page.lineTo(2, -7);
    page.lineTo(6, -3);
    page.lineTo(6, 7);
    page.lineTo(-6, 7);
    page.closeSubpath();
    p.setPen(QPen(QColor(40, 60, 110), 1));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.drawLine(QPointF(2, -7), QPointF(2, -3));
    p.drawLine(QPointF(2, -3), QPointF(6, -3));
    p.setPen(QPen(QColor(150, 165, 200), 1));
    for (int l = 0; l < 3; ++l)
        p.drawLine(QPointF(-4, -2 + 3 * l), QPointF(4, -2 + 3 * l));
    p.restore();
}

// The tray's front lip, drawn over the sheet, with a downward arrow that says "drop here".
void drawTrayFront(QPainter& p)
{
    QLinearGradient front(0, 22, 0, 31);
    front.setColorAt(0, QColor(80, 150, 230));
    front.setColorAt(1, QColor(30, 90, 170));
    p.setBrush(front);
    p.setPen(QPen(QColor(20, 50, 110), 1));
    QPainterPath lip;
    lip.moveTo(1.5, 22.5);
    lip.lineTo(30.5, 22.5);
    lip.lineTo(28.5, 30.5);
    lip.lineTo(3.5, 30.5);
    lip.closeSubpath();
    p.drawPath(lip);
    p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(16, 23.5), QPointF(16, 28.5));
    p.drawLine(QPointF(13.5, 26.5), QPointF(16, 28.5));
    p.drawLine(QPointF(18.5, 26.5), QPointF(16, 28.5));
}

} // namespace

QPixmap FileCatcherWindow::drawFrame(int index)
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);

    // Where the sheet is in each frame: it falls from above, tumbling, into the tray.
    static constexpr struct {
        qreal x, y, angle;
    } fall[8] = {{10, 13, 0}, {17, -6, -35}, {15, -2, -25}, {13, 2, -15},
                 {11, 6, -8}, {10, 10, -3},  {10, 13, 0},   {10, 14, 0}};
    const auto& f = fall[std::clamp(index, 0, 7)];

    // The back of the tray, then the sheet, then the tray's front lip over the sheet.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 90, 170));
    p.drawRoundedRect(QRectF(2, 20, 28, 10), 2, 2);
    drawSheet(p, f.x, f.y, f.angle);
    drawTrayFront(p);
    // The last frame flashes: the sheet has been caught.
    if (index == 7) {
        p.setPen(QPen(QColor(255, 190, 0), 1.6, Qt::SolidLine, Qt::RoundCap));
        for (const auto& ray :
             {QLineF(4, 12, 7, 15), QLineF(28, 12, 25, 15), QLineF(3, 18, 6, 19), QLineF(29, 18, 26, 19)})
            p.drawLine(ray);
    }
    return pm;
}

FileCatcherWindow::FileCatcherWindow(PeerState& c, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), ctx(c)
{
    setObjectName(QStringLiteral("Moniter"));
    setWindowTitle(QStringLiteral("QV Catcher"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAcceptDrops(true);

    for (int i = 0; i < 8; ++i)
        animationFrames.append(drawFrame(i));

    pictureBox = new QWidget(this);
    pictureBox->setObjectName(QStringLiteral("Picture1"));
    pictureBox->setGeometry(twipsRect(120, 120, 540, 540));
    pictureLabel = new QLabel(pictureBox);
    pictureLabel->setObjectName(QStringLiteral("Image1"));
    pictureLabel->setAlignment(Qt::AlignCenter);
    pictureLabel->setGeometry(pictureBox->rect());
    pictureLabel->setPixmap(animationFrames[0]);
    hintLabel = new QLabel(QStringLiteral("Drag a file and drop it here to send it!"), this);
    hintLabel->setObjectName(QStringLiteral("Label1"));
    hintLabel->setWordWrap(true);
    // The design height holds the text in the design's small font; with the desktop's font
    // the label grows downwards as far as its text needs.
    QRect label = twipsRect(840, 120, 1455, 495);
    label.setHeight(std::max(label.height(), hintLabel->heightForWidth(label.width())));
    hintLabel->setGeometry(label);

    popupMenu = new QMenu(QStringLiteral("PopUp"), this);
    popupMenu->setObjectName(QStringLiteral("mnu_poppy"));
    smallWindowAction = addMenuEntry("mnu_smwin", QStringLiteral("&Small Window"));
    onTopAction = addMenuEntry("mnu_ontop", QStringLiteral("&Always On Top"));
    smallWindowAction->setCheckable(true);
    onTopAction->setCheckable(true);
    popupMenu->addSeparator()->setObjectName(QStringLiteral("mnu_space"));
    QAction* help = addMenuEntry("mnu_help", QStringLiteral("&Help"));
    popupMenu->addSeparator()->setObjectName(QStringLiteral("mnu_spacer2"));
    QAction* closeMe = addMenuEntry("mnu_close", QStringLiteral("&Close Me"));
    // The toggles decide by the check mark as it was before the click.
    connect(smallWindowAction, &QAction::triggered, this, [this] {
        smallWindowAction->setChecked(!smallWindowAction->isChecked());
        toggleSize();
    });
    connect(onTopAction, &QAction::triggered, this, [this] {
        onTopAction->setChecked(!onTopAction->isChecked());
        toggleOnTop();
    });
    connect(help, &QAction::triggered, this, [this] { showHelpTopic(9, this); });
    connect(closeMe, &QAction::triggered, this, &QWidget::close);

    animationTimer.setInterval(100);
    connect(&animationTimer, &QTimer::timeout, this, &FileCatcherWindow::step);
}

QAction* FileCatcherWindow::addMenuEntry(const char* name, const QString& caption)
{
    QAction* a = popupMenu->addAction(caption);
    a->setObjectName(QLatin1String(name));
    return a;
}

void FileCatcherWindow::load()
{
    hide();
    smallWindowAction->setChecked(!ctx.options.catcherSmall);
    onTopAction->setChecked(!ctx.options.catcherOnTop);
    toggleSize();
    toggleOnTop();
    nextFrame = 1;
}

void FileCatcherWindow::toggleSize()
{
    const bool toNormal = smallWindowAction->isChecked();
    hide();
    if (toNormal) {
        smallWindowAction->setChecked(false);
        ctx.options.catcherSmall = false;
        setWindowTitle(QStringLiteral("QV Catcher"));
        pictureBox->move(twipsToPixelsX(120), twipsToPixelsY(120));
    } else {
        setWindowTitle(QString());
        pictureBox->move(0, 0);
    }
    applySize();
    show();
    if (!toNormal) {
        ctx.options.catcherSmall = true;
        smallWindowAction->setChecked(true);
    }
}

void FileCatcherWindow::applySize()
{
    const bool small = windowTitle().isEmpty();
    // The design sizes include the frame; the frame is known once the window has been
    // shown. The picture always stays whole, even under a tall title bar.
    if (isVisible())
        knownFrame = frameGeometry().size() - size();
    QSize inner =
        QSize(twipsToPixelsX(small ? smallWidth : normalWidth), twipsToPixelsY(small ? smallHeight : normalHeight))
        - knownFrame;
    inner = inner.expandedTo(QSize(pictureBox->geometry().right() + 1, pictureBox->geometry().bottom() + 1));
    if (!small) {
        inner = inner.expandedTo(QSize(0, hintLabel->geometry().bottom() + 1 + twipsToPixelsY(60)));
        // Wide enough that the window manager shows the whole title beside its icon and buttons.
        inner = inner.expandedTo(QSize(fontMetrics().horizontalAdvance(windowTitle()) * 3 / 2 + 110, 0));
    }
    setFixedSize(inner);
}

void FileCatcherWindow::toggleOnTop()
{
    if (onTopAction->isChecked()) {
        onTopAction->setChecked(false);
        ctx.options.catcherOnTop = false;
        setAlwaysOnTop(this, false);
    } else {
        // Where the desktop ignores the request the catcher is an ordinary window.
        setAlwaysOnTop(this, true);
        onTopAction->setChecked(true);
        ctx.options.catcherOnTop = true;
    }
}

void FileCatcherWindow::step()
{
    if (nextFrame != 8) {
        pictureLabel->setPixmap(animationFrames[nextFrame]);
        ++nextFrame;
        return;
    }
    animationTimer.stop();
    pictureLabel->setPixmap(animationFrames[0]);
    nextFrame = 1;
}

void FileCatcherWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Now the frame is known: fit the outer size to the design size.
    QTimer::singleShot(0, this, &FileCatcherWindow::applySize);
}

void FileCatcherWindow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton)
        popupMenu->popup(event->globalPosition().toPoint());
}

void FileCatcherWindow::dragEnterEvent(QDragEnterEvent* event)
{
    animationTimer.start();
    acceptDroppedPaths(event);
}

void FileCatcherWindow::dragMoveEvent(QDragMoveEvent* event)
{
    if (!animationTimer.isActive())
        animationTimer.start();
    acceptDroppedPaths(event);
}

void FileCatcherWindow::dropEvent(QDropEvent* event)
{
    if (const QStringList paths = acceptDroppedPaths(event); !paths.isEmpty())
        Q_EMIT filesDropped(paths);
}

void FileCatcherWindow::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    animationTimer.stop();
    Q_EMIT closed();
}
