#include "transfer/OfferDecision.h"

#include "core/PeerState.h"
#include "session/Session.h"
#include "transfer/ChecksumExchange.h"
#include "transfer/SendingRun.h"
#include "transfer/TransferRules.h"
#include "util/FileSystem.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

// One offer while it is being decided, and where its decision stands.
struct OfferDecision::PendingOffer : IncomingOffer {
    enum Phase { WaitingBusy, AskingAccept, AskingExists, Checking, Done };
    Phase phase = WaitingBusy;
    Prompts::Id question = 0;
    quint64 serial = 0;
    QDeadlineTimer answerBy; // the sender waits this long from its offer for our connection
    bool differs = false;    // a file of the offered size is here, with other content
    // What is at the target when the offer was decided, for the acceptance that follows in
    // the same turn (looked at again after a question or a checksum comparison).
    OfferTarget::Entry target;
};

namespace {

const QString kVerify = QStringLiteral("verify");
const QString kRun = QStringLiteral("run");

QString refusedLine(const QString& wire, const QString& why)
{
    return QStringLiteral("*** Error : Refused File \"%1\" - %2").arg(wire, why);
}

} // namespace

OfferDecision::OfferDecision(PeerState& c, Session& s, ChecksumExchange& sums, Host& h, Bounds b)
    : state(c), session(s), checksums(sums), host(h), bounds(b)
{
    busyTimer.setSingleShot(true);
    connect(&busyTimer, &QTimer::timeout, this, [this] {
        // The running transfer is not ours to disturb: only this offer is refused. The
        // sender gives up at its own bound and offers again; a refusal from here could reach
        // it after that and end the new offer instead.
        if (waiting())
            endWaiting(QStringLiteral("Timed Out"), TransferEndCode::TimedOut);
    });
}

OfferDecision::~OfferDecision() = default;

bool OfferDecision::waiting() const
{
    return pendingOffer && pendingOffer->phase == PendingOffer::WaitingBusy;
}

void OfferDecision::endWaiting(const QString& reason, TransferEndCode endCode)
{
    busyTimer.stop();
    const QString name = std::exchange(pendingOffer, nullptr)->wire;
    endOffer(name, reason, {}, endCode);
}

void OfferDecision::withdrawQuestion()
{
    if (pendingOffer && pendingOffer->question)
        host.prompts().withdraw(pendingOffer->question);
}

void OfferDecision::cancel()
{
    // The busy wait's timer runs only while the offer waits, and endWaiting stops it.
    if (waiting())
        endWaiting(QStringLiteral("Canceled"), TransferEndCode::Canceled);
    else
        refuse(QStringLiteral("Canceled")); // nothing when no offer is being decided
}

void OfferDecision::onDisconnected()
{
    if (waiting())
        endWaiting(QStringLiteral("Disconnected"), TransferEndCode::Disconnected);
    else if (pendingOffer && pendingOffer->phase != PendingOffer::Done)
        refuse(QStringLiteral("Disconnected"));
}

bool OfferDecision::senderGaveUp()
{
    if (!pendingOffer)
        return false;
    if (pendingOffer->run)
        return true; // a run's offers are not ended by a single offer's notice
    if (waiting())
        endWaiting(QStringLiteral("Timed Out"), TransferEndCode::TimedOut);
    else
        state.setTransferEndCode(TransferEndCode::TimedOut);
    return true;
}

void OfferDecision::onEndCodeChanged(TransferEndCode code)
{
    // A question still open when the offer ends elsewhere (the sender gave up, the user
    // disconnected) is withdrawn and the offer refused.
    if (code == TransferEndCode::None || !pendingOffer)
        return;
    const auto phase = pendingOffer->phase;
    if (phase != PendingOffer::AskingAccept && phase != PendingOffer::AskingExists && phase != PendingOffer::Checking)
        return;
    refuse({});
}

void OfferDecision::decideAfterTransfer()
{
    if (!waiting())
        return;
    busyTimer.stop();
    QTimer::singleShot(0, this, [this] {
        if (waiting() && !host.slotTaken())
            decide();
    });
}

void OfferDecision::decideWaiting()
{
    if (!waiting())
        return;
    busyTimer.stop();
    decide();
}

void OfferDecision::dropRunOffer()
{
    if (!pendingOffer || !pendingOffer->run)
        return;
    busyTimer.stop();
    checksums.stop();
    if (pendingOffer->question)
        host.prompts().withdraw(pendingOffer->question);
    pendingOffer.reset();
    state.transferBusy = false;
}

void OfferDecision::decideRunOffer(const ReceivingRun::Offered& offered, const QStringList& parts,
                                   const QString& problem)
{
    if (!problem.isEmpty()) {
        endOffer(offered.wire, {}, refusedLine(offered.wire, QStringLiteral("unsafe name (") + problem + ')'),
                 TransferEndCode::None, offered.number);
        return;
    }
    auto offer = std::make_unique<PendingOffer>();
    offer->parts = parts;
    offer->wire = offered.wire;
    offer->size = offered.size;
    offer->sizeText = QString::number(offered.size);
    offer->block = offered.block;
    offer->run = offered.number;
    offer->serial = ++nextSerial;
    offer->answerBy = QDeadlineTimer(bounds.acceptMs);
    pendingOffer = std::move(offer);
    decide();
}

// ---- one offer ----

void OfferDecision::receive(const QString& name, const QString& sizeText, const QString& blockText,
                            const QString& hostIP, const QString& portText)
{
    auto bad = [&](const QString& why) { endOffer(name, {}, refusedLine(name, why), TransferEndCode::None); };
    auto offer = std::make_unique<PendingOffer>();
    if (QString why; !offer->read(name, sizeText, blockText, portText, why))
        return bad(why);
    if (pendingOffer)
        return bad(host.slotTaken() ? QStringLiteral("a transfer is running and another offer waits for it")
                                    : QStringLiteral("another offer is still being decided"));
    offer->wire = name;
    offer->sizeText = sizeText;
    offer->host = hostIP;
    if (session.shares(QStringLiteral("token")))
        offer->token = session.offerToken();
    offer->opensRun = session.offerOpensRun() && session.shares(kRun);
    offer->serial = ++nextSerial;
    offer->answerBy = QDeadlineTimer(bounds.acceptMs);
    pendingOffer = std::move(offer);
    if (host.slotTaken()) {
        // One transfer at a time: this offer waits for the running one, within a bound. A run
        // of ours with nothing in it gives way at once.
        if (SendingRun* r = host.sendingRun(); r && r->idle())
            r->closeWhenDone();
        busyTimer.start(bounds.busyWaitMs);
        return;
    }
    decide();
}

void OfferDecision::decide()
{
    PendingOffer& o = *pendingOffer;
    o.phase = PendingOffer::Done;
    state.setTransferEndCode(TransferEndCode::None);
    state.transferBusy = true;

    const QString root = FileSystem::withTrailingSlash(state.options.downloadFolder);
    const QString path = root + o.parts.join('/');
    // A run's files mostly go into the folder of the file before, which the run keeps open:
    // the look is made there, in the folder the file would be written to.
    const ReceivingRun* r = o.run ? host.receivingRun() : nullptr;
    const QString& leaf = o.parts.last();
    const int dir = r ? r->openFolder().descriptorFor(root, path.chopped(leaf.size())) : -1;
    o.target = dir >= 0 ? OfferTarget::lookAt(path, dir, leaf) : OfferTarget::lookAt(path);
    if (o.target.file && o.target.size == o.size && TransferRules::staysInside(root, o.target.path)) {
        if (!session.shares(kVerify)) {
            answerHaveFile();
            return;
        }
        // The same size is not yet the same file: the checksums decide.
        compareWithSender(o.target.path, o.size, [this](bool same) {
            if (same)
                return answerHaveFile();
            pendingOffer->differs = true;
            pendingOffer->target = {}; // looked at again once accepted
            askAccept();
        });
        return;
    }
    askAccept();
}

void OfferDecision::askAccept()
{
    PendingOffer& o = *pendingOffer;
    if (state.options.autoAccept) {
        afterAccept();
        return;
    }
    o.target = {}; // the target may change while the question waits
    Prompts::AcceptRequest request;
    request.fileName = o.parts.last();
    request.sizeText = o.sizeText;
    request.from = state.remoteName;
    request.folder = state.options.downloadFolder;
    request.autoAccept = state.options.autoAccept;
    request.answerBy = o.answerBy;
    o.phase = PendingOffer::AskingAccept;
    const quint64 serial = o.serial;
    QPointer<OfferDecision> self(this);
    const Prompts::Id id = host.prompts().askAccept(request, [self, serial](const Prompts::AcceptReply& r) {
        if (!self || !self->pendingOffer || self->pendingOffer->serial != serial
            || self->pendingOffer->phase != PendingOffer::AskingAccept)
            return;
        OfferDecision& t = *self;
        t.pendingOffer->phase = PendingOffer::Done;
        t.pendingOffer->question = 0;
        if (!r.folder.isEmpty())
            t.state.options.downloadFolder = r.folder;
        if (r.autoAccept)
            t.state.options.autoAccept = true;
        if (!r.accepted || t.state.transferEndCode() != TransferEndCode::None) {
            t.refuse(r.accepted ? QString() : QStringLiteral("Canceled"));
            return;
        }
        t.afterAccept();
    });
    if (pendingOffer && pendingOffer->serial == serial && pendingOffer->phase == PendingOffer::AskingAccept)
        pendingOffer->question = id;
}

void OfferDecision::answerHaveFile()
{
    const quint64 runNumber = pendingOffer->run;
    if (ReceivingRun* r = host.receivingRun(); r && runNumber)
        r->answerHave(runNumber);
    else if (!runNumber)
        session.sendControlMessage(QStringLiteral("HaveFile"));
    const QString name = pendingOffer->wire;
    pendingOffer.reset();
    state.setTransferEndCode(TransferEndCode::ReceiverHasFile);
    state.transferBusy = false;
    TransferOutcome out;
    out.name = name;
    out.endCode = TransferEndCode::ReceiverHasFile;
    host.offerEnded(out);
    if (runNumber)
        host.runOfferAnswered();
}

void OfferDecision::afterAccept()
{
    PendingOffer& o = *pendingOffer;
    QString dir = state.options.downloadFolder;
    // While a run keeps a folder below the download folder open, that folder is there (or
    // was just removed: the file then fails to open, the run lets the folder go, and the
    // next file makes it again).
    const ReceivingRun* r = o.run ? host.receivingRun() : nullptr;
    const bool kept = r && r->openFolder().keepsBelow(FileSystem::withTrailingSlash(dir));
    if (!kept && !FileSystem::folderExists(dir) && !FileSystem::makePath(dir)) {
        dir = QDir(state.programFolder).filePath(QStringLiteral("download"));
        state.options.downloadFolder = dir;
        FileSystem::makePath(dir);
    }
    o.root = FileSystem::withTrailingSlash(dir);
    QString problem;
    if (!offerTarget.checkFolders(o.root, o.parts, o.run != 0, o.folder, problem))
        return refuse(QStringLiteral("Canceled"), refusedLine(o.wire, problem));
    const QString path = o.folder + o.parts.last();
    const OfferTarget::Entry there = o.target.path == path ? std::exchange(o.target, {}) : OfferTarget::lookAt(path);
    if (there.present) {
        if (problem = OfferTarget::problemAt(o.root, there); !problem.isEmpty())
            return refuse(QStringLiteral("Canceled"), refusedLine(o.wire, problem));
        if (there.size == o.size && !o.differs) {
            if (!session.shares(kVerify))
                return answerHaveFile();
            return compareWithSender(path, o.size, [this](bool same) {
                if (same)
                    return answerHaveFile();
                pendingOffer->differs = true;
                decideExisting();
            });
        }
        decideExisting();
        return;
    }
    startReceiving();
}

void OfferDecision::decideExisting()
{
    // The option file keeps the choice as its number; 1 to 3 stand, anything else asks.
    const int always = state.options.existingFileDefault;
    if (always >= 1 && always <= 3)
        startWith(static_cast<ExistingFileChoice>(always));
    else
        askExisting();
}

void OfferDecision::startWith(ExistingFileChoice choice)
{
    PendingOffer& o = *pendingOffer;
    o.existsChoice = choice;
    const QString target = o.folder + o.parts.last();
    const qint64 at = TransferRules::resumeOffset(QFileInfo(target).size(), o.block, o.size);
    if (choice != ExistingFileChoice::Resume || at == 0 || !session.shares(kVerify))
        return startReceiving();
    // Resumed only onto a part that is the sender's own beginning; anything else is received
    // from the start instead of being mixed with it.
    compareWithSender(target, at, [this](bool same) {
        if (!same) {
            pendingOffer->existsChoice = ExistingFileChoice::Overwrite;
            state.addText(QStringLiteral("*** The partial file differs from the one offered - receiving it from the "
                                         "start : ")
                              + pendingOffer->wire,
                          LineKind::Status);
        }
        startReceiving();
    });
}

void OfferDecision::compareWithSender(const QString& path, qint64 length, std::function<void(bool)> then)
{
    PendingOffer& o = *pendingOffer;
    o.phase = PendingOffer::Checking;
    const quint64 serial = o.serial;
    checksums.compare(o.wire, path, length, bounds.checkWaitMs, [this, serial, then = std::move(then)](bool same) {
        if (!pendingOffer || pendingOffer->serial != serial || pendingOffer->phase != PendingOffer::Checking)
            return;
        pendingOffer->phase = PendingOffer::Done;
        then(same);
    });
}

void OfferDecision::askExisting()
{
    PendingOffer& o = *pendingOffer;
    o.phase = PendingOffer::AskingExists;
    const quint64 serial = o.serial;
    QPointer<OfferDecision> self(this);
    Prompts::ExistsRequest request;
    request.fileName = o.parts.last();
    request.existingPath = o.folder + o.parts.last();
    request.offeredSize = o.size;
    request.answerBy = o.answerBy;
    const Prompts::Id id = host.prompts().askExisting(request, [self, serial](const Prompts::ExistsReply& r) {
        if (!self || !self->pendingOffer || self->pendingOffer->serial != serial
            || self->pendingOffer->phase != PendingOffer::AskingExists)
            return;
        self->answerExisting(r);
    });
    if (pendingOffer && pendingOffer->serial == serial && pendingOffer->phase == PendingOffer::AskingExists)
        pendingOffer->question = id;
}

void OfferDecision::answerExisting(const Prompts::ExistsReply& r)
{
    PendingOffer& p = *pendingOffer;
    p.phase = PendingOffer::Done;
    p.question = 0;
    const int number = static_cast<int>(r.choice);
    const ExistingFileChoice choice = state.transferEndCode() != TransferEndCode::None || number < 1 || number > 5
                                          ? ExistingFileChoice::Cancel
                                          : r.choice;
    if (r.always && number >= 1 && number <= 3 && choice != ExistingFileChoice::Cancel)
        state.options.existingFileDefault = number;
    if (choice == ExistingFileChoice::Cancel)
        return refuse(state.transferEndCode() == TransferEndCode::None
                              || state.transferEndCode() == TransferEndCode::Canceled
                          ? QStringLiteral("Canceled")
                          : QString());
    if (choice == ExistingFileChoice::TypedName && !takeTypedName(r.newName))
        return;
    startWith(choice);
}

bool OfferDecision::takeTypedName(const QString& name)
{
    PendingOffer& p = *pendingOffer;
    const QString problem = TransferRules::checkPlainName(name);
    if (!problem.isEmpty()) {
        refuse(QStringLiteral("Canceled"),
               refusedLine(p.wire, QStringLiteral("the typed name \"%1\" is unusable (%2)").arg(name, problem)));
        return false;
    }
    const QFileInfo typed(p.folder + name);
    if (typed.exists() || typed.isSymLink()) {
        // Never written over unasked: a name other than the one asked about is asked about
        // in turn; the same name again is refused.
        if (name == p.parts.last()) {
            refuse(QStringLiteral("Canceled"),
                   refusedLine(p.wire, QStringLiteral("the typed name \"%1\" already exists").arg(name)));
            return false;
        }
        p.parts.last() = name;
        askExisting();
        return false;
    }
    p.newName = name;
    return true;
}

void OfferDecision::startReceiving()
{
    PendingOffer& o = *pendingOffer;
    if (o.run) {
        const TargetFile::Request request = o.request();
        const quint64 number = o.run;
        const QString wire = o.wire;
        pendingOffer.reset();
        state.transferBusy = false;
        host.receiveInRun(number, wire, request);
        host.runOfferAnswered();
        return;
    }
    FileTransfer::Setup setup = o.setup(state.remoteName);
    pendingOffer.reset();
    host.startReceiver(setup);
}

void OfferDecision::refuse(const QString& givenReason, const QString& errorLine)
{
    if (!pendingOffer)
        return;
    PendingOffer& o = *pendingOffer;
    o.phase = PendingOffer::Done;
    checksums.stop();
    if (o.question)
        host.prompts().withdraw(std::exchange(o.question, 0));
    const QString name = o.wire;
    const quint64 runNumber = o.run;
    pendingOffer.reset();
    if (state.transferEndCode() == TransferEndCode::None)
        state.setTransferEndCode(TransferEndCode::Canceled);
    const QString reason = !givenReason.isEmpty()                                 ? givenReason
                           : state.transferEndCode() == TransferEndCode::Canceled ? QStringLiteral("Canceled")
                                                                                  : QStringLiteral("Timed Out");
    state.transferBusy = false;
    endOffer(name, reason, errorLine, state.transferEndCode(), runNumber);
}

void OfferDecision::endOffer(const QString& name, const QString& reason, const QString& errorLine,
                             TransferEndCode endCode, quint64 runNumber)
{
    // A run's sender waits for every answer, in order: it always gets one.
    if (ReceivingRun* r = host.receivingRun(); r && runNumber)
        r->answerRefused(runNumber);
    // No peer has offers refused hundreds of times a second: beyond the answers' rate a flood
    // of them ends unanswered (a single offer) and without lines.
    if (session.admitAnswer()) {
        if (!errorLine.isEmpty())
            state.addText(errorLine, LineKind::Error);
        // A sender that gave up ("FTIMEOUT") needs no answer; a late "CANC_TRAN" would end
        // the next file it offers instead. Without a connection nothing is sent.
        if (!runNumber && endCode != TransferEndCode::TimedOut)
            session.sendControlMessage(QStringLiteral("CANC_TRAN"));
        if (!reason.isEmpty())
            state.addText(QStringLiteral("*** File Transfer ") + reason + QStringLiteral(" : ") + name,
                          LineKind::Status);
    }
    TransferOutcome out;
    out.name = name;
    out.endCode = endCode;
    host.offerEnded(out);
    if (runNumber)
        host.runOfferAnswered();
}
