#pragma once
#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;
class QPushButton;

// The question "Accept File?" for one incoming file: shows its name, size and sender, lets
// the user pick the folder it goes to and turn on automatic acceptance, and answers once.
// Modeless; closing it by its close box (or Esc) declines.
class AcceptOfferDialog : public QDialog {
    Q_OBJECT
public:
    // name is the file's own name (no sub-folders), sizeText its size as offered, from the
    // sender's name, folder the target folder to start with and autoAccept the box's state.
    AcceptOfferDialog(const QString& name, const QString& sizeText, const QString& from, const QString& folder,
                      bool autoAccept, QWidget* owner = nullptr);

    QString targetFolder() const { return folder; }
    // Closes the dialog without answering (the offer went away).
    void withdraw();

    // Texts longer than `limit` characters become "..." and their last `limit - 3`.
    static QString shortenFront(const QString& text, int limit);

Q_SIGNALS:
    // The one answer: accept or decline, with the folder shown and the state of the
    // auto-accept box, both of which the caller takes over in either case.
    void answered(bool accepted, const QString& folder, bool autoAccept);

public Q_SLOTS:
    void reject() override;

private:
    void finish(bool accepted);
    void setFolder(const QString& f);
    void browse();

    QString folder;
    bool done = false;
    QLabel* fileNameLabel;
    QLabel* sizeLabel;
    QLabel* senderLabel;
    QLabel* folderLabel;
    QPushButton* browseButton;
    QCheckBox* autoAcceptCheck;
    QPushButton* acceptButton;
    QPushButton* declineButton;
    QPushButton* helpButton;
};
