#include "ui/AboutWindow.h"

#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>

// The resources live in a static library: registered on first use, since nothing else
// pulls their object file in. Outside any namespace, as the registration needs.
static void initResources()
{
    Q_INIT_RESOURCE(zantiro);
}

QIcon AboutWindow::programIcon()
{
    initResources();
    return QIcon(QStringLiteral(":/icons/zantiro.png"));
}

QString AboutWindow::licenceText()
{
    initResources();
    QFile file(QStringLiteral(":/LICENSE"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

AboutWindow::AboutWindow(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("AboutWindow"));
    setWindowTitle(QStringLiteral("About Zantiro"));

    QHBoxLayout* head = buildHead();

    summaryLabel =
        new QLabel(QStringLiteral("Zantiro lets two people chat and send each other files directly, computer to "
                                  "computer, over TCP, with no server in between."),
                   this);
    summaryLabel->setObjectName(QStringLiteral("Summary"));
    summaryLabel->setWordWrap(true);

    auto* headless = new QLabel(QStringLiteral("The same peer without a window, for scripts and servers:"), this);
    headless->setWordWrap(true);
    headlessCommandsLabel =
        new QLabel(QStringLiteral("zantiro-cli --listen PORT\nzantiro-cli --connect HOST:PORT"), this);
    headlessCommandsLabel->setObjectName(QStringLiteral("Commands"));
    headlessCommandsLabel->setTextFormat(Qt::PlainText);
    headlessCommandsLabel->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    headlessCommandsLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    headlessCommandsLabel->setIndent(12);

    auto* licenceCaption = new QLabel(QStringLiteral("Licence:"), this);
    buildLicenceView();

    closeButton = new QPushButton(QStringLiteral("Close"), this);
    closeButton->setObjectName(QStringLiteral("CloseButton"));
    closeButton->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addWidget(summaryLabel);
    layout->addWidget(headless);
    layout->addWidget(headlessCommandsLabel);
    layout->addWidget(licenceCaption);
    layout->addWidget(licenceView, 1);
    layout->addLayout(buttons);
    resize(sizeHint().width(), 480);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
}

// The program's icon beside its name and version.
QHBoxLayout* AboutWindow::buildHead()
{
    auto* icon = new QLabel(this);
    icon->setPixmap(programIcon().pixmap(48, 48));
    auto* title = new QLabel(QStringLiteral("Zantiro"), this);
    QFont big = title->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    title->setFont(big);
    versionLabel = new QLabel(QStringLiteral("Version " ZANTIRO_VERSION), this);
    versionLabel->setObjectName(QStringLiteral("VersionLabel"));
    auto* titleText = new QVBoxLayout;
    titleText->addWidget(title);
    titleText->addWidget(versionLabel);
    auto* head = new QHBoxLayout;
    head->addWidget(icon);
    head->addLayout(titleText);
    head->addStretch();
    return head;
}

// The licence, read-only, wide enough for its longest line.
void AboutWindow::buildLicenceView()
{
    licenceView = new QPlainTextEdit(licenceText(), this);
    licenceView->setObjectName(QStringLiteral("Licence"));
    licenceView->setReadOnly(true);
    licenceView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    licenceView->setLineWrapMode(QPlainTextEdit::NoWrap);
    licenceView->setMinimumHeight(140);
    // Wide enough for the licence's longest line, so it reads without scrolling sideways.
    int widest = 0;
    for (const QString& line : licenceView->toPlainText().split(u'\n'))
        widest = std::max(widest, licenceView->fontMetrics().horizontalAdvance(line));
    licenceView->setMinimumWidth(widest + 2 * licenceView->frameWidth()
                                 + int(licenceView->document()->documentMargin() * 2)
                                 + style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4);
}
