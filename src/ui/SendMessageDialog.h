#pragma once
#include <QDialog>

class Session;
class QLineEdit;
class QPushButton;

// "Send A Message": one chat line typed in a dialog of its own.
class SendMessageDialog : public QDialog {
    Q_OBJECT
public:
    SendMessageDialog(Session& session, QWidget* owner);
    QLineEdit* messageEdit = nullptr;
    QPushButton* sendButton = nullptr;   // "Send"
    QPushButton* cancelButton = nullptr; // "Cancel"

private:
    void send();
    Session& session;
};
