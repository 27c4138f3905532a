#pragma once
#include <QDeadlineTimer>
#include <QString>

#include "transfer/ExistingFileChoice.h"

#include <functional>

// Questions the transfer side puts to the user. Every question answers later, by callback;
// nothing here waits. The windows implement this with modeless dialogs, the tests with
// scripted answers (ScriptedPrompts) and the headless peer with fixed answers (HeadlessPrompts).
//
// Rules for implementations:
// - Each ask returns an id (never 0). The answer callback is called at most once.
// - withdraw(id) closes the question without an answer: the callback is then never called.
//   The engine withdraws a question as soon as the transfer it belongs to ends.
// - Closing a dialog by its close box is the negative answer (declined, Cancel, No).
// - An implementation may answer from inside the ask call itself; the engine copes with that.
class Prompts {
public:
    using Id = quint64;

    // "Accept File?": shown for an offer unless autoAccept is on.
    struct AcceptRequest {
        QString fileName;                                 // the offered name's last part (after the last "\")
        QString sizeText;                                 // the offered size as text
        QString from;                                     // remoteName
        QString folder;                                   // the target folder to start with (downloadFolder)
        bool autoAccept = false;                          // the current autoAccept, for the check box
        QDeadlineTimer answerBy{QDeadlineTimer::Forever}; // when the sender gives up waiting
    };
    struct AcceptReply {
        bool accepted = false;   // "Accept It!" (false: "Decline!" or closed)
        QString folder;          // the target folder shown when the dialog was left; becomes downloadFolder
        bool autoAccept = false; // "Auto Accept Files From Now On" was checked
    };

    // "File Already Exists": the target exists with another size.
    struct ExistsRequest {
        QString fileName;                                 // the name shown in the text box (ExistsNewName)
        QDeadlineTimer answerBy{QDeadlineTimer::Forever}; // when the sender gives up waiting
        QString existingPath{};                           // the file already there
        qint64 offeredSize = -1;                          // the size the sender offers
    };
    struct ExistsReply {
        ExistingFileChoice choice = ExistingFileChoice::Cancel;
        bool always = false; // "Always ... From Now On" was checked (only with Overwrite, Resume, NumberedName)
        QString newName;     // the typed name, for TypedName
    };

    // A Yes/No question such as "Cancel Send?" / "Are you sure you want to end the file transfer?".
    struct YesNoRequest {
        QString title;
        QString text;
    };

    using AcceptAnswer = std::function<void(const AcceptReply&)>;
    using ExistsAnswer = std::function<void(const ExistsReply&)>;
    using YesNoAnswer = std::function<void(bool yes)>;

    virtual ~Prompts() = default;

    virtual Id askAccept(const AcceptRequest& request, AcceptAnswer answer) = 0;
    virtual Id askExisting(const ExistsRequest& request, ExistsAnswer answer) = 0;
    virtual Id askYesNo(const YesNoRequest& request, YesNoAnswer answer) = 0;
    // Closes the question without answering; unknown or answered ids are ignored.
    virtual void withdraw(Id id) = 0;
};
