#include "ui/FileOrFolderDialog.h"
#include "ui/NamedButton.h"

#include "core/PeerState.h"
#include "ui/DesktopServices.h"

#include <QGridLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

namespace {

QPixmap canvas(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    return pm;
}

} // namespace

QIcon FileOrFolderDialog::fileIcon(int size)
{
    QPixmap pm = canvas(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 48.0, size / 48.0);
    // Two pages, one behind the other: "file(s)".
    for (const QPointF at : {QPointF(14, 4), QPointF(8, 10)}) {
        QPainterPath page;
        page.moveTo(at);
        page.lineTo(at + QPointF(18, 0));
        page.lineTo(at + QPointF(26, 8));
        page.lineTo(at + QPointF(26, 34));
        page.lineTo(at + QPointF(0, 34));
        page.closeSubpath();
        p.setPen(QPen(QColor(40, 60, 110), 1.5));
        p.setBrush(Qt::white);
        p.drawPath(page);
        p.drawPolyline(QPolygonF({at + QPointF(18, 0), at + QPointF(18, 8), at + QPointF(26, 8)}));
    }
    p.setPen(QPen(QColor(120, 140, 190), 1.5));
    for (int l = 0; l < 5; ++l)
        p.drawLine(QPointF(13, 24 + 4 * l), QPointF(29, 24 + 4 * l));
    return QIcon(pm);
}

QIcon FileOrFolderDialog::folderIcon(int size)
{
    QPixmap pm = canvas(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 48.0, size / 48.0);
    p.setPen(QPen(QColor(150, 100, 10), 1.5));
    QPainterPath back;
    back.moveTo(4, 12);
    back.lineTo(18, 12);
    back.lineTo(22, 16);
    back.lineTo(44, 16);
    back.lineTo(44, 40);
    back.lineTo(4, 40);
    back.closeSubpath();
    p.setBrush(QColor(230, 170, 40));
    p.drawPath(back);
    QPainterPath front;
    front.moveTo(4, 40);
    front.lineTo(9, 22);
    front.lineTo(47, 22);
    front.lineTo(44, 40);
    front.closeSubpath();
    QLinearGradient g(0, 22, 0, 40);
    g.setColorAt(0, QColor(255, 215, 100));
    g.setColorAt(1, QColor(240, 180, 50));
    p.setBrush(g);
    p.drawPath(front);
    return QIcon(pm);
}

FileOrFolderDialog::FileOrFolderDialog(PeerState& c, QWidget* owner) : QDialog(owner), ctx(c)
{
    setObjectName(QStringLiteral("SendType"));
    setWindowTitle(QStringLiteral("Select File Type to Send"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);

    auto button = [this](const char* name, const QString& text) { return namedButton(name, text, this); };
    filesButton = button("SendFileButton", QStringLiteral("File(s)"));
    folderButton = button("SendFoldButton", QStringLiteral("Folder"));
    for (QPushButton* b : {filesButton, folderButton}) {
        b->setIconSize(QSize(48, 48));
        b->setMinimumSize(110, 80);
        // Enter takes the button that has the focus, as in any dialog of choices.
        b->setAutoDefault(true);
    }
    filesButton->setIcon(fileIcon());
    folderButton->setIcon(folderIcon());
    filesButton->setToolTip(QStringLiteral("Send one or more files"));
    folderButton->setToolTip(QStringLiteral("Send a folder with everything in it"));
    cancelButton = button("CancelButton", QStringLiteral("Cancel"));
    helpButton = button("HelpButton", QStringLiteral("Help"));

    auto* grid = new QGridLayout(this);
    grid->addWidget(filesButton, 0, 0);
    grid->addWidget(folderButton, 0, 1);
    grid->addWidget(cancelButton, 1, 0);
    grid->addWidget(helpButton, 1, 1);
    // Wide enough for the whole title.
    const int titleWidth = fontMetrics().horizontalAdvance(windowTitle()) + 120;
    setFixedSize(sizeHint().expandedTo(QSize(titleWidth, 0)));

    connect(filesButton, &QPushButton::clicked, this, [this] { choose(true); });
    connect(folderButton, &QPushButton::clicked, this, [this] { choose(false); });
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(helpButton, &QPushButton::clicked, this, [this] { showHelpTopic(6, this); });
}

void FileOrFolderDialog::choose(bool files)
{
    ctx.options.sendFileChosen = files;
    accept();
    Q_EMIT chosen(files);
}

void FileOrFolderDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Given as by the keyboard, so that the style draws the focus mark on the remembered choice.
    (ctx.options.sendFileChosen ? filesButton : folderButton)->setFocus(Qt::TabFocusReason);
}
