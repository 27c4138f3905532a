#include "ui/SiteDetailsPanel.h"

#include "config/Sites.h"
#include "ui/NamedButton.h"
#include "ui/Twips.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

// Boxes whose text goes into the sites file: a character the file cannot hold (";", a line
// break, one outside Windows-1252) is not taken, nor a change that would bring in a marker
// such as "IP="; the notice says which and why.
TypedTextFilter* SiteDetailsPanel::sitesFilter(QLineEdit* box, const QString& what, TypedTextFilter::Notice notice)
{
    return new TypedTextFilter(
        box, [](QChar c) { return SitesFile::storable(QString(c)); },
        QStringLiteral("The sites file holds Windows-1252 text without \";\"."), std::move(notice),
        [what](const QString& text) { return SitesFile::problem(what, text); });
}

SiteDetailsPanel::SiteDetailsPanel(QWidget* parent) : QWidget(parent)
{
    createBoxes();
    layOut();
}

void SiteDetailsPanel::createBoxes()
{
    auto edit = [this](const char* name) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        return e;
    };
    noticeLabel = new QLabel(this);
    noticeLabel->setObjectName(QStringLiteral("NoticeLabel"));
    noticeLabel->setTextFormat(Qt::PlainText);
    noticeLabel->setWordWrap(true);
    noticeLabel->setStyleSheet(QStringLiteral("color: #b00000"));
    const auto notice = [this](const QString& t) { noticeLabel->setText(t); };
    // The name is edited here too; the change renames the site when the box is left.
    nameEdit = edit("NameText");
    nameEdit->setValidator(sitesFilter(nameEdit, QStringLiteral("A name"), notice));
    nameEdit->setToolTip(QStringLiteral("Renames the site when you leave the box (also F2 on the tree)"));
    addressEdit = edit("IpText");
    addressEdit->setValidator(sitesFilter(addressEdit, QStringLiteral("The address"), notice));
    portEdit = edit("PortTExt");
    // Typing is limited to five digits; a stored port is shown and kept as it is.
    portEdit->setValidator(new TypedTextFilter(
        portEdit, [](QChar c) { return c >= '0' && c <= '9'; }, QStringLiteral("A port is typed in digits."), notice,
        [](const QString& t) { return t.size() > 5 ? QStringLiteral("A port has at most five digits") : QString(); }));
    passwordEdit = edit("PasswordText");
    // A password also travels in a login, which cannot carry "ÿ" exactly.
    passwordEdit->setValidator(new TypedTextFilter(
        passwordEdit, [](QChar c) { return c != QChar(0xFF) && SitesFile::storable(QString(c)); },
        QStringLiteral("A password holds Windows-1252 text without \";\" or \"%1\".").arg(QChar(0xFF)), notice,
        [](const QString& text) { return SitesFile::problem(QStringLiteral("The password"), text); }));
    // Shown only while being typed, not to someone looking over a shoulder.
    passwordEdit->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    filePortsEdit = edit("FilePortText");
    filePortsEdit->setReadOnly(true);
    filePortsEdit->setFocusPolicy(Qt::NoFocus);
    filePortsEdit->setText(QStringLiteral("####"));
}

void SiteDetailsPanel::layOut()
{
    auto button = [this](const char* name, const QString& caption) { return namedButton(name, caption, this); };
    connectButton = button("ConnectButton", QStringLiteral("Connect"));
    newSiteButton = button("NewSiteButton", QStringLiteral("New Site"));
    closeButton = button("CloseButton", QStringLiteral("Close"));
    helpButton = button("HelpButton", QStringLiteral("Help"));
    forgetIdentityButton = button("ForgetIdentityButton", QStringLiteral("Forget Identity"));
    identityLabel = new QLabel(this);
    identityLabel->setObjectName(QStringLiteral("IdentityLabel"));

    // The details keep a fixed width at the right edge; the tree takes the rest.
    setFixedWidth(twipsToPixelsX(2850));
    auto* form = new QGridLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    const struct {
        const char* label;
        QLineEdit* box;
    } rows[] = {{"Name", nameEdit},
                {"IP Address", addressEdit},
                {"Port", portEdit},
                {"Password", passwordEdit},
                {"File Ports", filePortsEdit}};
    int row = 0;
    for (const auto& r : rows) {
        auto* label = new QLabel(QLatin1String(r.label), this);
        label->setBuddy(r.box);
        form->addWidget(label, row, 0);
        form->addWidget(r.box, row, 1);
        ++row;
    }
    auto* buttons = new QGridLayout;
    buttons->addWidget(connectButton, 0, 0);
    buttons->addWidget(newSiteButton, 0, 1);
    buttons->addWidget(closeButton, 1, 0);
    buttons->addWidget(helpButton, 1, 1);
    form->addWidget(identityLabel, row++, 0, 1, 2);
    form->addWidget(forgetIdentityButton, row++, 0, 1, 2);
    form->addWidget(noticeLabel, row++, 0, 1, 2);
    form->setRowStretch(row++, 1);
    form->addLayout(buttons, row, 0, 1, 2);
}
