#pragma once
#include "transfer/Prompts.h"

#include <QList>
#include <QObject>

#include <deque>

// Prompts for tests: every question is recorded; a queued reply of the matching kind answers
// it on the next event-loop turn (as a dialog would), otherwise it stays pending until the
// test answers it or the engine withdraws it.
class ScriptedPrompts : public QObject, public Prompts {
    Q_OBJECT
public:
    enum Kind { Accept, Existing, YesNo };

    struct Question {
        Id id = 0;
        Kind kind = Accept;
        AcceptRequest accept;
        ExistsRequest existing;
        YesNoRequest yesNo;
        bool open = true;      // neither answered nor withdrawn
        bool withdrawn = false;
    };

    // Replies used in order for the next questions of each kind.
    std::deque<AcceptReply> acceptReplies;
    std::deque<ExistsReply> existsReplies;
    std::deque<bool> yesNoReplies;

    // Every question asked, oldest first.
    QList<Question> questions;

    Id askAccept(const AcceptRequest& request, AcceptAnswer answer) override;
    Id askExisting(const ExistsRequest& request, ExistsAnswer answer) override;
    Id askYesNo(const YesNoRequest& request, YesNoAnswer answer) override;
    void withdraw(Id id) override;

    // Answers the oldest open question of that kind; false when there is none.
    bool answerAccept(const AcceptReply& reply);
    bool answerExisting(const ExistsReply& reply);
    bool answerYesNo(bool yes);

    int openCount() const;
    int withdrawnCount() const;

Q_SIGNALS:
    void asked(int kind);

private:
    struct Pending {
        Id id;
        AcceptAnswer accept;
        ExistsAnswer existing;
        YesNoAnswer yesNo;
    };
    Question* find(Id id);
    Id record(Question q);
    void scheduleIfScripted(Kind kind);
    std::deque<Pending> pending;
    Id nextId = 1;
};
