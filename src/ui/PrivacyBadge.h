#pragma once
#include <QWidget>

class Session;
class QLabel;

// The lock and the word "Private" in the main window's status area while the control
// connection is private; the tool tip names the protocol and the connection code. Hidden
// while there is no connection or it is plain.
class PrivacyBadge : public QWidget {
    Q_OBJECT
public:
    PrivacyBadge(const Session& session, QWidget* parent);

    // Follows the session: shown with the current code while private, hidden otherwise.
    void refresh();

    // A small closed padlock, drawn so that it needs no icon theme.
    static QPixmap lockPicture(int size);

    QLabel* lockLabel = nullptr;
    QLabel* textLabel = nullptr;

private:
    const Session& session;
};
