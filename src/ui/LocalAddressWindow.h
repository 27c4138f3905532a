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

    QGroupBox* Frame1 = nullptr;
    QLineEdit* HstNme = nullptr;
    QGroupBox* Frame2 = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* AdapterType = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* IpsText = nullptr;
    QPushButton* Command1 = nullptr; // "Copy I.P."
    QPushButton* Command2 = nullptr; // "Copy Host Name"
    QPushButton* Command3 = nullptr; // "Close"

    // One address per entry of AdapterType, in the same order.
    QStringList AdapterAddresses;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void adapterChosen(int index);
};
