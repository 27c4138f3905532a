#pragma once
#include <QDialog>

class Context;
class Session;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// "Send A Message": one chat line typed in a dialog of its own.
class dlgmsg : public QDialog {
    Q_OBJECT
public:
    dlgmsg(Session& session, QWidget* owner);
    QLineEdit* Text1 = nullptr;
    QPushButton* Command1 = nullptr; // "Send"
    QPushButton* Command2 = nullptr; // "Cancel"

private:
    void send();
    Session& session;
};

// "Remote User's Information": the peer's record as it was when the window opened, one
// field can be copied to the clipboard. The peer's texts are shown as plain text.
class Uinfo : public QDialog {
    Q_OBJECT
public:
    Uinfo(const Context& ctx, QWidget* owner);
    QRadioButton* Option1[4] = {};
    QLabel* Label1[4] = {};
    QPushButton* ClipboardButton = nullptr;
    QPushButton* CloseButton = nullptr;
    QPushButton* OpenLinkButton = nullptr; // opens the home page, only an http or https one

    // The home page as a link this window will open, or an empty text.
    static QString webLink(const QString& homepage);

private:
    void copySelected();
};
