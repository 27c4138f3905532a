#include "transfer/HeadlessPrompts.h"

#include "core/PeerState.h"
#include "session/Session.h"

HeadlessPrompts::HeadlessPrompts(PeerState& c, Session& s) : state(c), session(s)
{}

void HeadlessPrompts::hint(const QString& text, const QString& name)
{
    if (session.admitAnswer())
        state.addText(text.arg(name), LineKind::Status);
}

Prompts::Id HeadlessPrompts::askAccept(const AcceptRequest& request, AcceptAnswer answer)
{
    hint(declineHint, request.fileName);
    AcceptReply reply;
    reply.accepted = false;
    reply.folder = request.folder;
    reply.autoAccept = request.autoAccept;
    answer(reply);
    return nextId++;
}

Prompts::Id HeadlessPrompts::askExisting(const ExistsRequest& request, ExistsAnswer answer)
{
    ExistsReply reply;
    reply.choice = existsChoice;
    reply.newName = request.fileName;
    if (existsChoice == ExistingFileChoice::Cancel)
        hint(existsHint, request.fileName);
    answer(reply);
    return nextId++;
}

Prompts::Id HeadlessPrompts::askYesNo(const YesNoRequest&, YesNoAnswer answer)
{
    answer(true);
    return nextId++;
}

void HeadlessPrompts::withdraw(Id)
{}
