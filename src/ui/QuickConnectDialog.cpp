#include "ui/QuickConnectDialog.h"
#include "ui/NamedButton.h"

#include "config/Options.h"
#include "core/PeerState.h"
#include "peer/Peer.h"
#include "session/Session.h"
#include "ui/DesktopServices.h"

#include <QCheckBox>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QLineEdit* edit(const char* name, QWidget* parent)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    return e;
}

// Port boxes take digits only (typed or pasted); five digits hold every port.
QLineEdit* portEdit(const char* name, QWidget* parent)
{
    QLineEdit* e = edit(name, parent);
    e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
    e->setMaxLength(5);
    return e;
}

QLineEdit* displayEdit(const char* name, QWidget* parent)
{
    QLineEdit* e = edit(name, parent);
    e->setReadOnly(true);
    e->setFocusPolicy(Qt::NoFocus);
    return e;
}

// The file port stored with a control port: the next number up.
QString nextPort(const QString& port)
{
    return QString::number(port.toInt() + 1);
}

} // namespace

QString QuickConnectDialog::filePortsFor(const QString& port)
{
    if (port.isEmpty())
        return {};
    const int p = port.toInt();
    return QString::number(p + 1) + QStringLiteral(" & ") + QString::number(p + 2);
}

QuickConnectDialog::QuickConnectDialog(Peer& p, QWidget* parent) : QDialog(parent), peer(p), ctx(p.state())
{
    setObjectName(QStringLiteral("dlgConnect"));
    setWindowTitle(QStringLiteral("Connect As..."));

    auto* typeFrame = new QGroupBox(QStringLiteral("Connection Type"), this);
    serverModeOption = new QRadioButton(QStringLiteral("Wait For Connection"), typeFrame);
    serverModeOption->setObjectName(QStringLiteral("Option1_1"));
    clientModeOption = new QRadioButton(QStringLiteral("Connect To Another User"), typeFrame);
    clientModeOption->setObjectName(QStringLiteral("Option1_2"));
    auto* typeLayout = new QVBoxLayout(typeFrame);
    typeLayout->addWidget(serverModeOption);
    typeLayout->addWidget(clientModeOption);

    buildClientBox();
    buildServerBox();
    QHBoxLayout* buttons = buildButtons();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(typeFrame);
    layout->addWidget(clientBox);
    layout->addWidget(serverBox);
    layout->addStretch();
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(serverModeOption, &QRadioButton::toggled, this, &QuickConnectDialog::showMode);
    connect(clientModeOption, &QRadioButton::toggled, this, &QuickConnectDialog::showMode);
    connect(requirePasswordCheck, &QCheckBox::toggled, serverPasswordEdit, &QLineEdit::setEnabled);
    connect(clientPortEdit, &QLineEdit::textChanged, this,
            [this](const QString& t) { clientFilePortsEdit->setText(filePortsFor(t)); });
    connect(serverPortEdit, &QLineEdit::textChanged, this,
            [this](const QString& t) { serverFilePortsEdit->setText(filePortsFor(t)); });
    connect(okButton, &QPushButton::clicked, this, &QuickConnectDialog::onOk);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::close);
    connect(helpButton, &QPushButton::clicked, this, [this] { showHelpTopic(4, this); });
    connect(siteListButton, &QPushButton::clicked, this, &QuickConnectDialog::onServerList);

    for (QLineEdit* e : {clientAddressEdit, clientPortEdit, clientPasswordEdit, serverPortEdit, serverPasswordEdit})
        e->installEventFilter(this);
}

// The client side: the peer's address, its port and the password to log on with.
void QuickConnectDialog::buildClientBox()
{
    clientBox = new QGroupBox(QStringLiteral("Server Information"), this);
    clientBox->setObjectName(QStringLiteral("ClientFrame"));
    clientAddressEdit = edit("ClientIpText", clientBox);
    clientPortEdit = portEdit("ClientPortText", clientBox);
    clientFilePortsEdit = displayEdit("ClientFilePortText", clientBox);
    clientPasswordEdit = edit("ClientPasswordText", clientBox);
    // Passwords show only while they are being typed, not to someone looking over a shoulder.
    clientPasswordEdit->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    auto* clientForm = new QFormLayout(clientBox);
    clientForm->addRow(QStringLiteral("I.P."), clientAddressEdit);
    clientForm->addRow(QStringLiteral("Port : "), clientPortEdit);
    clientForm->addRow(QStringLiteral("File Ports : "), clientFilePortsEdit);
    clientForm->addRow(QStringLiteral("Password : "), clientPasswordEdit);
}

// The server side: the port to wait on and whether a password is required.
void QuickConnectDialog::buildServerBox()
{
    serverBox = new QGroupBox(QStringLiteral("My Server Options"), this);
    serverBox->setObjectName(QStringLiteral("ServerFrame"));
    serverPortEdit = portEdit("ServerPortText", serverBox);
    serverFilePortsEdit = displayEdit("ServerFilePortText", serverBox);
    requirePasswordCheck = new QCheckBox(QStringLiteral("Require Server Password To Log On"), serverBox);
    requirePasswordCheck->setObjectName(QStringLiteral("ReqPassCheck"));
    serverPasswordEdit = edit("ServerPasswordText", serverBox);
    serverPasswordEdit->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    auto* serverForm = new QFormLayout(serverBox);
    serverForm->addRow(QStringLiteral("Port :"), serverPortEdit);
    serverForm->addRow(QStringLiteral("File Ports :"), serverFilePortsEdit);
    serverForm->addRow(requirePasswordCheck);
    serverForm->addRow(QStringLiteral("Server Password : "), serverPasswordEdit);
}

// OK, Cancel and Help, with Server List apart at the left.
QHBoxLayout* QuickConnectDialog::buildButtons()
{
    auto button = [this](const char* name, const QString& caption) { return namedButton(name, caption, this); };
    okButton = button("OkButton", QStringLiteral("OK"));
    okButton->setDefault(true);
    cancelButton = button("CancelButton", QStringLiteral("Cancel"));
    helpButton = button("HelpButton", QStringLiteral("Help"));
    siteListButton = button("ServerListButton", QStringLiteral("Server List"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(siteListButton);
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    buttons->addWidget(helpButton);
    return buttons;
}

void QuickConnectDialog::load()
{
    const Options& o = ctx.options;
    clientBox->hide();
    serverBox->hide();
    clientPortEdit->clear();
    serverPortEdit->clear();
    clientPortEdit->setText(o.clientPort);
    clientAddressEdit->setText(o.clientAddress);
    clientPasswordEdit->setText(o.clientPassword);
    serverPortEdit->setText(o.serverPort);
    serverPasswordEdit->setText(o.serverPassword);
    requirePasswordCheck->setChecked(o.requirePassword);
    serverPasswordEdit->setEnabled(o.requirePassword);
    if (o.connectionType == ConnectionMode::Client)
        clientModeOption->setChecked(true);
    else if (o.connectionType == ConnectionMode::Server)
        serverModeOption->setChecked(true);
    siteListButton->setEnabled(bool(openSiteList));
}

void QuickConnectDialog::showMode()
{
    clientBox->hide();
    serverBox->hide();
    if (serverModeOption->isChecked())
        serverBox->show();
    else if (clientModeOption->isChecked())
        clientBox->show();
}

bool QuickConnectDialog::eventFilter(QObject* watched, QEvent* event)
{
    // A box that receives the focus has its whole text selected, ready to be typed over;
    // after the click that gave the focus has placed the caret.
    if (event->type() == QEvent::FocusIn)
        if (auto* e = qobject_cast<QLineEdit*>(watched))
            QTimer::singleShot(0, e, &QLineEdit::selectAll);
    return QDialog::eventFilter(watched, event);
}

void QuickConnectDialog::refuse(const char* name, const QString& text, QLineEdit* box)
{
    auto* message = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
    message->setObjectName(QLatin1String(name));
    message->setAttribute(Qt::WA_DeleteOnClose);
    message->open();
    box->setFocus();
}

// Refuses OK, with a message, for an empty port in the chosen mode, a port out of range or a
// password the option file cannot hold; nothing is stored then.
bool QuickConnectDialog::boxesAcceptable(bool client)
{
    QLineEdit* port = client ? clientPortEdit : serverModeOption->isChecked() ? serverPortEdit : nullptr;
    if (port && port->text().isEmpty()) {
        // Without a port there is nothing to connect to, nor file ports to derive.
        refuse("emptyPortMessage", QStringLiteral("Please enter a port number."), port);
        return false;
    }
    // Both modes' ports are stored; a session also uses the two ports above its own.
    for (QLineEdit* box : {clientPortEdit, serverPortEdit}) {
        const int number = box->text().toInt();
        if (!box->text().isEmpty() && (number < 1 || number > 65533)) {
            refuse("portRangeMessage",
                   QStringLiteral("The %1 port %2 is not a port from 1 to 65533.")
                       .arg(box == clientPortEdit ? QStringLiteral("client") : QStringLiteral("server"), box->text()),
                   box);
            return false;
        }
    }
    // Both passwords are stored; one the option file cannot hold would not come back.
    for (QLineEdit* box : {clientPasswordEdit, serverPasswordEdit}) {
        if (!ConfigFile::storable(box->text())) {
            refuse(
                "passwordMessage",
                QStringLiteral("The %1 password cannot hold \"[\", \"%2\" or characters outside Windows-1252.")
                    .arg(box == clientPasswordEdit ? QStringLiteral("client") : QStringLiteral("server"), QChar(0xFF)),
                box);
            return false;
        }
    }
    return true;
}

void QuickConnectDialog::onOk()
{
    const bool client = clientModeOption->isChecked();
    const bool server = serverModeOption->isChecked();
    if (!boxesAcceptable(client))
        return;

    peer.session().dropForConnect();

    Options& o = ctx.options;
    o.requirePassword = requirePasswordCheck->isChecked();
    // A port box left empty in the mode not chosen keeps the stored port.
    if (!clientPortEdit->text().isEmpty()) {
        o.clientPort = clientPortEdit->text();
        o.clientFilePort = nextPort(o.clientPort);
    }
    o.clientAddress = clientAddressEdit->text();
    o.clientPassword = clientPasswordEdit->text();
    if (!serverPortEdit->text().isEmpty()) {
        o.serverPort = serverPortEdit->text();
        o.serverFilePort = nextPort(o.serverPort);
    }
    o.serverPassword = serverPasswordEdit->text();

    if (client) {
        o.connectionType = ConnectionMode::Client;
        ctx.connectionMode = ConnectionMode::Client;
        ctx.connectionPort = clientPortEdit->text();
        ctx.connectionHost = clientAddressEdit->text();
        ctx.connectionPassword = clientPasswordEdit->text();
    } else if (server) {
        ctx.connectionMode = ConnectionMode::Server;
        ctx.connectionPort = serverPortEdit->text();
        ctx.connectionPassword = serverPasswordEdit->text();
        o.connectionType = ConnectionMode::Server;
    }
    if ((client || server) && openConnection)
        openConnection();
    close();
}

void QuickConnectDialog::onServerList()
{
    hide();
    close();
    if (openSiteList)
        openSiteList();
}
