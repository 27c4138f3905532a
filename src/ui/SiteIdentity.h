#pragma once
#include <QObject>
#include <QString>

class PeerState;
class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// Whether the key of the site in the site list's boxes is remembered, by the address text and
// the port as they stand there (the client remembers a key by the very text it connected to),
// and the Forget Identity command: after a Yes to "Forget Identity?" the site's key leaves the
// known peers and the file is saved, so that the next private connection takes whatever key
// the site presents. The command is disabled while no key is remembered.
class SiteIdentity : public QObject {
    Q_OBJECT
public:
    SiteIdentity(PeerState& ctx, QLineEdit* addressBox, QLineEdit* portBox, QLabel* label, QWidget* window);

    // The button and the menu entry that forget; enabled while there is something to forget.
    void addCommand(QPushButton* button);
    void addCommand(QAction* entry);

    // Shows the state for the boxes' texts now: "Identity : remembered", "Identity : not yet
    // known", or nothing while the address box is empty (no site shown).
    void refresh();
    // Asks, then forgets.
    void askForget();

private:
    bool siteAddress(QString& host, quint16& port) const;

    PeerState& ctx;
    QLineEdit* addressBox;
    QLineEdit* portBox;
    QLabel* label;
    QWidget* window;
    QList<QObject*> commands;
};
