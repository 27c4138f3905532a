#pragma once
#include <QDialog>
#include <QStringList>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// "Local Ip": the machine's host name and, per adapter, its address, each ready to copy for
// the other side. Read afresh each time the window is created.
class LocalAddressWindow : public QDialog {
    Q_OBJECT
public:
    explicit LocalAddressWindow(QWidget* owner = nullptr);

    // Reads the host name and the adapters and fills the window; no adapter is selected.
    void lookUp();

    QGroupBox* hostNameBox = nullptr;
    QLineEdit* hostNameEdit = nullptr;
    QGroupBox* addressBox = nullptr;
    QLabel* adapterLabel = nullptr;
    QComboBox* adapterCombo = nullptr;
    QLabel* addressLabel = nullptr;
    QLineEdit* addressEdit = nullptr;
    QPushButton* copyAddressButton = nullptr;  // "Copy I.P."
    QPushButton* copyHostNameButton = nullptr; // "Copy Host Name"
    QPushButton* closeButton = nullptr;        // "Close"

    // One address per entry of adapterCombo, in the same order.
    QStringList adapterAddresses;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void adapterChosen(int index);
};
