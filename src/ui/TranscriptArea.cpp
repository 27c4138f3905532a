#include "ui/TranscriptArea.h"

#include "core/PeerState.h"
#include "session/Session.h"
#include "ui/DesktopServices.h"
#include "ui/PrivacyBadge.h"
#include "ui/TranscriptPane.h"
#include "ui/Twips.h"

#include <QDropEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QToolBar>

namespace {

// Places a control by its twips geometry.
void place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(twipsRect(left, top, std::max(0, width), std::max(0, height)));
}

// Design geometry of the controls that keep part of it when the window is resized.
constexpr int statusTextHeight = 1050;
constexpr int chatBarHeight = 315;
constexpr int stateLabelHeight = 210;
// The layout's bottom distances count from the outer edge of a window whose title bar, menu
// bar and borders took this much height. Measured from the real client area instead, the
// state label sits at the bottom whatever frame the window manager draws, and whether or
// not that frame is known yet.
constexpr int designFrameHeight = 690;

} // namespace

QColor TranscriptArea::colourOf(const QString& optionText)
{
    const qint64 v = optionText.trimmed().toLongLong();
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

TranscriptArea::TranscriptArea(PeerState& c, const Session& session, QWidget* parent) : QWidget(parent), ctx(c)
{
    setObjectName(QStringLiteral("centralWidget"));
    bothPane = new TranscriptPane(QStringLiteral("BothText"), this);
    statusPane = new TranscriptPane(QStringLiteral("StatusText"), this);
    messagePane = new TranscriptPane(QStringLiteral("MsgText"), this);
    chat = new QLineEdit(this);
    chat->setObjectName(QStringLiteral("ChatBar"));
    chat->installEventFilter(this);
    stateLabel = new QLabel(QStringLiteral("Disconnected."), this);
    stateLabel->setObjectName(QStringLiteral("SockState"));
    for (TranscriptPane* pane : {bothPane, statusPane, messagePane}) {
        connect(pane, &TranscriptPane::popupRequested, this,
                [this, pane](const QPoint& at) { Q_EMIT popupRequested(pane, at); });
        connect(pane, &TranscriptPane::filesDropped, this, &TranscriptArea::filesDropped);
    }

    privacyBadge = new PrivacyBadge(session, stateLabel);
    auto* stateRow = new QHBoxLayout(stateLabel);
    stateRow->setContentsMargins(0, 0, 0, 0);
    stateRow->setSizeConstraint(QLayout::SetNoConstraint); // the label keeps its laid-out size
    stateRow->addStretch();
    stateRow->addWidget(privacyBadge);
    connect(&session, &Session::privacyChanged, privacyBadge, &PrivacyBadge::refresh);
    connect(&session, &Session::connectionStateChanged, privacyBadge, &PrivacyBadge::refresh);
}

bool TranscriptArea::showLine(const QString& text, LineKind kind)
{
    const Options& o = ctx.options;
    QString colour;
    bool blink = false;
    TranscriptPane* second = statusPane;
    switch (kind) {
    case LineKind::Message:
        colour = o.messageColor, blink = o.messageBlink, second = messagePane;
        break;
    case LineKind::Status:
        colour = o.statusColor, blink = o.statusBlink;
        break;
    case LineKind::Error:
        colour = o.errorColor, blink = o.errorBlink;
        break;
    case LineKind::Connect:
        colour = o.connectColor, blink = o.connectBlink;
        break;
    default:
        return false; // only the four kinds exist
    }
    const QColor c = colourOf(colour);
    bothPane->addLine(text, c);
    second->addLine(text, c);
    return blink;
}

void TranscriptArea::clear()
{
    for (TranscriptPane* pane : {bothPane, statusPane, messagePane})
        pane->clear();
}

void TranscriptArea::setStateText(const QString& text)
{
    stateLabel->setText(text);
}

void TranscriptArea::layoutControls()
{
    const QSize outer = window()->frameGeometry().size();
    const int outerWidth = std::max(pixelsToTwipsX(outer.width()), minWidthTwips);
    const int outerHeight = std::max(pixelsToTwipsY(height()) + designFrameHeight, minHeightTwips);

    const int left = 53;
    const int width = outerWidth - 240;
    const int stateLabelTop = outerHeight - 975;
    const int chatTop = stateLabelTop - 350;
    const int statusTop = 585;
    const int messageTop = statusTop + statusTextHeight + 100;
    const int panesBottom = ctx.options.showChatBar ? chatTop : stateLabelTop;

    place(stateLabel, left, stateLabelTop, width, stateLabelHeight);
    place(chat, left, chatTop, width, chatBarHeight);
    place(statusPane, left, statusTop, width, statusTextHeight);
    place(messagePane, left, messageTop, width, panesBottom - 25 - messageTop);
    place(bothPane, left, 585, width, panesBottom - 600);

    const QSize toolbarSize = toolbar->sizeHint();
    const int toolbarWidth = pixelsToTwipsX(toolbarSize.width());
    toolbar->setGeometry(twipsToPixelsX((outerWidth - toolbarWidth) / 2 + 15), 0, toolbarSize.width(),
                         toolbarSize.height());
}

void TranscriptArea::applyLayout()
{
    const QString& layout = ctx.options.boxLayout;
    if (layout == QLatin1String("0")) {
        bothPane->show();
        messagePane->hide();
        statusPane->hide();
    } else if (layout == QLatin1String("1")) {
        bothPane->hide();
        messagePane->show();
        statusPane->show();
    }
    layoutControls();
    chat->setVisible(ctx.options.showChatBar);
}

void TranscriptArea::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The area's size is what the controls are laid out in.
    if (!window()->isMinimized())
        layoutControls();
}

bool TranscriptArea::eventFilter(QObject* watched, QEvent* event)
{
    // Files dropped on the chat bar are queued like files dropped on a pane; text drops
    // stay the line edit's own.
    if (watched == chat && (event->type() == QEvent::DragEnter || event->type() == QEvent::Drop)) {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList paths = droppedPaths(drop->mimeData());
        if (!paths.isEmpty()) {
            drop->acceptProposedAction();
            if (event->type() == QEvent::Drop)
                Q_EMIT filesDropped(paths);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
