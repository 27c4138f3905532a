#include "support/ScriptedPrompts.h"

#include <QTimer>

#include <algorithm>

ScriptedPrompts::Question* ScriptedPrompts::find(Id id)
{
    for (Question& q : questions)
        if (q.id == id)
            return &q;
    return nullptr;
}

Prompts::Id ScriptedPrompts::record(Question q)
{
    q.id = nextId++;
    questions.append(q);
    return q.id;
}

Prompts::Id ScriptedPrompts::askAccept(const AcceptRequest& request, AcceptAnswer answer)
{
    Question q;
    q.kind = Accept;
    q.accept = request;
    const Id id = record(q);
    pending.push_back({id, std::move(answer), {}, {}});
    scheduleIfScripted(Accept);
    Q_EMIT asked(Accept);
    return id;
}

Prompts::Id ScriptedPrompts::askExisting(const ExistsRequest& request, ExistsAnswer answer)
{
    Question q;
    q.kind = Existing;
    q.existing = request;
    const Id id = record(q);
    pending.push_back({id, {}, std::move(answer), {}});
    scheduleIfScripted(Existing);
    Q_EMIT asked(Existing);
    return id;
}

Prompts::Id ScriptedPrompts::askYesNo(const YesNoRequest& request, YesNoAnswer answer)
{
    Question q;
    q.kind = YesNo;
    q.yesNo = request;
    const Id id = record(q);
    pending.push_back({id, {}, {}, std::move(answer)});
    scheduleIfScripted(YesNo);
    Q_EMIT asked(YesNo);
    return id;
}

void ScriptedPrompts::scheduleIfScripted(Kind kind)
{
    // Answer on the next turn of the event loop, as a dialog would.
    switch (kind) {
    case Accept:
        if (!acceptReplies.empty()) {
            const AcceptReply r = acceptReplies.front();
            acceptReplies.pop_front();
            QTimer::singleShot(0, this, [this, r] { answerAccept(r); });
        }
        break;
    case Existing:
        if (!existsReplies.empty()) {
            const ExistsReply r = existsReplies.front();
            existsReplies.pop_front();
            QTimer::singleShot(0, this, [this, r] { answerExisting(r); });
        }
        break;
    case YesNo:
        if (!yesNoReplies.empty()) {
            const bool r = yesNoReplies.front();
            yesNoReplies.pop_front();
            QTimer::singleShot(0, this, [this, r] { answerYesNo(r); });
        }
        break;
    }
}

void ScriptedPrompts::withdraw(Id id)
{
    Question* q = find(id);
    if (!q || !q->open)
        return;
    q->open = false;
    q->withdrawn = true;
    std::erase_if(pending, [id](const Pending& p) { return p.id == id; });
}

bool ScriptedPrompts::answerAccept(const AcceptReply& reply)
{
    for (auto it = pending.begin(); it != pending.end(); ++it) {
        if (!it->accept)
            continue;
        const AcceptAnswer answer = std::move(it->accept);
        find(it->id)->open = false;
        pending.erase(it);
        answer(reply);
        return true;
    }
    return false;
}

bool ScriptedPrompts::answerExisting(const ExistsReply& reply)
{
    for (auto it = pending.begin(); it != pending.end(); ++it) {
        if (!it->existing)
            continue;
        const ExistsAnswer answer = std::move(it->existing);
        find(it->id)->open = false;
        pending.erase(it);
        answer(reply);
        return true;
    }
    return false;
}

bool ScriptedPrompts::answerYesNo(bool yes)
{
    for (auto it = pending.begin(); it != pending.end(); ++it) {
        if (!it->yesNo)
            continue;
        const YesNoAnswer answer = std::move(it->yesNo);
        find(it->id)->open = false;
        pending.erase(it);
        answer(yes);
        return true;
    }
    return false;
}

int ScriptedPrompts::openCount() const
{
    return static_cast<int>(std::count_if(questions.begin(), questions.end(), [](const Question& q) { return q.open; }));
}

int ScriptedPrompts::withdrawnCount() const
{
    return static_cast<int>(
        std::count_if(questions.begin(), questions.end(), [](const Question& q) { return q.withdrawn; }));
}
