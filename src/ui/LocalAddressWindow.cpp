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

    Frame1 = new QGroupBox(QStringLiteral("Host Name"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    HstNme = valueField("HstNme", Frame1);
    auto* hostRow = new QHBoxLayout(Frame1);
    hostRow->addWidget(HstNme);

    Frame2 = new QGroupBox(QStringLiteral("I.P. Addresses"), this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Label1 = new QLabel(QStringLiteral("Adapter :"), Frame2);
    Label1->setObjectName(QStringLiteral("Label1"));
    AdapterType = new QComboBox(Frame2);
    AdapterType->setObjectName(QStringLiteral("AdapterType"));
    AdapterType->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    Label2 = new QLabel(QStringLiteral("I.P. Address :"), Frame2);
    Label2->setObjectName(QStringLiteral("Label2"));
    IpsText = valueField("IpsText", Frame2);
    auto* grid = new QGridLayout(Frame2);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(AdapterType, 0, 1);
    grid->addWidget(Label2, 1, 0);
    grid->addWidget(IpsText, 1, 1);
    grid->setColumnStretch(1, 1);

    Command1 = namedButton("Command1", QStringLiteral("Copy I.P."), this);
    Command2 = namedButton("Command2", QStringLiteral("Copy Host Name"), this);
    Command3 = namedButton("Command3", QStringLiteral("Close"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    buttons->addStretch();
    buttons->addWidget(Command3);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Frame1);
    layout->addWidget(Frame2);
    layout->addLayout(buttons);
    setMinimumWidth(360);

    // The value fields can be selected from but hand the focus on to the adapter list.
    HstNme->installEventFilter(this);
    IpsText->installEventFilter(this);
    connect(AdapterType, &QComboBox::currentIndexChanged, this, &LocalAddressWindow::adapterChosen);
    connect(Command1, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(IpsText->text()); });
    connect(Command2, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(HstNme->text()); });
    connect(Command3, &QPushButton::clicked, this, &QDialog::close);

    lookUp();
}

void LocalAddressWindow::lookUp()
{
    HstNme->clear();
    IpsText->clear();
    AdapterType->clear();
    AdapterAddresses.clear();
    const AddressLookup::LocalAddresses found = AddressLookup::lookUp();
    HstNme->setText(found.hostName);
    for (const AddressLookup::Adapter& a : found.adapters) {
        AdapterType->addItem(a.description);
        AdapterAddresses.append(a.address);
    }
    AdapterType->setCurrentIndex(-1);
    AdapterType->setFocus();
}

void LocalAddressWindow::adapterChosen(int index)
{
    IpsText->setText(index >= 0 && index < AdapterAddresses.size() ? AdapterAddresses.at(index) : QString());
}

bool LocalAddressWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn && (watched == HstNme || watched == IpsText))
        AdapterType->setFocus();
    return QDialog::eventFilter(watched, event);
}
