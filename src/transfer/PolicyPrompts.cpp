#include "transfer/PolicyPrompts.h"

#include "app/Context.h"

PolicyPrompts::PolicyPrompts(Context& c) : ctx(c) {}
Prompts::Id PolicyPrompts::askAccept(const AcceptRequest&, AcceptAnswer) { return nextId++; }
Prompts::Id PolicyPrompts::askExisting(const ExistsRequest&, ExistsAnswer) { return nextId++; }
Prompts::Id PolicyPrompts::askYesNo(const YesNoRequest&, YesNoAnswer) { return nextId++; }
void PolicyPrompts::withdraw(Id) {}
