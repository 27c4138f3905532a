#pragma once
#include <QDialog>

#include <functional>

class PeerState;
class Peer;
class QCheckBox;
class QGroupBox;
class QHBoxLayout;
class QLineEdit;
class QPushButton;
class QRadioButton;

// Quick connect: choose client or server mode, fill in the port and password, and start the
// session. Every opening starts from the option set; OK stores what the user confirmed into
// the option set and the connection settings, then calls openConnection.
class QuickConnectDialog : public QDialog {
    Q_OBJECT
public:
    explicit QuickConnectDialog(Peer& peer, QWidget* parent = nullptr);

    // Opens the connection the context now describes (the main window's openConnection).
    std::function<void()> openConnection;
    // Opens the site list; while unset, the Server List button is disabled. Set it before load().
    std::function<void()> openSiteList;

    // Fills the controls from the option set (the form load).
    void load();

    // "2001 & 2002" for "2000"; empty for an empty port.
    static QString filePortsFor(const QString& port);

    QRadioButton* serverModeOption = nullptr; // server mode
    QRadioButton* clientModeOption = nullptr; // client mode
    QGroupBox* clientBox = nullptr;
    QLineEdit* clientAddressEdit = nullptr;
    QLineEdit* clientPortEdit = nullptr;
    QLineEdit* clientFilePortsEdit = nullptr;
    QLineEdit* clientPasswordEdit = nullptr;
    QGroupBox* serverBox = nullptr;
    QLineEdit* serverPortEdit = nullptr;
    QLineEdit* serverFilePortsEdit = nullptr;
    QCheckBox* requirePasswordCheck = nullptr;
    QLineEdit* serverPasswordEdit = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
    QPushButton* helpButton = nullptr;
    QPushButton* siteListButton = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildClientBox();
    void buildServerBox();
    QHBoxLayout* buildButtons();
    void onOk();
    bool boxesAcceptable(bool client);
    // Refuses OK with the message box named name and puts the focus on box; nothing is stored.
    void refuse(const char* name, const QString& text, QLineEdit* box);
    void onServerList();
    void showMode();

    Peer& peer;
    PeerState& ctx; // the peer's state
};
