#include "transfer/PolicyPrompts.h"

#include "core/Context.h"

PolicyPrompts::PolicyPrompts(Context& c) : ctx(c) {}

Prompts::Id PolicyPrompts::askAccept(const AcceptRequest& request, AcceptAnswer answer)
{
    ctx.AddText(declineHint.arg(request.fileName), StatusLine);
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
        ctx.AddText(existsHint.arg(request.fileName), StatusLine);
    answer(reply);
    return nextId++;
}

Prompts::Id PolicyPrompts::askYesNo(const YesNoRequest&, YesNoAnswer answer)
{
    answer(true);
    return nextId++;
}

void PolicyPrompts::withdraw(Id) {}
