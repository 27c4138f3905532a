#include "ui/SendMessageDialog.h"

#include "session/Session.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

SendMessageDialog::SendMessageDialog(Session& s, QWidget* owner) : QDialog(owner), session(s)
{
    setObjectName(QStringLiteral("dlgmsg"));
    setWindowTitle(QStringLiteral("Send A Message"));
    messageEdit = new QLineEdit(this);
    messageEdit->setObjectName(QStringLiteral("Text1"));
    sendButton = new QPushButton(QStringLiteral("Send"), this);
    sendButton->setObjectName(QStringLiteral("Command1"));
    sendButton->setDefault(true);
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("Command2"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(sendButton);
    buttons->addWidget(cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(messageEdit);
    layout->addLayout(buttons);
    // Room for a sentence and for the whole title beside the window manager's buttons.
    messageEdit->setMinimumWidth(messageEdit->fontMetrics().averageCharWidth() * 50);
    setMinimumWidth(fontMetrics().horizontalAdvance(windowTitle()) + 160);
    connect(sendButton, &QPushButton::clicked, this, &SendMessageDialog::send);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::close);
}

void SendMessageDialog::send()
{
    const QString text = messageEdit->text();
    if (!text.isEmpty()) {
        // Shown here even when the connection has gone meanwhile; the session drops the send then.
        session.sendChat(text);
    }
    close();
}
