#include "transfer/PolicyPrompts.h"

#include "core/Context.h"
#include "session/Session.h"

PolicyPrompts::PolicyPrompts(Context& c, Session& s) : ctx(c), session(s) {}

void PolicyPrompts::hint(const QString& text, const QString& name)
{
    if (session.admitAnswer())
        ctx.AddText(text.arg(name), StatusLine);
}

Prompts::Id PolicyPrompts::askAccept(const AcceptRequest& request, AcceptAnswer answer)
{
    hint(declineHint, request.fileName);
    AcceptReply reply;
    reply.accepted = false;
    reply.folder = request.folder;
    reply.autoAccept = request.autoAccept;
    answer(reply);
    return nextId++;
}

Prompts::Id PolicyPrompts::askExisting(const ExistsRequest& request, ExistsAnswer answer)
{
    ExistsReply reply;
    reply.choice = existsChoice;
    reply.newName = request.fileName;
    if (existsChoice == 5)
        hint(existsHint, request.fileName);
    answer(reply);
    return nextId++;
}

Prompts::Id PolicyPrompts::askYesNo(const YesNoRequest&, YesNoAnswer answer)
{
    answer(true);
    return nextId++;
}

void PolicyPrompts::withdraw(Id) {}
