#pragma once
#include <QString>

class PeerState;

// Writes a socket error into the panes. A reset by the peer (10054) shows nothing; refused
// connections and unknown hosts get fixed wording. With a tag the line reads
// "*** Error : <number><tag> - <description> : <subject>". In debug mode a second line
// "*QVDEBUG* : <debugText>" follows.
void reportSocketError(PeerState& state, int number, QString description, const QString& tag, const QString& subject,
                       const QString& debugText);
