#include "ui/RemoteUserInfoDialog.h"

#include "core/LineText.h"
#include "core/PeerState.h"
#include "ui/DesktopServices.h"

#include <QClipboard>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>
#include <QVBoxLayout>

RemoteUserInfoDialog::RemoteUserInfoDialog(const PeerState& ctx, QWidget* owner, const QString& connectionCode)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("Uinfo"));
    setWindowTitle(QStringLiteral("Remote User's Information"));
    const QString captions[4] = {QStringLiteral("Name :"), QStringLiteral("E-Mail :"), QStringLiteral("Homepage :"),
                                 QStringLiteral("Age :")};
    const QString values[4] = {ctx.remoteName, ctx.remoteEmail, ctx.remoteHomepage, ctx.remoteAge};
    auto* rows = new QGridLayout;
    for (int i = 0; i < 4; ++i) {
        fieldChoices[i] = new QRadioButton(captions[i], this);
        fieldChoices[i]->setObjectName(QStringLiteral("Option1_%1").arg(i));
        fieldLabels[i] = new QLabel(this);
        fieldLabels[i]->setObjectName(QStringLiteral("Label1_%1").arg(i));
        // The peer's text as one line with its hidden characters shown, never markup or a link
        // that opens by itself.
        fieldLabels[i]->setTextFormat(Qt::PlainText);
        fieldLabels[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        fieldLabels[i]->setText(LineText::visible(values[i]));
        rows->addWidget(fieldChoices[i], i, 0);
        rows->addWidget(fieldLabels[i], i, 1);
    }
    const QString link = webLink(ctx.remoteHomepage);
    openLinkButton = new QPushButton(QStringLiteral("Open"), this);
    openLinkButton->setObjectName(QStringLiteral("OpenLinkButton"));
    openLinkButton->setEnabled(!link.isEmpty());
    openLinkButton->setToolTip(link.isEmpty() ? QStringLiteral("Only http and https links can be opened") : link);
    rows->addWidget(openLinkButton, 2, 2);
    connect(openLinkButton, &QPushButton::clicked, this, [this, link] { openLink(link, this); });

    // The code both sides see for a private connection, to compare by phone.
    connectionCodeLabel = new QLabel(connectionCode.isEmpty() ? QStringLiteral("Not private") : connectionCode, this);
    connectionCodeLabel->setObjectName(QStringLiteral("ConnectionCodeLabel"));
    connectionCodeLabel->setTextFormat(Qt::PlainText);
    connectionCodeLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    rows->addWidget(new QLabel(QStringLiteral("Connection code :"), this), 4, 0);
    rows->addWidget(connectionCodeLabel, 4, 1);

    copyButton = new QPushButton(QStringLiteral("Copy Selected To Clipboard"), this);
    copyButton->setObjectName(QStringLiteral("ClipboardButton"));
    closeButton = new QPushButton(QStringLiteral("Close "), this);
    closeButton->setObjectName(QStringLiteral("CloseButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(copyButton);
    buttons->addStretch();
    buttons->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(rows);
    layout->addLayout(buttons);
    connect(copyButton, &QPushButton::clicked, this, &RemoteUserInfoDialog::copySelected);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
}

QString RemoteUserInfoDialog::webLink(const QString& homepage)
{
    // A home page is often written without its scheme ("www.example.com"): it is a web address.
    // Anything else that names a scheme ("mailto:", "javascript:") stays refused.
    QString text = homepage.trimmed();
    const int colon = text.indexOf(':');
    const bool schemeNamed =
        colon > 0 && !text.left(colon).contains('/') && !(colon + 1 < text.size() && text.at(colon + 1).isDigit());
    if (!text.isEmpty() && !schemeNamed)
        text.prepend(QLatin1String("http://"));
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return {};
    return url.toString();
}

void RemoteUserInfoDialog::copySelected()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    for (int i = 0; i < 4; ++i)
        if (fieldChoices[i]->isChecked())
            clipboard->setText(fieldLabels[i]->text());
}
