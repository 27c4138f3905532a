#include "transfer/TransferActivity.h"

#include <QPointer>

void TransferActivity::requestCancel()
{
    if (!cancellable() || cancelQuestion || askingCancel)
        return;
    askingCancel = true;
    QPointer<TransferActivity> self(this);
    const Prompts::Id id = cancelPrompts().askYesNo(
        {QStringLiteral("Cancel Send?"), QStringLiteral("Are you sure you want to end the file transfer?")},
        [self](bool yes) {
            if (!self)
                return;
            self->askingCancel = false;
            self->cancelQuestion = 0;
            if (yes)
                self->cancelConfirmed();
        });
    if (askingCancel) // not answered at once
        cancelQuestion = id;
    askingCancel = false;
}

void TransferActivity::withdrawCancelQuestion()
{
    if (cancelQuestion)
        cancelPrompts().withdraw(std::exchange(cancelQuestion, 0));
}
