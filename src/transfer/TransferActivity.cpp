#include "transfer/TransferActivity.h"

#include "transfer/TransferRules.h"

#include <QPointer>

#include <algorithm>
#include <climits>

void TransferView::setNames(bool sending, const QString& userName, const QString& fileName)
{
    peerText = TransferRules::cutEnd((sending ? QStringLiteral("To : ") : QStringLiteral("From : ")) + userName, 34);
    fileText = TransferRules::cutEnd(QStringLiteral("File : ") + fileName, 37);
}

void TransferView::setProgress(qint64 done, qint64 size)
{
    int shift = 0;
    while ((size >> shift) > INT_MAX)
        ++shift;
    progressMaximum = static_cast<int>(size >> shift);
    progressValue = static_cast<int>(std::min(done, size) >> shift);
    progressVisible = true;
}

QString TransferView::movedLabel(bool sending)
{
    return sending ? QStringLiteral("Total Sent : ") : QStringLiteral("Total Received : ");
}

QString TransferView::percentOf(qint64 done, qint64 size)
{
    if (size <= 0)
        return QStringLiteral("100%");
    return QString::number(static_cast<qint64>(static_cast<double>(done) / static_cast<double>(size) * 100.0))
           + QStringLiteral("%");
}

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
