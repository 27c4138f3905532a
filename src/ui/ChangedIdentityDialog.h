#pragma once
#include <QDialog>

class QLabel;
class QPushButton;

// "Identity Changed": the site the user connected to presented another key than the one
// remembered for it, so the connection was not made. Shows the new connection code and
// advises comparing it with the friend before trusting it. "Accept New Identity" emits
// identityAccepted and closes; Cancel, Esc and the close box only close.
class ChangedIdentityDialog : public QDialog {
    Q_OBJECT
public:
    ChangedIdentityDialog(const QString& host, quint16 port, const QString& code, QWidget* owner);

    QLabel* messageLabel = nullptr;
    QLabel* codeLabel = nullptr; // the new connection code, selectable
    QPushButton* acceptButton = nullptr;
    QPushButton* cancelButton = nullptr;

Q_SIGNALS:
    void identityAccepted();
};
