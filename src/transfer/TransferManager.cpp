#include "transfer/TransferManager.h"

#include "core/PeerState.h"
#include "session/Session.h"
#include "transfer/FileReceiver.h"
#include "transfer/FileSender.h"
#include "transfer/HeadlessPrompts.h"
#include "transfer/ReceivingRun.h"
#include "transfer/SendingRun.h"
#include "transfer/TransferRules.h"
#include "util/FileSystem.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// What is at one path.
struct TargetEntry {
    QString path;
    bool present = false; // something is there, a link (even a broken one) included
    bool link = false;
    bool folder = false; // where a link leads
    bool file = false;
    qint64 size = 0;
};

// One look at `path`, or at `leaf` in the open folder `dir` (one component to resolve, not
// the whole path; `path` is what the entry is reported under): a link is followed for its
// kind and size. Two system calls at most, where several QFileInfo questions would make one
// each.
TargetEntry lookAt(const QString& path, int dir = AT_FDCWD, const QString& leaf = {})
{
    TargetEntry e;
    e.path = path;
    const QByteArray name = QFile::encodeName(dir == AT_FDCWD ? path : leaf);
    struct stat st {};
    if (::fstatat(dir, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return e;
    e.present = true;
    e.link = S_ISLNK(st.st_mode);
    if (e.link && ::fstatat(dir, name.constData(), &st, 0) != 0)
        return e; // a broken link: neither file nor folder
    e.folder = S_ISDIR(st.st_mode);
    e.file = S_ISREG(st.st_mode);
    e.size = st.st_size;
    return e;
}

} // namespace

// One offer while it is being decided.
struct TransferManager::PendingOffer {
    enum Phase { WaitingBusy, AskingAccept, AskingExists, Checking, Done };
    QString wire;      // the name as offered
    QStringList parts; // its components
    QString sizeText;
    qint64 size = 0;
    qint64 block = 512;
    QString host; // where a single offer's transfer connects (a run has its connections)
    quint16 port = 0;
    QString root;   // the download folder the name is placed below
    QString folder; // the target folder, ending in "/"
    ExistingFileChoice existsChoice = ExistingFileChoice::None;
    QString newName;
    Phase phase = WaitingBusy;
    Prompts::Id question = 0;
    quint64 serial = 0;
    QDeadlineTimer answerBy; // the sender waits this long from its offer for our connection
    QByteArray token;        // announced with "ftoken:" before the offer
    bool differs = false;    // a file of the offered size is here, with other content
    bool opensRun = false;   // announced with "frun"
    quint64 run = 0;         // the offer's number in the open run of files (0: a single offer)
    // What is at the target when the offer was decided, for the acceptance that follows in
    // the same turn (looked at again after a question or a checksum comparison).
    TargetEntry target;
};

namespace {

const QString kVerify = QStringLiteral("verify");
const QString kRun = QStringLiteral("run");

} // namespace

TransferManager::TransferManager(PeerState& c, Session& s)
    : state(c), session(s), currentPrompts(std::make_unique<HeadlessPrompts>(c, s)), checksums(s), names(s)
{
    busyTimer.setSingleShot(true);
    connect(&busyTimer, &QTimer::timeout, this, [this] {
        if (pendingOffer && pendingOffer->phase == PendingOffer::WaitingBusy) {
            // The running transfer is not ours to disturb: only this offer is refused.
            // The sender gives up at its own bound and offers again; a refusal from here
            // could reach it after that and end the new offer instead.
            const QString name = std::exchange(pendingOffer, nullptr)->wire;
            endOffer(name, QStringLiteral("Timed Out"), {}, TransferEndCode::TimedOut);
        }
    });
    graceTimer.setSingleShot(true);
    connect(&graceTimer, &QTimer::timeout, this, &TransferManager::readyToOffer);
    runDecideTimer.setSingleShot(true);
    connect(&runDecideTimer, &QTimer::timeout, this, &TransferManager::decideRunOffers);
    runGoneTimer.setSingleShot(true);
    connect(&runGoneTimer, &QTimer::timeout, this, [this] {
        if (run && !run->isFinished())
            run->endNow(TransferEndCode::Disconnected);
    });
    connect(&session, &Session::checksumAsked, this, &TransferManager::onChecksumAsked);
    connect(&session, &Session::extensionsChanged, this, [this] {
        if (!pausing() && !awaitingPeerCaps())
            Q_EMIT readyToOffer();
    });
    connect(&session, &Session::transferMessage, this, &TransferManager::onTransferMessage);
    connect(&state, &PeerState::transferEndCodeChanged, this, &TransferManager::onEndCodeChanged);
    connect(&session, &Session::fileOffered, this, &TransferManager::receiveOffer);
    // Without the control connection no "FTIMEOUT" can end an open question: end it here.
    connect(&session, &Session::connectionStateChanged, this, [this](Session::State state) {
        // A run belongs to the login it was opened in: nothing more goes to, or is taken
        // from, a peer that has gone (another may log in next).
        // A peer that leaves ends our run too, but the answers it sent before leaving may
        // still be on the run's own connection, seen after the end of the login: our run
        // takes them first (offering nothing more), within a bound.
        if (state == Session::State::Idle && run && !run->isFinished()) {
            if (SendingRun* r = sendingRun(); r && runGoneMs > 0 && r->peerLeft())
                runGoneTimer.start(runGoneMs);
            else
                run->endNow(TransferEndCode::Disconnected);
        }
        if (state != Session::State::Idle || !pendingOffer)
            return;
        if (pendingOffer->phase == PendingOffer::WaitingBusy) {
            busyTimer.stop();
            const QString name = std::exchange(pendingOffer, nullptr)->wire;
            endOffer(name, QStringLiteral("Disconnected"), {}, TransferEndCode::Disconnected);
        } else if (pendingOffer->phase != PendingOffer::Done) {
            refuse(QStringLiteral("Disconnected"));
        }
    });
}

TransferManager::~TransferManager()
{
    if (pendingOffer && pendingOffer->question)
        currentPrompts->withdraw(pendingOffer->question);
    if (active)
        active->disconnect(this);
    active.reset(); // before the prompts it may still withdraw a question from
    if (run)
        run->disconnect(this);
    run.reset();
}

void TransferManager::setPrompts(std::unique_ptr<Prompts> prompts)
{
    if (prompts)
        currentPrompts = std::move(prompts);
}

void TransferManager::cancelAll()
{
    if (pendingOffer) {
        busyTimer.stop();
        if (pendingOffer->phase == PendingOffer::WaitingBusy) {
            const QString name = std::exchange(pendingOffer, nullptr)->wire;
            endOffer(name, QStringLiteral("Canceled"), {}, TransferEndCode::Canceled);
        } else {
            refuse(QStringLiteral("Canceled"));
        }
    }
    if (active)
        active->abandon();
    if (run)
        run->abandon();
}

bool TransferManager::busy() const
{
    if (active || pendingOffer)
        return true;
    const SendingRun* r = sendingRun();
    return run && (!r || !r->canOffer());
}

bool TransferManager::working() const
{
    if (active || pendingOffer)
        return true;
    if (const SendingRun* r = sendingRun())
        return !r->idle();
    if (const ReceivingRun* r = receivingRun())
        return !r->idle();
    return false;
}

void TransferManager::queueRanEmpty()
{
    if (SendingRun* r = sendingRun())
        r->closeWhenDone();
}

SendingRun* TransferManager::sendingRun() const
{
    return run && !run->isFinished() && run->sending() ? static_cast<SendingRun*>(run.get()) : nullptr;
}

ReceivingRun* TransferManager::receivingRun() const
{
    return run && !run->isFinished() && !run->sending() ? static_cast<ReceivingRun*>(run.get()) : nullptr;
}

// ---- sending ----

bool TransferManager::awaitingPeerCaps() const
{
    return !session.extensionsSettled();
}

bool TransferManager::offerFile(const QString& path, const QString& name)
{
    Session& s = session;
    quint16 control = 0;
    // After the user's Disconnect the connection is going away: the file waits for the next login.
    if (!s.isConnected() || s.userDisconnected || active || pendingOffer || pausing()
        || !Session::parseControlPort(state.connectionPort, control))
        return false;
    if (run) {
        // A run of files open to the peer takes the next offer, when it has room.
        SendingRun* r = sendingRun();
        if (!r || !r->canOffer())
            return false;
        const qsizetype named = names.count();
        if (r->offer(path, names.of(path, name), name))
            return true;
        // Not offered (gone, or unreadable): a name it was given just now goes again, so
        // that it cannot push another file's name to a numbered one.
        if (names.count() > named)
            names.forget(path, name);
        return false;
    }
    const quint16 port = static_cast<quint16>(control + 1);
    const QString wire = names.of(path, name);
    QByteArray token;
    // A private session needs no token: the key check of each connection does more.
    if (s.shares(QStringLiteral("token")) && !s.isPrivate()) {
        quint32 words[4];
        QRandomGenerator::system()->fillRange(words);
        token = QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex();
    }
    const bool opensRun = s.shares(kRun);
    FileTransfer* t = startSending(wire, path, s.controlSocket.remoteHostIP(), QString::number(port), state.remoteName,
                                   name, token, opensRun);
    if (!t || t->isFinished())
        return false;
    // Sent after the sending side listens, so the receiver always finds it; the token right
    // before it.
    const qint64 size = t->sizeOfFile();
    if (!token.isEmpty())
        s.sendControlMessage(QStringLiteral("ftoken:") + QString::fromLatin1(token));
    if (opensRun)
        s.sendControlMessage(QStringLiteral("frun"));
    s.sendControlMessage(
        Offer{QString::number(port), wire, TransferRules::offerBlockField(size), QString::number(size)}.message());
    return true;
}

FileTransfer* TransferManager::startSending(const QString& name, const QString& path, const QString& hostIP,
                                            const QString& port, const QString& userName, const QString& queuedName,
                                            const QByteArray& token, bool opensRun)
{
    if (active || pendingOffer || run)
        return nullptr; // one transfer at a time, and an offer being decided takes the slot too
    quint16 p = 0;
    if (!TransferRules::parsePort(port, p))
        return nullptr;
    {
        // Opened without waiting: a named pipe in the queue's place must not hold the program.
        QFile probe;
        QString problem;
        if (!FileSystem::openRegularFile(probe, path, {}, problem)) {
            // Offering it again would fail the same way: tell the queue it is done with.
            state.addText(QStringLiteral("*** Error : Cannot read ") + path + QStringLiteral(" - ") + problem,
                          LineKind::Error);
            Q_EMIT transferEnded(TransferOutcome::ofSent(name, path, queuedName, TransferEndCode::StoppedByError));
            return nullptr;
        }
    }
    FileTransfer::Setup setup;
    setup.name = name;
    setup.path = path;
    setup.hostIP = hostIP;
    setup.port = p;
    setup.userName = userName;
    setup.queuedName = queuedName.isEmpty() ? name : queuedName;
    setup.verify = session.shares(kVerify);
    setup.token = token;
    setup.run = opensRun;
    if (session.isPrivate()) {
        setup.tls = session.tlsConfiguration();
        setup.peerKey = session.peerKey();
    }
    state.setTransferEndCode(TransferEndCode::None);
    state.transferBusy = true;
    active = std::make_unique<FileSender>(state, session, *currentPrompts, setup, timeouts);
    FileTransfer* t = active.get();
    connect(t, &FileTransfer::finished, this, &TransferManager::onTransferFinished);
    Q_EMIT transferStarted(t);
    t->start();
    return t;
}

void TransferManager::onTransferFinished()
{
    auto* t = qobject_cast<FileTransfer*>(sender());
    if (!t || t != active.get())
        return;
    TransferOutcome o;
    o.sending = t->type() == FileTransfer::Sending;
    o.complete = t->complete();
    o.endCode = t->endCode();
    o.name = t->nameOfFile();
    o.path = t->type() == FileTransfer::Sending ? t->pathToFile() : t->pathToFile() + t->nameOfFile();
    o.queuedName = t->queuedName();
    o.putBack = t->putBack();
    o.stopQueue = t->stopQueue();
    auto* receiver = qobject_cast<FileReceiver*>(t);
    if (receiver && !o.complete)
        receiver->discardUnusedTarget(); // an offer that ended before any data leaves no empty folders
    if (t->keptForRun() && o.complete)
        openRun(*t);
    t->setParent(this); // goes with us should we go first
    active.release()->deleteLater();
    state.transferBusy = false;
    if (o.sending && o.endCode == TransferEndCode::TimedOut)
        graceTimer.start(staleGraceMs);
    if (o.putBack)
        Q_EMIT putBack(o.path, o.queuedName);
    if (o.stopQueue)
        Q_EMIT stopQueue();
    Q_EMIT transferEnded(o);
    if (pendingOffer && pendingOffer->phase == PendingOffer::WaitingBusy && !run) {
        busyTimer.stop();
        QTimer::singleShot(0, this, [this] {
            if (pendingOffer && pendingOffer->phase == PendingOffer::WaitingBusy && !active && !run)
                decide();
        });
    }
}

// ---- runs of files ----

void TransferManager::openRun(FileTransfer& t)
{
    const FileTransfer::Setup& setup = t.transferSetup();
    if (t.type() == FileTransfer::Sending)
        run = std::make_unique<SendingRun>(state, session, *currentPrompts, setup, timeouts);
    else
        run = std::make_unique<ReceivingRun>(state, session, *currentPrompts, setup, timeouts);
    runFolders.clear();
    run->limits.idleMs = runIdleMs;
    run->limits.window = runWindow;
    TransferRun* r = run.get();
    connect(r, &TransferRun::fileEnded, this, &TransferManager::onRunFileEnded);
    connect(r, &TransferRun::finished, this, &TransferManager::onRunFinished, Qt::QueuedConnection);
    if (auto* receiving = qobject_cast<ReceivingRun*>(r))
        connect(receiving, &ReceivingRun::offerArrived, this, &TransferManager::decideRunOffers);
    Q_EMIT runStarted(r);
    r->start(t);
}

void TransferManager::onRunFileEnded(const TransferOutcome& o)
{
    if (o.putBack && o.untouched)
        Q_EMIT handBack(o.path, o.queuedName);
    else if (o.putBack)
        Q_EMIT putBack(o.path, o.queuedName);
    if (o.stopQueue)
        Q_EMIT stopQueue();
    Q_EMIT transferEnded(o);
    if (!o.sending)
        decideRunOffers(); // an offer may have waited for this file's target
}

void TransferManager::onRunFinished()
{
    if (!run || !run->isFinished())
        return;
    runGoneTimer.stop();
    if (pendingOffer && pendingOffer->run) {
        // The run is gone: its offer being decided ends unanswered.
        busyTimer.stop();
        checksums.stop();
        if (pendingOffer->question)
            currentPrompts->withdraw(pendingOffer->question);
        pendingOffer.reset();
        state.transferBusy = false;
    }
    run->setParent(this);
    run.release()->deleteLater();
    if (pendingOffer && pendingOffer->phase == PendingOffer::WaitingBusy && !active) {
        busyTimer.stop();
        decide();
    }
    Q_EMIT readyToOffer();
}

void TransferManager::decideRunOffers()
{
    if (decidingRunOffers)
        return; // the loop below takes the next one
    decidingRunOffers = true;
    int decided = 0;
    while (ReceivingRun* r = receivingRun()) {
        if (pendingOffer || !r->hasOffer())
            break;
        if (decided++ == runAnswersPerTurn) {
            runDecideTimer.start(0); // after the answers so far have gone out
            break;
        }
        QString problem;
        const QStringList parts = TransferRules::offeredComponents(r->nextOffer().wire, &problem);
        // A file of the same name still being written in the run is finished first: two
        // writers of one target would mix their bytes.
        if (problem.isEmpty()
            && r->holds(FileSystem::withTrailingSlash(state.options.downloadFolder) + parts.join('/')))
            break;
        const ReceivingRun::Offered offered = r->takeOffer();
        if (!problem.isEmpty()) {
            endOffer(offered.wire, {},
                     QStringLiteral("*** Error : Refused File \"%1\" - unsafe name (%2)").arg(offered.wire, problem),
                     TransferEndCode::None, offered.number);
            continue;
        }
        auto offer = std::make_unique<PendingOffer>();
        offer->parts = parts;
        offer->wire = offered.wire;
        offer->size = offered.size;
        offer->sizeText = QString::number(offered.size);
        offer->block = offered.block;
        offer->run = offered.number;
        offer->serial = ++nextSerial;
        offer->answerBy = QDeadlineTimer(timeouts.acceptMs);
        pendingOffer = std::move(offer);
        decide();
    }
    decidingRunOffers = false;
}

// ---- receiving ----

void TransferManager::receiveOffer(const QString& name, const QString& sizeText, const QString& blockText,
                                   const QString& host, const QString& portText)
{
    auto bad = [&](const QString& why) {
        endOffer(name, {}, QStringLiteral("*** Error : Refused File \"%1\" - %2").arg(name, why),
                 TransferEndCode::None);
    };
    auto offer = std::make_unique<PendingOffer>();
    QString problem;
    offer->parts = TransferRules::offeredComponents(name, &problem);
    if (!problem.isEmpty())
        return bad(QStringLiteral("unsafe name (") + problem + ')');
    if (!TransferRules::parseSize(sizeText, offer->size))
        return bad(QStringLiteral("the size \"") + sizeText + QStringLiteral("\" is not a number of bytes"));
    if (!TransferRules::parseSize(blockText, offer->block) || offer->block <= 0)
        return bad(QStringLiteral("the block size \"") + blockText + QStringLiteral("\" is not a positive number"));
    if (!TransferRules::parsePort(portText, offer->port))
        return bad(QStringLiteral("the port \"") + portText + QStringLiteral("\" is not usable"));
    if (pendingOffer)
        return bad(active || run ? QStringLiteral("a transfer is running and another offer waits for it")
                                 : QStringLiteral("another offer is still being decided"));
    offer->wire = name;
    offer->sizeText = sizeText;
    offer->host = host;
    if (session.shares(QStringLiteral("token")))
        offer->token = session.offerToken();
    offer->opensRun = session.offerOpensRun() && session.shares(kRun);
    offer->serial = ++nextSerial;
    offer->answerBy = QDeadlineTimer(timeouts.acceptMs);
    pendingOffer = std::move(offer);
    if (active || run) {
        // One transfer at a time: this offer waits for the running one, within a bound. A run
        // of ours with nothing in it gives way at once.
        if (SendingRun* r = sendingRun(); r && r->idle())
            r->closeWhenDone();
        busyTimer.start(busyWaitMs);
        return;
    }
    decide();
}

void TransferManager::decide()
{
    PendingOffer& o = *pendingOffer;
    o.phase = PendingOffer::Done;
    state.setTransferEndCode(TransferEndCode::None);
    state.transferBusy = true;

    const QString root = FileSystem::withTrailingSlash(state.options.downloadFolder);
    const QString path = root + o.parts.join('/');
    // A run's files mostly go into the folder of the file before, which the run keeps open:
    // the look is made there, in the folder the file would be written to.
    const ReceivingRun* r = o.run ? receivingRun() : nullptr;
    const QString& leaf = o.parts.last();
    const int dir = r ? r->openFolder().descriptorFor(root, path.chopped(leaf.size())) : -1;
    o.target = dir >= 0 ? lookAt(path, dir, leaf) : lookAt(path);
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

void TransferManager::askAccept()
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
    QPointer<TransferManager> self(this);
    const Prompts::Id id = currentPrompts->askAccept(request, [self, serial](const Prompts::AcceptReply& r) {
        if (!self || !self->pendingOffer || self->pendingOffer->serial != serial
            || self->pendingOffer->phase != PendingOffer::AskingAccept)
            return;
        TransferManager& t = *self;
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

void TransferManager::answerHaveFile()
{
    const quint64 runNumber = pendingOffer->run;
    if (ReceivingRun* r = receivingRun(); r && runNumber)
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
    Q_EMIT transferEnded(out);
    if (runNumber)
        decideRunOffers();
}

bool TransferManager::checkFolders(QString& folder)
{
    PendingOffer& o = *pendingOffer;
    folder = o.root;
    bool missing = false; // a folder on the way does not exist: nor can any below it
    for (qsizetype i = 0; i + 1 < o.parts.size(); ++i) {
        folder += o.parts[i] + '/';
        // In a run of files the folders of one file are mostly those of the file before:
        // each is checked once per run (the target's opening checks them again anyway).
        // Below a missing folder there is nothing to check: each check would walk up to the
        // missing one again, and a deep name would hold the event loop for minutes.
        if (missing || (o.run && runFolders.contains(folder)))
            continue;
        if (!TransferRules::staysInside(o.root, folder)) {
            refuse(QStringLiteral("Canceled"),
                   QStringLiteral("*** Error : Refused File \"%1\" - the folder %2 leads out of %3")
                       .arg(o.wire, folder, o.root));
            return false;
        }
        // Missing folders are made only once the transfer connection is up (TargetFile), so
        // an offer that never gets that far leaves nothing behind.
        const QFileInfo info(folder);
        if (info.exists() && !info.isDir()) {
            refuse(QStringLiteral("Canceled"),
                   QStringLiteral("*** Error : Refused File \"%1\" - %2 is not a folder").arg(o.wire, folder));
            return false;
        }
        if (o.run && info.isDir() && runFolders.size() < 4096)
            runFolders.insert(folder);
        missing = !info.exists() && !info.isSymLink();
    }
    return true;
}

void TransferManager::afterAccept()
{
    PendingOffer& o = *pendingOffer;
    QString dir = state.options.downloadFolder;
    // While a run keeps a folder below the download folder open, that folder is there (or
    // was just removed: the file then fails to open, the run lets the folder go, and the
    // next file makes it again).
    const ReceivingRun* r = o.run ? receivingRun() : nullptr;
    const bool kept = r && r->openFolder().keepsBelow(FileSystem::withTrailingSlash(dir));
    if (!kept && !FileSystem::folderExists(dir) && !FileSystem::makePath(dir)) {
        dir = QDir(state.programFolder).filePath(QStringLiteral("download"));
        state.options.downloadFolder = dir;
        FileSystem::makePath(dir);
    }
    o.root = FileSystem::withTrailingSlash(dir);
    QString folder;
    if (!checkFolders(folder))
        return;
    o.folder = folder;
    const QString target = folder + o.parts.last();
    const TargetEntry there = o.target.path == target ? std::exchange(o.target, {}) : lookAt(target);
    if (there.present) {
        if (!TransferRules::staysInside(o.root, target))
            return refuse(QStringLiteral("Canceled"),
                          QStringLiteral("*** Error : Refused File \"%1\" - %2 is a link that leads out of %3")
                              .arg(o.wire, target, o.root));
        if (there.folder)
            return refuse(QStringLiteral("Canceled"),
                          QStringLiteral("*** Error : Refused File \"%1\" - %2 is a folder").arg(o.wire, target));
        if (there.size == o.size && !o.differs) {
            if (!session.shares(kVerify))
                return answerHaveFile();
            return compareWithSender(target, o.size, [this](bool same) {
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

void TransferManager::decideExisting()
{
    // The option file keeps the choice as its number; 1 to 3 stand, anything else asks.
    const int always = state.options.existingFileDefault;
    if (always >= 1 && always <= 3)
        startWith(static_cast<ExistingFileChoice>(always));
    else
        askExisting();
}

void TransferManager::startWith(ExistingFileChoice choice)
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

void TransferManager::compareWithSender(const QString& path, qint64 length, std::function<void(bool)> then)
{
    PendingOffer& o = *pendingOffer;
    o.phase = PendingOffer::Checking;
    const quint64 serial = o.serial;
    checksums.compare(o.wire, path, length, checkWaitMs, [this, serial, then = std::move(then)](bool same) {
        if (!pendingOffer || pendingOffer->serial != serial || pendingOffer->phase != PendingOffer::Checking)
            return;
        pendingOffer->phase = PendingOffer::Done;
        then(same);
    });
}

void TransferManager::onChecksumAsked(const QString& name, qint64 length)
{
    if (const SendingRun* r = sendingRun()) {
        const QString path = r->pathOfOffer(name, length);
        if (!path.isEmpty() || session.admitAnswer())
            checksums.answer(name, length, path);
        return;
    }
    if (!session.admitAnswer())
        return; // beyond the answers' rate a flood of questions goes unanswered
    const FileTransfer* t = active.get();
    const bool onOffer = t && t->type() == FileTransfer::Sending && t->awaitingAnswer() && t->nameOfFile() == name
                         && length <= t->sizeOfFile();
    checksums.answer(name, length, onOffer ? t->pathToFile() : QString());
}

void TransferManager::askExisting()
{
    PendingOffer& o = *pendingOffer;
    o.phase = PendingOffer::AskingExists;
    const quint64 serial = o.serial;
    QPointer<TransferManager> self(this);
    Prompts::ExistsRequest request;
    request.fileName = o.parts.last();
    request.existingPath = o.folder + o.parts.last();
    request.offeredSize = o.size;
    request.answerBy = o.answerBy;
    const Prompts::Id id = currentPrompts->askExisting(request, [self, serial](const Prompts::ExistsReply& r) {
        if (!self || !self->pendingOffer || self->pendingOffer->serial != serial
            || self->pendingOffer->phase != PendingOffer::AskingExists)
            return;
        self->answerExisting(r);
    });
    if (pendingOffer && pendingOffer->serial == serial && pendingOffer->phase == PendingOffer::AskingExists)
        pendingOffer->question = id;
}

void TransferManager::answerExisting(const Prompts::ExistsReply& r)
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

bool TransferManager::takeTypedName(const QString& name)
{
    PendingOffer& p = *pendingOffer;
    const QString problem = TransferRules::checkPlainName(name);
    if (!problem.isEmpty()) {
        refuse(QStringLiteral("Canceled"),
               QStringLiteral("*** Error : Refused File \"%1\" - the typed name \"%2\" is unusable (%3)")
                   .arg(p.wire, name, problem));
        return false;
    }
    const QFileInfo typed(p.folder + name);
    if (typed.exists() || typed.isSymLink()) {
        // Never written over unasked: a name other than the one asked about is asked about
        // in turn; the same name again is refused.
        if (name == p.parts.last()) {
            refuse(QStringLiteral("Canceled"),
                   QStringLiteral("*** Error : Refused File \"%1\" - the typed name \"%2\" already exists")
                       .arg(p.wire, name));
            return false;
        }
        p.parts.last() = name;
        askExisting();
        return false;
    }
    p.newName = name;
    return true;
}

void TransferManager::startReceiving()
{
    PendingOffer& o = *pendingOffer;
    if (o.run) {
        TargetFile::Request request;
        request.root = o.root;
        request.folder = o.folder;
        request.name = o.parts.last();
        request.choice = o.existsChoice;
        request.newName = o.newName;
        request.size = o.size;
        request.block = o.block;
        const quint64 number = o.run;
        const QString wire = o.wire;
        pendingOffer.reset();
        state.transferBusy = false;
        if (ReceivingRun* r = receivingRun()) {
#ifdef ZANTIRO_TEST_HOOKS
            r->testFlipByteAt = std::exchange(testFlipReceivedByte, -1);
#endif
            r->accept(number, wire, request);
        }
        decideRunOffers();
        return;
    }
    FileTransfer::Setup setup;
    setup.name = o.parts.last();
    setup.path = o.folder;
    setup.root = o.root;
    setup.hostIP = o.host;
    setup.port = o.port;
    setup.userName = state.remoteName;
    setup.size = o.size;
    setup.block = o.block;
    setup.existsChoice = o.existsChoice;
    setup.newName = o.newName;
    setup.queuedName = o.wire;
    setup.verify = session.shares(kVerify);
    setup.token = o.token;
    setup.run = o.opensRun;
    if (session.isPrivate()) {
        setup.tls = session.tlsConfiguration();
        setup.peerKey = session.peerKey();
    }
#ifdef ZANTIRO_TEST_HOOKS
    setup.testFlipByteAt = std::exchange(testFlipReceivedByte, -1);
#endif
    pendingOffer.reset();
    active = std::make_unique<FileReceiver>(state, session, *currentPrompts, setup, timeouts);
    FileTransfer* t = active.get();
    connect(t, &FileTransfer::finished, this, &TransferManager::onTransferFinished);
    Q_EMIT transferStarted(t);
    t->start();
}

void TransferManager::refuse(const QString& givenReason, const QString& errorLine)
{
    if (!pendingOffer)
        return;
    PendingOffer& o = *pendingOffer;
    o.phase = PendingOffer::Done;
    checksums.stop();
    if (o.question)
        currentPrompts->withdraw(std::exchange(o.question, 0));
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

void TransferManager::endOffer(const QString& name, const QString& reason, const QString& errorLine,
                               TransferEndCode endCode, quint64 runNumber)
{
    // A run's sender waits for every answer, in order: it always gets one.
    if (ReceivingRun* r = receivingRun(); r && runNumber)
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
    Q_EMIT transferEnded(out);
    if (runNumber)
        decideRunOffers();
}

void TransferManager::onTransferMessage(const QString& text)
{
    if (text == QLatin1String("FTIMEOUT")) {
        // A sender gave up on its offer: that is the offer being decided here, or else the
        // file being received. Never our own sending, whatever the peer says.
        if (pendingOffer && pendingOffer->run) {
            return; // a run's offers are not ended by a single offer's notice
        } else if (pendingOffer && pendingOffer->phase == PendingOffer::WaitingBusy) {
            busyTimer.stop();
            const QString name = std::exchange(pendingOffer, nullptr)->wire;
            endOffer(name, QStringLiteral("Timed Out"), {}, TransferEndCode::TimedOut);
        } else if (pendingOffer || (active && active->type() == FileTransfer::Receiving)) {
            state.setTransferEndCode(TransferEndCode::TimedOut);
        }
        return;
    }
    // A refusal, or "the receiver has it", answers the offer our sending side has out. With
    // none out it belongs to an offer already given up, and is dropped.
    if (active && active->type() == FileTransfer::Sending && active->awaitingAnswer())
        state.setTransferEndCode(text == QLatin1String("HaveFile") ? TransferEndCode::ReceiverHasFile
                                                                   : TransferEndCode::CanceledByReceiver);
}

void TransferManager::onEndCodeChanged(TransferEndCode code)
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
