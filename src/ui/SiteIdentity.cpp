#include "ui/SiteIdentity.h"

#include "core/LineText.h"
#include "core/PeerState.h"
#include "session/Session.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

SiteIdentity::SiteIdentity(PeerState& c, QLineEdit* address, QLineEdit* port, QLabel* l, QWidget* w)
    : QObject(w), ctx(c), addressBox(address), portBox(port), label(l), window(w)
{
    label->setTextFormat(Qt::PlainText);
    for (QLineEdit* box : {addressBox, portBox})
        connect(box, &QLineEdit::textChanged, this, &SiteIdentity::refresh);
}

void SiteIdentity::addCommand(QPushButton* button)
{
    commands << button;
    connect(button, &QPushButton::clicked, this, &SiteIdentity::askForget);
    refresh();
}

void SiteIdentity::addCommand(QAction* entry)
{
    commands << entry;
    connect(entry, &QAction::triggered, this, &SiteIdentity::askForget);
    refresh();
}

bool SiteIdentity::siteAddress(QString& host, quint16& port) const
{
    host = addressBox->text();
    return !host.isEmpty() && Session::parseControlPort(portBox->text(), port);
}

void SiteIdentity::refresh()
{
    QString host;
    quint16 port = 0;
    const bool known = siteAddress(host, port) && !ctx.knownPeers().siteKey(host, port).isEmpty();
    label->setText(host.isEmpty() ? QString()
                   : known        ? QStringLiteral("Identity : remembered")
                                  : QStringLiteral("Identity : not yet known"));
    for (QObject* c : commands)
        c->setProperty("enabled", known);
}

void SiteIdentity::askForget()
{
    QString host;
    quint16 port = 0;
    if (!siteAddress(host, port) || ctx.knownPeers().siteKey(host, port).isEmpty())
        return;
    auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Forget Identity?"),
                                QStringLiteral("Forget the identity remembered for %1 port %2? The next private "
                                               "connection to it takes whatever identity it presents; compare the "
                                               "connection code with your friend then.")
                                    .arg(LineText::visible(host))
                                    .arg(port),
                                QMessageBox::Yes | QMessageBox::No, window);
    box->setObjectName(QStringLiteral("forgetIdentityQuestion"));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setEscapeButton(QMessageBox::No);
    connect(box, &QMessageBox::finished, this, [this, box, host, port] {
        if (box->clickedButton() != box->button(QMessageBox::Yes))
            return;
        KnownPeers& known = ctx.knownPeers();
        QString problem;
        if (known.forgetSite(host, port) && !known.save(&problem)) {
            auto* told =
                new QMessageBox(QMessageBox::Warning, QStringLiteral("Zantiro"), problem, QMessageBox::Ok, window);
            told->setObjectName(QStringLiteral("saveKnownPeersError"));
            told->setTextFormat(Qt::PlainText);
            told->setAttribute(Qt::WA_DeleteOnClose);
            told->open();
        }
        refresh();
    });
    box->open();
}
