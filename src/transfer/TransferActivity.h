#pragma once
#include "transfer/Prompts.h"

#include <QObject>
#include <QString>

// What a transfer window shows, built on demand from the transfer's state.
struct TransferView {
    QString title;    // "Sending", "Receiving" or "Resume Receiving"
    QString peerText; // "To : " or "From : " and the peer's name
    QString fileText;
    QString sizeText;
    QString movedText; // "Total Sent : " or "Total Received : "
    QString stateText;
    QString percentText;
    QString rateText;
    QString elapsedText;
    QString timeLeftText;
    int progressMaximum = 0; // scaled so that sizes past 2 GiB fit an int
    int progressValue = 0;
    bool progressVisible = false;
    bool visible = false; // the sender's window stays hidden until the receiver answers
    bool running = true;  // false once finished (the close box may close the view then)

    // The texts every transfer shows alike: to or from whom, and the file.
    void setNames(bool sending, const QString& userName, const QString& fileName);
    // The progress of `done` bytes of `size`, scaled so that sizes past 2 GiB fit an int.
    void setProgress(qint64 done, qint64 size);
    // "Total Sent : " or "Total Received : ".
    static QString movedLabel(bool sending);
    // The whole percent of `done` bytes of `size`; "100%" for an empty file.
    static QString percentOf(qint64 done, qint64 size);
};

// Something a transfer window shows until it ends: one file (FileTransfer), or a run of files
// over connections kept open (TransferRun).
class TransferActivity : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The current texts and progress for a view.
    virtual TransferView view() const = 0;
    // It has ended.
    virtual bool isFinished() const = 0;
    // The Cancel button: asks "Cancel Send?" through the prompts and cancels on Yes.
    void requestCancel();
    // Cancels at once (the user already said Yes).
    virtual void cancelConfirmed() = 0;

Q_SIGNALS:
    // The texts or progress changed, at most a few times a second while bytes move; a change
    // of state at once.
    void viewChanged();
    // It ended; every outcome line has been written.
    void finished();

protected:
    // The questions are asked through these; a cancel is asked about while this is true.
    virtual Prompts& cancelPrompts() = 0;
    virtual bool cancellable() const = 0;
    // Closes an open "Cancel Send?" (the activity ended).
    void withdrawCancelQuestion();

private:
    Prompts::Id cancelQuestion = 0;
    bool askingCancel = false;
};
