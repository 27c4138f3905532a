#include "core/SocketErrorReport.h"

#include "core/PeerState.h"

void reportSocketError(PeerState& ctx, int number, QString description, const QString& tag, const QString& subject,
                       const QString& debugText)
{
    if (number == 10054)
        description.clear();
    else if (number == 10061)
        description = QStringLiteral("Cannot Connect To Server - (Has Server Started?)");
    else if (number == 11001)
        description = QStringLiteral("Host Not Found");
    if (description.isEmpty())
        return;

    const QString num = QString::number(number);
    if (tag.isEmpty())
        ctx.addText(QStringLiteral("*** Error : ") + num + QStringLiteral(" - ") + description, LineKind::Error);
    else
        ctx.addText(QStringLiteral("*** Error : ") + num + tag + QStringLiteral(" - ") + description
                        + QStringLiteral(" : ") + subject,
                    LineKind::Error);
    if (!debugText.isEmpty() && ctx.debugMode)
        ctx.addText(QStringLiteral("*QVDEBUG* : ") + debugText, LineKind::Error);
}
