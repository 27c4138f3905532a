#pragma once
#include "core/LineKind.h"
#include "ui/TranscriptPane.h"

#include <QWidget>

class PeerState;
class PrivacyBadge;
class QLabel;
class QLineEdit;
class QToolBar;
class Session;

// The main window's client area: the toolbar, the three transcript panes, the chat bar and
// the connection state label with the privacy badge at its right end, each placed in twips
// for the window's size as the options lay them out. A line goes to the "both" pane and to
// its kind's pane, in its kind's colour.
class TranscriptArea : public QWidget {
    Q_OBJECT
public:
    TranscriptArea(PeerState& ctx, const Session& session, QWidget* parent);

    QLineEdit* chatBar() const { return chat; }
    // The toolbar, made by the window once its menus are there, is centred above the panes.
    void setToolbar(QToolBar* bar) { toolbar = bar; }
    QToolBar* toolBar() const { return toolbar; }

    // Shows a line in its panes; returns whether its kind blinks.
    bool showLine(const QString& text, LineKind kind);
    void clear();
    void setStateText(const QString& text);
    // Shows the panes the option's box layout names and the chat bar if it is on, then
    // places them.
    void applyLayout();
    // Places every control for the window's current size.
    void layoutControls();

    // The window's minimum outer size, in twips: the controls are placed for no less.
    static constexpr int minWidthTwips = 4400;
    static constexpr int minHeightTwips = 3990;

    // Colour of an option's decimal text (red + 256 * green + 65536 * blue).
    static QColor colourOf(const QString& optionText);

Q_SIGNALS:
    // The popup menu was asked for over a pane.
    void popupRequested(TranscriptPane* pane, const QPoint& at);
    // Local files or folders were dropped on a pane or the chat bar.
    void filesDropped(const QStringList& paths);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    PeerState& ctx;
    TranscriptPane* bothPane = nullptr;
    TranscriptPane* statusPane = nullptr;
    TranscriptPane* messagePane = nullptr;
    QLineEdit* chat = nullptr;
    QLabel* stateLabel = nullptr;
    PrivacyBadge* privacyBadge = nullptr;
    QToolBar* toolbar = nullptr;
};
