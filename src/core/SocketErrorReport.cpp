#include "core/SocketErrorReport.h"

#include "core/PeerState.h"

void reportSocketError(PeerState& state, int number, QString description, const QString& tag, const QString& subject,
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

    const QString numberText = QString::number(number);
    if (tag.isEmpty())
        state.addText(QStringLiteral("*** Error : ") + numberText + QStringLiteral(" - ") + description,
                      LineKind::Error);
    else
        state.addText(QStringLiteral("*** Error : ") + numberText + tag + QStringLiteral(" - ") + description
                          + QStringLiteral(" : ") + subject,
                      LineKind::Error);
    if (!debugText.isEmpty() && state.debugMode)
        state.addText(QStringLiteral("*QVDEBUG* : ") + debugText, LineKind::Error);
}
