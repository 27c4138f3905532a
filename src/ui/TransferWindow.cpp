#include "ui/TransferWindow.h"

#include "core/LineText.h"
#include "transfer/TransferActivity.h"
#include "ui/ReadableSize.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QVBoxLayout>

namespace {

QLabel* namedLabel(const char* name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

// The texts a freshly loaded window shows until the transfer fills them in.
void TransferWindow::createControls()
{
    peerLabel = namedLabel("userlabel", QString(), this);
    fileNameLabel = namedLabel("FnameLabel", QStringLiteral("File : "), this);
    sizeLabel = namedLabel("SizeLabel", QStringLiteral("File Size : 0"), this);
    movedLabel = namedLabel("TotalLabel", QString(), this);
    stateLabel = namedLabel("status", QString(), this);
    percentLabel = namedLabel("pctlabel", QStringLiteral("100%"), this);
    rateLabel = namedLabel("KPSlabel", QStringLiteral("0.00 KB/SEC"), this);
    elapsedLabel = namedLabel("Elapsed", QStringLiteral("0:00"), this);
    timeLeftLabel = namedLabel("TimeLeft", QStringLiteral("0:00"), this);
    progressBar = new QProgressBar(this);
    progressBar->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar->setRange(0, 0);
    progressBar->setValue(0);
    progressBar->setTextVisible(false);
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancel"));
    cancelButton->setAutoDefault(false);
    // Keys typed into the button by someone typing elsewhere when the window came up are
    // dropped; a click, or Escape in the window, cancels.
    cancelButton->installEventFilter(this);
    cancelButton->setToolTip(QStringLiteral("End the transfer (Esc)"));
}

// Labels above the bar, the figures below it, the button at the bottom.
void TransferWindow::layOutControls()
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(peerLabel);
    layout->addWidget(fileNameLabel);
    layout->addWidget(sizeLabel);
    layout->addWidget(movedLabel);
    layout->addWidget(stateLabel);
    layout->addWidget(progressBar);
    auto* figures = new QGridLayout;
    figures->addWidget(percentLabel, 0, 0);
    figures->addWidget(rateLabel, 0, 1, Qt::AlignRight);
    figures->addWidget(namedLabel("ElapsedCaption", QStringLiteral("Elapsed :"), this), 1, 0);
    figures->addWidget(elapsedLabel, 1, 1, Qt::AlignRight);
    figures->addWidget(namedLabel("TimeLeftCaption", QStringLiteral("Left :"), this), 2, 0);
    figures->addWidget(timeLeftLabel, 2, 1, Qt::AlignRight);
    layout->addLayout(figures);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancelButton);
    buttons->addStretch();
    layout->addLayout(buttons);
    // Wide enough for the longest label text (the file label holds up to 37 characters), so
    // the window does not grow while it runs.
    fileNameLabel->setMinimumWidth(fileNameLabel->fontMetrics().averageCharWidth() * 40);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

TransferWindow::TransferWindow(TransferActivity& transfer, QWidget* main)
    : QWidget(main, Qt::Window), xfer(&transfer), mainWindow(main)
{
    setObjectName(QStringLiteral("FileBase"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The window appears while the user may be typing elsewhere: it must not take the focus.
    setAttribute(Qt::WA_ShowWithoutActivating);

    createControls();
    layOutControls();

    connect(cancelButton, &QPushButton::clicked, this, &TransferWindow::cancelRequested);
    connect(this, &TransferWindow::cancelRequested, this, [this] {
        if (xfer && !xfer->isFinished())
            xfer->requestCancel();
    });
    connect(xfer, &TransferActivity::viewChanged, this, &TransferWindow::refresh);
    connect(xfer, &TransferActivity::finished, this, &TransferWindow::transferFinished);
    connect(xfer, &QObject::destroyed, this, &TransferWindow::transferFinished);
    refresh();
}

TransferWindow::~TransferWindow() = default;

void TransferWindow::refresh()
{
    if (!xfer || ending)
        return;
    const TransferView v = xfer->view();
    setWindowTitle(v.title);
    // The transfer already cuts the name and peer texts to the window's width.
    peerLabel->setText(LineText::visible(v.peerText));
    fileNameLabel->setText(LineText::visible(readable(v.fileText)));
    sizeLabel->setText(readable(v.sizeText));
    sizeLabel->setToolTip(v.sizeText); // the exact byte count
    movedLabel->setText(readable(v.movedText));
    movedLabel->setToolTip(v.movedText);
    stateLabel->setText(v.stateText);
    percentLabel->setText(v.percentText);
    rateLabel->setText(readable(v.rateText));
    elapsedLabel->setText(v.elapsedText);
    timeLeftLabel->setText(v.timeLeftText);
    // An empty file (or none, between two files of a run) is a full bar: a range of 0 to 0
    // would be the busy indicator, which the style animates twenty times a second.
    const int maximum = qMax(1, v.progressMaximum);
    progressBar->setRange(0, maximum);
    progressBar->setValue(v.progressMaximum > 0 ? qBound(0, v.progressValue, maximum) : maximum);
    progressBar->setVisible(v.progressVisible);
    if (v.visible && !isVisible()) {
        placeBesideMain();
        show();
    }
}

QString TransferWindow::readable(const QString& label)
{
    static const QRegularExpression count(QStringLiteral("^(.* : )([0-9]+)$"));
    static const QRegularExpression rate(QStringLiteral("^([0-9]+(?:\\.[0-9]*)?) KB/SEC$"));
    const QLocale locale;
    if (label.startsWith(QLatin1String("File : ")))
        return QString(label).replace('\\', '/');
    if (const auto m = count.match(label); m.hasMatch())
        return m.captured(1) + readableSize(m.captured(2).toLongLong());
    if (const auto m = rate.match(label); m.hasMatch()) {
        const double kilobytes = m.captured(1).toDouble();
        return kilobytes >= 1000 ? locale.toString(kilobytes / 1000, 'f', 1) + QStringLiteral(" MB/s")
                                 : locale.toString(kilobytes, 'f', 1) + QStringLiteral(" kB/s");
    }
    return label;
}

QPoint TransferWindow::placement(const QRect& main, const QSize& own, const QRect& screen)
{
    const int left = main.left() - screen.left();
    if (left + main.width() + own.width() < screen.width())
        return {main.left() + main.width(), main.top()};
    return {main.left() - own.width(), main.top()};
}

void TransferWindow::placeBesideMain()
{
    if (placed || !mainWindow)
        return;
    placed = true;
    QScreen* screen = mainWindow->screen();
    if (!screen)
        return;
    adjustSize();
    move(placement(mainWindow->frameGeometry(), frameGeometry().size(), screen->geometry()));
}

void TransferWindow::transferFinished()
{
    if (ending)
        return;
    ending = true;
    xfer = nullptr;
    close();
    deleteLater();
}

void TransferWindow::closeEvent(QCloseEvent* event)
{
    // While the transfer runs only Cancel or its end closes the window.
    if (!ending && xfer && !xfer->isFinished()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TransferWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Cancel) && xfer && !xfer->isFinished()) {
        Q_EMIT cancelRequested();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool TransferWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == cancelButton && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel)) {
        keyPressEvent(static_cast<QKeyEvent*>(event));
        return true;
    }
    if (watched == cancelButton
        && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease
            || event->type() == QEvent::ShortcutOverride))
        return true;
    return QWidget::eventFilter(watched, event);
}
