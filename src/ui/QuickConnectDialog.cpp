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
    Option1_1 = new QRadioButton(QStringLiteral("Wait For Connection"), typeFrame);
    Option1_1->setObjectName(QStringLiteral("Option1_1"));
    Option1_2 = new QRadioButton(QStringLiteral("Connect To Another User"), typeFrame);
    Option1_2->setObjectName(QStringLiteral("Option1_2"));
    auto* typeLayout = new QVBoxLayout(typeFrame);
    typeLayout->addWidget(Option1_1);
    typeLayout->addWidget(Option1_2);

    ClientFrame = new QGroupBox(QStringLiteral("Server Information"), this);
    ClientFrame->setObjectName(QStringLiteral("ClientFrame"));
    ClientIpText = edit("ClientIpText", ClientFrame);
    ClientPortText = portEdit("ClientPortText", ClientFrame);
    ClientFilePortText = displayEdit("ClientFilePortText", ClientFrame);
    ClientPasswordText = edit("ClientPasswordText", ClientFrame);
    // Passwords show only while they are being typed, not to someone looking over a shoulder.
    ClientPasswordText->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    auto* clientForm = new QFormLayout(ClientFrame);
    clientForm->addRow(QStringLiteral("I.P."), ClientIpText);
    clientForm->addRow(QStringLiteral("Port : "), ClientPortText);
    clientForm->addRow(QStringLiteral("File Ports : "), ClientFilePortText);
    clientForm->addRow(QStringLiteral("Password : "), ClientPasswordText);

    ServerFrame = new QGroupBox(QStringLiteral("My Server Options"), this);
    ServerFrame->setObjectName(QStringLiteral("ServerFrame"));
    ServerPortText = portEdit("ServerPortText", ServerFrame);
    ServerFilePortText = displayEdit("ServerFilePortText", ServerFrame);
    ReqPassCheck = new QCheckBox(QStringLiteral("Require Server Password To Log On"), ServerFrame);
    ReqPassCheck->setObjectName(QStringLiteral("ReqPassCheck"));
    ServerPasswordText = edit("ServerPasswordText", ServerFrame);
    ServerPasswordText->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    auto* serverForm = new QFormLayout(ServerFrame);
    serverForm->addRow(QStringLiteral("Port :"), ServerPortText);
    serverForm->addRow(QStringLiteral("File Ports :"), ServerFilePortText);
    serverForm->addRow(ReqPassCheck);
    serverForm->addRow(QStringLiteral("Server Password : "), ServerPasswordText);

    auto button = [this](const char* name, const QString& caption) { return namedButton(name, caption, this); };
    OkButton = button("OkButton", QStringLiteral("OK"));
    OkButton->setDefault(true);
    CancelButton = button("CancelButton", QStringLiteral("Cancel"));
    HelpButton = button("HelpButton", QStringLiteral("Help"));
    ServerListButton = button("ServerListButton", QStringLiteral("Server List"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ServerListButton);
    buttons->addStretch();
    buttons->addWidget(OkButton);
    buttons->addWidget(CancelButton);
    buttons->addWidget(HelpButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(typeFrame);
    layout->addWidget(ClientFrame);
    layout->addWidget(ServerFrame);
    layout->addStretch();
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(Option1_1, &QRadioButton::toggled, this, &QuickConnectDialog::showMode);
    connect(Option1_2, &QRadioButton::toggled, this, &QuickConnectDialog::showMode);
    connect(ReqPassCheck, &QCheckBox::toggled, ServerPasswordText, &QLineEdit::setEnabled);
    connect(ClientPortText, &QLineEdit::textChanged, this,
            [this](const QString& t) { ClientFilePortText->setText(filePortsFor(t)); });
    connect(ServerPortText, &QLineEdit::textChanged, this,
            [this](const QString& t) { ServerFilePortText->setText(filePortsFor(t)); });
    connect(OkButton, &QPushButton::clicked, this, &QuickConnectDialog::onOk);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::close);
    connect(HelpButton, &QPushButton::clicked, this, [this] { showHelpTopic(4, this); });
    connect(ServerListButton, &QPushButton::clicked, this, &QuickConnectDialog::onServerList);

    for (QLineEdit* e : {ClientIpText, ClientPortText, ClientPasswordText, ServerPortText, ServerPasswordText})
        e->installEventFilter(this);
}

void QuickConnectDialog::load()
{
    const Options& o = ctx.options;
    ClientFrame->hide();
    ServerFrame->hide();
    ClientPortText->clear();
    ServerPortText->clear();
    ClientPortText->setText(o.clientPort);
    ClientIpText->setText(o.clientAddress);
    ClientPasswordText->setText(o.clientPassword);
    ServerPortText->setText(o.serverPort);
    ServerPasswordText->setText(o.serverPassword);
    ReqPassCheck->setChecked(o.requirePassword);
    ServerPasswordText->setEnabled(o.requirePassword);
    if (o.connectionType == ConnectionMode::Client)
        Option1_2->setChecked(true);
    else if (o.connectionType == ConnectionMode::Server)
        Option1_1->setChecked(true);
    ServerListButton->setEnabled(bool(openSiteList));
}

void QuickConnectDialog::showMode()
{
    ClientFrame->hide();
    ServerFrame->hide();
    if (Option1_1->isChecked())
        ServerFrame->show();
    else if (Option1_2->isChecked())
        ClientFrame->show();
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

void QuickConnectDialog::onOk()
{
    const bool client = Option1_2->isChecked();
    const bool server = Option1_1->isChecked();
    QLineEdit* port = client ? ClientPortText : server ? ServerPortText : nullptr;
    if (port && port->text().isEmpty()) {
        // Without a port there is nothing to connect to, nor file ports to derive.
        refuse("emptyPortMessage", QStringLiteral("Please enter a port number."), port);
        return;
    }
    // Both modes' ports are stored; a session also uses the two ports above its own.
    for (QLineEdit* box : {ClientPortText, ServerPortText}) {
        const int number = box->text().toInt();
        if (!box->text().isEmpty() && (number < 1 || number > 65533)) {
            refuse("portRangeMessage",
                   QStringLiteral("The %1 port %2 is not a port from 1 to 65533.")
                       .arg(box == ClientPortText ? QStringLiteral("client") : QStringLiteral("server"), box->text()),
                   box);
            return;
        }
    }
    // Both passwords are stored; one the option file cannot hold would not come back.
    for (QLineEdit* box : {ClientPasswordText, ServerPasswordText}) {
        if (!ConfigFile::storable(box->text())) {
            refuse(
                "passwordMessage",
                QStringLiteral("The %1 password cannot hold \"[\", \"%2\" or characters outside Windows-1252.")
                    .arg(box == ClientPasswordText ? QStringLiteral("client") : QStringLiteral("server"), QChar(0xFF)),
                box);
            return;
        }
    }

    peer.session().dropForConnect();

    Options& o = ctx.options;
    o.requirePassword = ReqPassCheck->isChecked();
    // A port box left empty in the mode not chosen keeps the stored port.
    if (!ClientPortText->text().isEmpty()) {
        o.clientPort = ClientPortText->text();
        o.clientFilePort = nextPort(o.clientPort);
    }
    o.clientAddress = ClientIpText->text();
    o.clientPassword = ClientPasswordText->text();
    if (!ServerPortText->text().isEmpty()) {
        o.serverPort = ServerPortText->text();
        o.serverFilePort = nextPort(o.serverPort);
    }
    o.serverPassword = ServerPasswordText->text();

    if (client) {
        o.connectionType = ConnectionMode::Client;
        ctx.connectionMode = ConnectionMode::Client;
        ctx.connectionPort = ClientPortText->text();
        ctx.connectionHost = ClientIpText->text();
        ctx.connectionPassword = ClientPasswordText->text();
    } else if (server) {
        ctx.connectionMode = ConnectionMode::Server;
        ctx.connectionPort = ServerPortText->text();
        ctx.connectionPassword = ServerPasswordText->text();
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
