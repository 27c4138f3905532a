#include "ui/HelpWindow.h"

#include <QDesktopServices>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

static void initHelpResources()
{
    // The pages live in a static library; this pulls them into the program.
    Q_INIT_RESOURCE(help);
}

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    initHelpResources();
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Zantiro Help"));
    resize(560, 460);

    view = new QTextBrowser(this);
    view->setObjectName(QStringLiteral("HelpBrowser"));
    view->setOpenLinks(false);
    connect(view, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        const QUrl target = view->source().resolved(url);
        if (target.scheme() == QLatin1String("qrc"))
            view->setSource(target);
        else
            QDesktopServices::openUrl(target);
    });

    auto* back = new QPushButton(QStringLiteral("Back"), this);
    auto* forward = new QPushButton(QStringLiteral("Forward"), this);
    auto* contents = new QPushButton(QStringLiteral("Contents"), this);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(back, &QPushButton::clicked, view, &QTextBrowser::backward);
    connect(forward, &QPushButton::clicked, view, &QTextBrowser::forward);
    connect(view, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(view, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
    connect(contents, &QPushButton::clicked, this, [this] { showTopic(0); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back);
    buttons->addWidget(forward);
    buttons->addWidget(contents);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(view);
}

QUrl HelpWindow::topicUrl(int topic)
{
    return QUrl(QStringLiteral("qrc:/help/topic%1.html").arg(topic));
}

bool HelpWindow::hasTopic(int topic)
{
    initHelpResources();
    return QFile::exists(QStringLiteral(":/help/topic%1.html").arg(topic));
}

bool HelpWindow::showTopic(int topic)
{
    const bool found = hasTopic(topic);
    view->setSource(found ? topicUrl(topic) : QUrl(QStringLiteral("qrc:/help/index.html")));
    return found;
}

void HelpWindow::keyPressEvent(QKeyEvent* event)
{
    // Escape closes the help as it closes a dialog.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
