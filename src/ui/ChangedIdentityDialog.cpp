#include "ui/ChangedIdentityDialog.h"

#include "core/LineText.h"
#include "ui/NamedButton.h"

#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ChangedIdentityDialog::ChangedIdentityDialog(const QString& host, quint16 port, const QString& code, QWidget* owner)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("changedIdentity"));
    setWindowTitle(QStringLiteral("Identity Changed"));
    messageLabel = new QLabel(this);
    messageLabel->setObjectName(QStringLiteral("ChangedIdentityText"));
    messageLabel->setTextFormat(Qt::PlainText);
    messageLabel->setWordWrap(true);
    messageLabel->setText(
        QStringLiteral("The other side's identity changed since your last connection to %1 port %2, so Zantiro did "
                       "not connect.\n\nIts connection code is now:")
            .arg(LineText::visible(host))
            .arg(port));
    codeLabel = new QLabel(code, this);
    codeLabel->setObjectName(QStringLiteral("ChangedIdentityCode"));
    codeLabel->setTextFormat(Qt::PlainText);
    codeLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont large = codeLabel->font();
    large.setBold(true);
    large.setPointSizeF(large.pointSizeF() * 1.3);
    codeLabel->setFont(large);
    auto* advice = new QLabel(
        QStringLiteral("Call your friend (by phone, or another way you trust) and compare this code with the one their "
                       "Zantiro shows. Accept only when both are the same: a different code can mean that someone "
                       "else is between you."),
        this);
    advice->setObjectName(QStringLiteral("ChangedIdentityAdvice"));
    advice->setWordWrap(true);

    acceptButton = namedButton("AcceptIdentityButton", QStringLiteral("Accept New Identity"), this);
    cancelButton = namedButton("CancelButton", QStringLiteral("Cancel"), this);
    cancelButton->setDefault(true); // Enter does not accept a key by accident
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(acceptButton);
    buttons->addWidget(cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(messageLabel);
    layout->addWidget(codeLabel, 0, Qt::AlignHCenter);
    layout->addWidget(advice);
    layout->addLayout(buttons);
    setMinimumWidth(fontMetrics().averageCharWidth() * 60);

    connect(acceptButton, &QPushButton::clicked, this, [this] {
        close();
        Q_EMIT identityAccepted();
    });
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::close);
}
