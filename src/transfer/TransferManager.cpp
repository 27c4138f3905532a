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

#include <QRandomGenerator>

namespace {

const QString kVerify = QStringLiteral("verify");
const QString kRun = QStringLiteral("run");

} // namespace

TransferManager::TransferManager(PeerState& c, Session& s)
    : state(c), session(s), currentPrompts(std::make_unique<HeadlessPrompts>(c, s)), checksums(s),
      decision(c, s, checksums, *this, {busyWaitMs, checkWaitMs, timeouts.acceptMs}), names(s)
{
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
    connect(&state, &PeerState::transferEndCodeChanged, &decision, &OfferDecision::onEndCodeChanged);
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
        if (state == Session::State::Idle)
            decision.onDisconnected();
    });
}

TransferManager::~TransferManager()
{
    decision.withdrawQuestion();
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
    decision.cancel();
    if (active)
        active->abandon();
    if (run)
        run->abandon();
}

bool TransferManager::busy() const
{
    if (active || decision.pending())
        return true;
    const SendingRun* r = sendingRun();
    return run && (!r || !r->canOffer());
}

bool TransferManager::working() const
{
    if (active || decision.pending())
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

bool TransferManager::slotTaken() const
{
    return active || run;
}

void TransferManager::offerEnded(const TransferOutcome& outcome)
{
    Q_EMIT transferEnded(outcome);
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
    if (!s.isConnected() || s.userDisconnected || active || decision.pending() || pausing()
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
    if (active || decision.pending() || run)
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
    setup.token = token;
    setup.run = opensRun;
    addSessionPart(setup);
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
    if (!run)
        decision.decideAfterTransfer();
}

void TransferManager::addSessionPart(FileTransfer::Setup& setup) const
{
    setup.verify = session.shares(kVerify);
    if (session.isPrivate()) {
        setup.tls = session.tlsConfiguration();
        setup.peerKey = session.peerKey();
    }
}

void TransferManager::startReceiver(FileTransfer::Setup& setup)
{
    addSessionPart(setup);
#ifdef ZANTIRO_TEST_HOOKS
    setup.testFlipByteAt = std::exchange(testFlipReceivedByte, -1);
#endif
    active = std::make_unique<FileReceiver>(state, session, *currentPrompts, setup, timeouts);
    FileTransfer* t = active.get();
    connect(t, &FileTransfer::finished, this, &TransferManager::onTransferFinished);
    Q_EMIT transferStarted(t);
    t->start();
}

void TransferManager::receiveOffer(const QString& name, const QString& size, const QString& block, const QString& host,
                                   const QString& port)
{
    decision.receive(name, size, block, host, port);
}

// ---- runs of files ----

void TransferManager::openRun(FileTransfer& t)
{
    const FileTransfer::Setup& setup = t.transferSetup();
    if (t.type() == FileTransfer::Sending)
        run = std::make_unique<SendingRun>(state, session, *currentPrompts, setup, timeouts);
    else
        run = std::make_unique<ReceivingRun>(state, session, *currentPrompts, setup, timeouts);
    decision.forgetRunFolders();
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
    decision.dropRunOffer(); // the run is gone: its offer being decided ends unanswered
    run->setParent(this);
    run.release()->deleteLater();
    if (!active)
        decision.decideWaiting();
    Q_EMIT readyToOffer();
}

void TransferManager::receiveInRun(quint64 number, const QString& wire, const TargetFile::Request& request)
{
    if (ReceivingRun* r = receivingRun()) {
#ifdef ZANTIRO_TEST_HOOKS
        r->testFlipByteAt = std::exchange(testFlipReceivedByte, -1);
#endif
        r->accept(number, wire, request);
    }
}

void TransferManager::runOfferAnswered()
{
    decideRunOffers();
}

void TransferManager::decideRunOffers()
{
    if (decidingRunOffers)
        return; // the loop below takes the next one
    decidingRunOffers = true;
    int decided = 0;
    while (ReceivingRun* r = receivingRun()) {
        if (decision.pending() || !r->hasOffer())
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
        decision.decideRunOffer(r->takeOffer(), parts, problem);
    }
    decidingRunOffers = false;
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

void TransferManager::onTransferMessage(const QString& text)
{
    if (text == QLatin1String("FTIMEOUT")) {
        // A sender gave up on its offer: that is the offer being decided here, or else the
        // file being received. Never our own sending, whatever the peer says.
        if (!decision.senderGaveUp() && active && active->type() == FileTransfer::Receiving)
            state.setTransferEndCode(TransferEndCode::TimedOut);
        return;
    }
    // A refusal, or "the receiver has it", answers the offer our sending side has out. With
    // none out it belongs to an offer already given up, and is dropped.
    if (active && active->type() == FileTransfer::Sending && active->awaitingAnswer())
        state.setTransferEndCode(text == QLatin1String("HaveFile") ? TransferEndCode::ReceiverHasFile
                                                                   : TransferEndCode::CanceledByReceiver);
}
