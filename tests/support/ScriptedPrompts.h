#pragma once
#include "transfer/Prompts.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <deque>

// Prompts for tests: every question is recorded; a queued reply of the matching kind answers
// it on the next event-loop turn (as a dialog would), otherwise it stays open until the
// engine withdraws it.
class ScriptedPrompts : public QObject, public Prompts {
    Q_OBJECT
public:
    // Replies used in order for the next questions of each kind.
    std::deque<AcceptReply> acceptReplies;
    std::deque<ExistsReply> existsReplies;
    std::deque<bool> yesNoReplies;
    QList<Id> questions;     // every question asked, oldest first
    QSet<Id> open;           // neither answered nor withdrawn
    QStringList existsNames; // the file name of each existing-file question
    int withdrawnCount() const { return withdrawn; }

    Id askAccept(const AcceptRequest&, AcceptAnswer answer) override { return ask(acceptReplies, std::move(answer)); }
    Id askExisting(const ExistsRequest& request, ExistsAnswer answer) override
    {
        existsNames << request.fileName;
        return ask(existsReplies, std::move(answer));
    }
    Id askYesNo(const YesNoRequest&, YesNoAnswer answer) override { return ask(yesNoReplies, std::move(answer)); }
    void withdraw(Id id) override { withdrawn += open.remove(id) ? 1 : 0; }

Q_SIGNALS:
    void asked();

private:
    template <class Reply, class Answer>
    Id ask(std::deque<Reply>& replies, Answer answer)
    {
        const Id id = questions.size() + 1;
        questions << id;
        open.insert(id);
        if (!replies.empty()) {
            QTimer::singleShot(0, this, [this, id, reply = replies.front(), answer] {
                if (open.remove(id))
                    answer(reply);
            });
            replies.pop_front();
        }
        Q_EMIT asked();
        return id;
    }
    int withdrawn = 0;
};
