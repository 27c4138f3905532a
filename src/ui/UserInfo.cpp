#include "ui/UserInfo.h"

#include "core/Context.h"
#include "core/LineText.h"
#include "session/Session.h"
#include "ui/ShellUi.h"

#include <QClipboard>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>
#include <QVBoxLayout>

dlgmsg::dlgmsg(Session& s, QWidget* owner) : QDialog(owner), session(s)
{
    setObjectName(QStringLiteral("dlgmsg"));
    setWindowTitle(QStringLiteral("Send A Message"));
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Command1 = new QPushButton(QStringLiteral("Send"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setDefault(true);
    Command2 = new QPushButton(QStringLiteral("Cancel"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Text1);
    layout->addLayout(buttons);
    // Room for a sentence and for the whole title beside the window manager's buttons.
    Text1->setMinimumWidth(Text1->fontMetrics().averageCharWidth() * 50);
    setMinimumWidth(fontMetrics().horizontalAdvance(windowTitle()) + 160);
    connect(Command1, &QPushButton::clicked, this, &dlgmsg::send);
    connect(Command2, &QPushButton::clicked, this, &QDialog::close);
}

void dlgmsg::send()
{
    const QString text = Text1->text();
    if (!text.isEmpty()) {
        // Shown here even when the connection has gone meanwhile; the session drops the send then.
        session.SendChat(text);
    }
    close();
}

Uinfo::Uinfo(const Context& ctx, QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("Uinfo"));
    setWindowTitle(QStringLiteral("Remote User's Information"));
    const QString captions[4] = {QStringLiteral("Name :"), QStringLiteral("E-Mail :"), QStringLiteral("Homepage :"),
                                 QStringLiteral("Age :")};
    const QString values[4] = {ctx.RemoteName, ctx.RemoteEmail, ctx.RemoteHomepage, ctx.RemoteAge};
    auto* rows = new QGridLayout;
    for (int i = 0; i < 4; ++i) {
        Option1[i] = new QRadioButton(captions[i], this);
        Option1[i]->setObjectName(QStringLiteral("Option1_%1").arg(i));
        Label1[i] = new QLabel(this);
        Label1[i]->setObjectName(QStringLiteral("Label1_%1").arg(i));
        // The peer's text as one line with its hidden characters shown, never markup or a link
        // that opens by itself.
        Label1[i]->setTextFormat(Qt::PlainText);
        Label1[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        Label1[i]->setText(LineText::visible(values[i]));
        rows->addWidget(Option1[i], i, 0);
        rows->addWidget(Label1[i], i, 1);
    }
    const QString link = webLink(ctx.RemoteHomepage);
    OpenLinkButton = new QPushButton(QStringLiteral("Open"), this);
    OpenLinkButton->setObjectName(QStringLiteral("OpenLinkButton"));
    OpenLinkButton->setEnabled(!link.isEmpty());
    OpenLinkButton->setToolTip(link.isEmpty() ? QStringLiteral("Only http and https links can be opened") : link);
    rows->addWidget(OpenLinkButton, 2, 2);
    connect(OpenLinkButton, &QPushButton::clicked, this, [this, link] { ExecuteLink(link, this); });

    ClipboardButton = new QPushButton(QStringLiteral("Copy Selected To Clipboard"), this);
    ClipboardButton->setObjectName(QStringLiteral("ClipboardButton"));
    CloseButton = new QPushButton(QStringLiteral("Close "), this);
    CloseButton->setObjectName(QStringLiteral("CloseButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ClipboardButton);
    buttons->addStretch();
    buttons->addWidget(CloseButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(rows);
    layout->addLayout(buttons);
    connect(ClipboardButton, &QPushButton::clicked, this, &Uinfo::copySelected);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::close);
}

QString Uinfo::webLink(const QString& homepage)
{
    // A home page is often written without its scheme ("www.example.com"): it is a web address.
    // Anything else that names a scheme ("mailto:", "javascript:") stays refused.
    QString text = homepage.trimmed();
    const int colon = text.indexOf(':');
    const bool schemeNamed = colon > 0 && !text.left(colon).contains('/')
                             && !(colon + 1 < text.size() && text.at(colon + 1).isDigit());
    if (!text.isEmpty() && !schemeNamed)
        text.prepend(QLatin1String("http://"));
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return {};
    return url.toString();
}

void Uinfo::copySelected()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    for (int i = 0; i < 4; ++i)
        if (Option1[i]->isChecked())
            clipboard->setText(Label1[i]->text());
}
