#pragma once
#include <QDialog>

class PeerState;
class QLabel;
class QPushButton;
class QRadioButton;

// "Remote User's Information": the peer's record as it was when the window opened, one
// field can be copied to the clipboard. The peer's texts are shown as plain text. Below them
// the connection code of a private connection, or "Not private".
class RemoteUserInfoDialog : public QDialog {
    Q_OBJECT
public:
    RemoteUserInfoDialog(const PeerState& ctx, QWidget* owner, const QString& connectionCode = {});
    QRadioButton* fieldChoices[4] = {};
    QLabel* fieldLabels[4] = {};
    QPushButton* copyButton = nullptr;
    QPushButton* closeButton = nullptr;
    QPushButton* openLinkButton = nullptr; // opens the home page, only an http or https one
    QLabel* connectionCodeLabel = nullptr;

    // The home page as a link this window will open, or an empty text.
    static QString webLink(const QString& homepage);

private:
    void copySelected();
};
