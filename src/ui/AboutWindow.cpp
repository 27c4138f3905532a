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

    auto* icon = new QLabel(this);
    icon->setPixmap(programIcon().pixmap(48, 48));
    auto* title = new QLabel(QStringLiteral("Zantiro"), this);
    QFont big = title->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    title->setFont(big);
    VersionLabel = new QLabel(QStringLiteral("Version " ZANTIRO_VERSION), this);
    VersionLabel->setObjectName(QStringLiteral("VersionLabel"));
    auto* titleText = new QVBoxLayout;
    titleText->addWidget(title);
    titleText->addWidget(VersionLabel);
    auto* head = new QHBoxLayout;
    head->addWidget(icon);
    head->addLayout(titleText);
    head->addStretch();

    Summary = new QLabel(QStringLiteral("Zantiro lets two people chat and send each other files directly, computer to "
                                        "computer, over TCP, with no server in between."),
                         this);
    Summary->setObjectName(QStringLiteral("Summary"));
    Summary->setWordWrap(true);

    auto* headless = new QLabel(QStringLiteral("The same peer without a window, for scripts and servers:"), this);
    headless->setWordWrap(true);
    Commands = new QLabel(QStringLiteral("zantiro-cli --listen PORT\nzantiro-cli --connect HOST:PORT"), this);
    Commands->setObjectName(QStringLiteral("Commands"));
    Commands->setTextFormat(Qt::PlainText);
    Commands->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Commands->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Commands->setIndent(12);

    auto* licenceCaption = new QLabel(QStringLiteral("Licence:"), this);
    Licence = new QPlainTextEdit(licenceText(), this);
    Licence->setObjectName(QStringLiteral("Licence"));
    Licence->setReadOnly(true);
    Licence->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Licence->setLineWrapMode(QPlainTextEdit::NoWrap);
    Licence->setMinimumHeight(140);
    // Wide enough for the licence's longest line, so it reads without scrolling sideways.
    int widest = 0;
    for (const QString& line : Licence->toPlainText().split(u'\n'))
        widest = std::max(widest, Licence->fontMetrics().horizontalAdvance(line));
    Licence->setMinimumWidth(widest + 2 * Licence->frameWidth() + int(Licence->document()->documentMargin() * 2)
                             + style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4);

    CloseButton = new QPushButton(QStringLiteral("Close"), this);
    CloseButton->setObjectName(QStringLiteral("CloseButton"));
    CloseButton->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(CloseButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addWidget(Summary);
    layout->addWidget(headless);
    layout->addWidget(Commands);
    layout->addWidget(licenceCaption);
    layout->addWidget(Licence, 1);
    layout->addLayout(buttons);
    resize(sizeHint().width(), 480);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::close);
}
