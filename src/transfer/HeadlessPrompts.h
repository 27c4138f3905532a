#pragma once
#include "transfer/Prompts.h"

class PeerState;
class Session;

// Prompts with fixed answers, for the headless peer: an offer that reaches the accept question
// is declined, an existing file of another size is refused, Yes/No answers Yes. Each refusal
// writes a status line that tells the user how to change the answer (the hint texts).
class HeadlessPrompts : public Prompts {
public:
    // The hints share the session's rate of answers, so a flood of offers writes few lines.
    HeadlessPrompts(PeerState& state, Session& session);

    // Status lines for the two refusals; "%1" is replaced by the file name.
    QString declineHint = QStringLiteral("*** Declined : %1 - turn autoAccept on to accept offered files");
    QString existsHint = QStringLiteral("*** File Already Exists : %1 - set existingFileDefault to decide "
                                        "(1 overwrite, 2 resume, 3 rename)");
    // The answer to the existing-file question.
    ExistingFileChoice existsChoice = ExistingFileChoice::Cancel;

    Id askAccept(const AcceptRequest& request, AcceptAnswer answer) override;
    Id askExisting(const ExistsRequest& request, ExistsAnswer answer) override;
    Id askYesNo(const YesNoRequest& request, YesNoAnswer answer) override;
    void withdraw(Id id) override;

private:
    void hint(const QString& text, const QString& name);
    PeerState& state;
    Session& session;
    Id nextId = 1;
};
