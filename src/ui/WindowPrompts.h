#pragma once
#include "transfer/Prompts.h"

#include <QHash>
#include <QObject>
#include <QPointer>

class QWidget;

// The transfer questions as modeless windows owned by the main window: "Accept File?"
// (AcceptIt), "File Already Exists" (FAExists) and Yes/No message boxes. Each answers through
// its callback when the user leaves it; a withdrawn question closes without answering.
class WindowPrompts : public QObject, public Prompts {
    Q_OBJECT
public:
    explicit WindowPrompts(QWidget* owner, QObject* parent = nullptr);
    ~WindowPrompts() override;

    Id askAccept(const AcceptRequest& request, AcceptAnswer answer) override;
    Id askExisting(const ExistsRequest& request, ExistsAnswer answer) override;
    Id askYesNo(const YesNoRequest& request, YesNoAnswer answer) override;
    void withdraw(Id id) override;

    // The open question's window, or nullptr (answered, withdrawn or unknown).
    QWidget* window(Id id) const;

private:
    Id track(QWidget* w);

    QPointer<QWidget> owner;
    QHash<Id, QPointer<QWidget>> open;
    Id nextId = 1;
};
