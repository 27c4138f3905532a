#include "ui/SplashWindow.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>

SplashWindow::SplashWindow(const QString& version, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0x1F, 0x3A, 0x5F));
    pal.setColor(QPalette::WindowText, Qt::white);
    setPalette(pal);

    auto* title = new QLabel(QStringLiteral("Zantiro"), this);
    QFont big = title->font();
    big.setPointSize(big.pointSize() * 3);
    big.setBold(true);
    title->setFont(big);
    auto* line = new QLabel(QStringLiteral("Version %1 - chat and files, computer to computer").arg(version), this);
    auto* hint = new QLabel(QStringLiteral("Click to continue"), this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 24);
    for (QLabel* l : {title, line, hint}) {
        l->setAlignment(Qt::AlignCenter);
        layout->addWidget(l);
    }

    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &SplashWindow::finish);
}

void SplashWindow::start()
{
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    show();
    timer.start(closeAfterMs);
}

void SplashWindow::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    finish();
}

void SplashWindow::finish()
{
    if (done)
        return;
    done = true;
    timer.stop();
    close();
    Q_EMIT finished();
}
