#include "ui/WindowPrompts.h"

#include "ui/AcceptOfferDialog.h"
#include "ui/AnswerClock.h"
#include "ui/ExistingFileDialog.h"

#include <QMessageBox>
#include <QPushButton>

WindowPrompts::WindowPrompts(QWidget* ownerWindow, QObject* parent) : QObject(parent), owner(ownerWindow)
{}

WindowPrompts::~WindowPrompts()
{
    // Questions still open have nobody left to answer to.
    for (const QPointer<QWidget>& w : std::as_const(open))
        if (w)
            w->deleteLater();
}

Prompts::Id WindowPrompts::track(QWidget* w)
{
    const Id id = nextId++;
    open.insert(id, w);
    return id;
}

QWidget* WindowPrompts::window(Id id) const
{
    return open.value(id);
}

Prompts::Id WindowPrompts::askAccept(const AcceptRequest& request, AcceptAnswer answer)
{
    auto* dialog = new AcceptOfferDialog(request.fileName, request.sizeText, request.from, request.folder,
                                         request.autoAccept, owner);
    AnswerClock::attach(dialog, request.answerBy);
    const Id id = track(dialog);
    connect(dialog, &AcceptOfferDialog::answered, this,
            [this, id, answer = std::move(answer)](bool accepted, const QString& folder, bool autoAccept) {
                open.remove(id);
                AcceptReply reply;
                reply.accepted = accepted;
                reply.folder = folder;
                reply.autoAccept = autoAccept;
                answer(reply);
            });
    dialog->show();
    return id;
}

Prompts::Id WindowPrompts::askExisting(const ExistsRequest& request, ExistsAnswer answer)
{
    auto* dialog = new ExistingFileDialog(request.fileName, owner);
    dialog->showFiles(request.existingPath, request.offeredSize);
    AnswerClock::attach(dialog, request.answerBy);
    const Id id = track(dialog);
    connect(dialog, &ExistingFileDialog::answered, this,
            [this, id, answer = std::move(answer)](int choice, bool always, const QString& newName) {
                open.remove(id);
                ExistsReply reply;
                reply.choice = static_cast<ExistingFileChoice>(choice);
                reply.always = always;
                reply.newName = newName;
                answer(reply);
            });
    dialog->show();
    return id;
}

Prompts::Id WindowPrompts::askYesNo(const YesNoRequest& request, YesNoAnswer answer)
{
    auto* box =
        new QMessageBox(QMessageBox::Question, request.title, request.text, QMessageBox::Yes | QMessageBox::No, owner);
    box->setObjectName(QStringLiteral("YesNo"));
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No); // the close box answers No
    box->setAttribute(Qt::WA_DeleteOnClose);
    const Id id = track(box);
    connect(box, &QMessageBox::finished, this, [this, id, box, answer = std::move(answer)](int) {
        if (!open.contains(id))
            return; // withdrawn
        open.remove(id);
        answer(box->clickedButton() == box->button(QMessageBox::Yes));
    });
    box->setWindowModality(Qt::NonModal);
    box->show();
    return id;
}

void WindowPrompts::withdraw(Id id)
{
    const QPointer<QWidget> w = open.take(id);
    if (!w)
        return;
    if (auto* accept = qobject_cast<AcceptOfferDialog*>(w.data()))
        accept->withdraw();
    else if (auto* exists = qobject_cast<ExistingFileDialog*>(w.data()))
        exists->withdraw();
    else
        w->close();
}
