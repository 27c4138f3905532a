#include "transfer/ScriptedPrompts.h"

Prompts::Id ScriptedPrompts::askAccept(const AcceptRequest&, AcceptAnswer) { return nextId++; }
Prompts::Id ScriptedPrompts::askExisting(const ExistsRequest&, ExistsAnswer) { return nextId++; }
Prompts::Id ScriptedPrompts::askYesNo(const YesNoRequest&, YesNoAnswer) { return nextId++; }
void ScriptedPrompts::withdraw(Id) {}
bool ScriptedPrompts::answerAccept(const AcceptReply&) { return false; }
bool ScriptedPrompts::answerExisting(const ExistsReply&) { return false; }
bool ScriptedPrompts::answerYesNo(bool) { return false; }
int ScriptedPrompts::openCount() const { return 0; }
int ScriptedPrompts::withdrawnCount() const { return 0; }
