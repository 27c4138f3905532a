#include "ui/LocalAddressWindow.h"
#include "ui/NamedButton.h"

#include "util/AddressLookup.h"

#include <QClipboard>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLineEdit* valueField(const char* name, QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setReadOnly(true);
    // Reached by the mouse only: Tab would land here and be sent straight back.
    field->setFocusPolicy(Qt::ClickFocus);
    return field;
}

} // namespace

LocalAddressWindow::LocalAddressWindow(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("LocIP"));
    setWindowTitle(QStringLiteral("Local Ip"));

    hostNameBox = new QGroupBox(QStringLiteral("Host Name"), this);
    hostNameBox->setObjectName(QStringLiteral("Frame1"));
    hostNameEdit = valueField("HstNme", hostNameBox);
    auto* hostRow = new QHBoxLayout(hostNameBox);
    hostRow->addWidget(hostNameEdit);

    addressBox = new QGroupBox(QStringLiteral("I.P. Addresses"), this);
    addressBox->setObjectName(QStringLiteral("Frame2"));
    adapterLabel = new QLabel(QStringLiteral("Adapter :"), addressBox);
    adapterLabel->setObjectName(QStringLiteral("Label1"));
    adapterCombo = new QComboBox(addressBox);
    adapterCombo->setObjectName(QStringLiteral("AdapterType"));
    adapterCombo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    addressLabel = new QLabel(QStringLiteral("I.P. Address :"), addressBox);
    addressLabel->setObjectName(QStringLiteral("Label2"));
    addressEdit = valueField("IpsText", addressBox);
    auto* grid = new QGridLayout(addressBox);
    grid->addWidget(adapterLabel, 0, 0);
    grid->addWidget(adapterCombo, 0, 1);
    grid->addWidget(addressLabel, 1, 0);
    grid->addWidget(addressEdit, 1, 1);
    grid->setColumnStretch(1, 1);

    copyAddressButton = namedButton("Command1", QStringLiteral("Copy I.P."), this);
    copyHostNameButton = namedButton("Command2", QStringLiteral("Copy Host Name"), this);
    closeButton = namedButton("Command3", QStringLiteral("Close"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(copyAddressButton);
    buttons->addWidget(copyHostNameButton);
    buttons->addStretch();
    buttons->addWidget(closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(hostNameBox);
    layout->addWidget(addressBox);
    layout->addLayout(buttons);
    setMinimumWidth(360);

    // The value fields can be selected from but hand the focus on to the adapter list.
    hostNameEdit->installEventFilter(this);
    addressEdit->installEventFilter(this);
    connect(adapterCombo, &QComboBox::currentIndexChanged, this, &LocalAddressWindow::adapterChosen);
    connect(copyAddressButton, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(addressEdit->text()); });
    connect(copyHostNameButton, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(hostNameEdit->text()); });
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);

    lookUp();
}

void LocalAddressWindow::lookUp()
{
    hostNameEdit->clear();
    addressEdit->clear();
    adapterCombo->clear();
    adapterAddresses.clear();
    const AddressLookup::LocalAddresses found = AddressLookup::lookUp();
    hostNameEdit->setText(found.hostName);
    for (const AddressLookup::Adapter& a : found.adapters) {
        adapterCombo->addItem(a.description);
        adapterAddresses.append(a.address);
    }
    adapterCombo->setCurrentIndex(-1);
    adapterCombo->setFocus();
}

void LocalAddressWindow::adapterChosen(int index)
{
    addressEdit->setText(index >= 0 && index < adapterAddresses.size() ? adapterAddresses.at(index) : QString());
}

bool LocalAddressWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn && (watched == hostNameEdit || watched == addressEdit))
        adapterCombo->setFocus();
    return QDialog::eventFilter(watched, event);
}
