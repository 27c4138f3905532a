#include "cli/CliPeer.h"

#include "core/LineText.h"
#include "core/Startup.h"
#include "peer/Peer.h"
#include "queue/FileQueue.h"
#include "session/Session.h"
#include "transfer/HeadlessPrompts.h"
#include "transfer/TransferManager.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// Signals reach the event loop through this socket pair: the handler only writes the signal
// number. Process-wide by nature, as signal dispositions are.
int signalPair[2] = {-1, -1};

void onSignal(int number)
{
    const char c = static_cast<char>(number);
    [[maybe_unused]] const ssize_t n = ::write(signalPair[1], &c, 1);
}

// Writes one line; `flush`: now (else it waits in the stream's buffer for the next flush).
void writeLine(FILE* f, const QString& text, bool flush = true)
{
    if (f != stdout)
        std::fflush(stdout); // what came before goes first
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, bytes.size(), f);
    if (flush)
        std::fflush(f);
}

} // namespace

CliPeer::CliPeer(const CliArguments& given, QObject* parent)
    : QObject(parent), arguments(given), peer(std::make_unique<Peer>(Startup::programFolder(given.home))),
      peerState(peer->state())
{
    // A run of files writes thousands of lines a second: the lines of one turn of the event
    // loop go out together at its end.
    outputTimer.setSingleShot(true);
    connect(&outputTimer, &QTimer::timeout, this, [] { std::fflush(stdout); });
    connect(&peerState, &PeerState::lineAdded, this, [this](const QString& text, LineKind) {
        writeLine(stdout, text, false);
        if (!outputTimer.isActive())
            outputTimer.start(0);
    });
    // A file that always ends unfinished is offered three times, then given up: nobody is
    // there to remove it from the queue.
    peer->queue().maxPutBacks = 2;
    connect(&peer->queue(), &FileQueue::idle, this, &CliPeer::onSendsIdle);
    connect(&peer->transfers(), &TransferManager::transferEnded, this, &CliPeer::onTransferEnded);
    // A cancel stops the queue for good, as far as --exit-when-done is concerned; "/stop" only pauses.
    connect(&peer->transfers(), &TransferManager::stopQueue, this, [this] { stoppedByCancel = true; });
    connect(&peer->session(), &Session::connectionStateChanged, this, [this](Session::State state) {
        if (state == Session::State::Idle)
            QTimer::singleShot(0, this, &CliPeer::checkExit);
    });
    connect(&peer->session(), &Session::loggedIn, this, &CliPeer::onLoggedIn);
    connect(&peer->session(), &Session::identityRefused, this, [] {
        writeLine(stdout, QStringLiteral("*** To accept the new identity once you have compared the codes, start "
                                         "again with --trust-new-identity"));
    });
}

CliPeer::~CliPeer()
{
    std::fflush(stdout);
}

void CliPeer::start()
{
    Startup::makeFolders(peerState.programFolder);
    const QString problem = peerState.loadConfig();
    if (!problem.isEmpty())
        writeLine(stderr, problem);
    fileOptions = peerState.options;
    peerState.identity(); // made on the first start; a damaged one is reported now

    overrideOptions(peerState.options);
    peer->transfers().setPrompts(makePrompts(peerState.options));
    for (const QString& path : arguments.sends)
        peer->queue().addPath(path);
    peerState.debugMode = arguments.debug;
    peer->session().extensionsOn = !arguments.noExtensions;
    if (!arguments.privateMode.isEmpty())
        ProgramSettings::parseMode(arguments.privateMode, peerState.settings.privateMode);
    peer->session().trustNewIdentity = arguments.trustNewIdentity;
#ifdef ZANTIRO_TEST_HOOKS
    // Tests take whole programs through many reconnections: the waits before each one,
    // shortened to this many milliseconds.
    bool shortWaits = false;
    const int reconnectMs = qEnvironmentVariableIntValue("ZANTIRO_TEST_RECONNECT_MS", &shortWaits);
    if (shortWaits && reconnectMs >= 0)
        peer->session().limits.reconnectDelayMs = peer->session().limits.reconnectPauseMs = reconnectMs;
#endif
    peerState.connectionMode = connectionModeNamed(arguments.mode);
    peerState.connectionHost = arguments.host;
    peerState.connectionPort = arguments.port;
    peerState.connectionPassword =
        arguments.hasPassword
            ? arguments.password
            : (arguments.mode == QLatin1String("Client") ? peerState.options.clientPassword : QString());
    if (peerState.debugMode)
        peerState.addText(QStringLiteral("QVDEBUG ACTIVATED"), LineKind::Message);
    peer->session().openConnection();
}

void CliPeer::overrideOptions(Options& options) const
{
    if (arguments.hasRequirePassword) {
        options.requirePassword = true;
        options.serverPassword = arguments.requirePassword;
    }
    if (arguments.hasName)
        options.myName = arguments.name;
    if (arguments.hasEmail)
        options.myEmail = arguments.email;
    if (arguments.hasAge)
        options.myAge = arguments.age;
    if (arguments.hasHomepage)
        options.myHomePage = arguments.homepage;
    if (arguments.autoReconnect)
        options.autoReconnect = true;
    if (arguments.autoResend)
        options.autoResend = true;
    if (arguments.autoAccept)
        options.autoAccept = true;
    if (!arguments.download.isEmpty())
        options.downloadFolder = QFileInfo(arguments.download).absoluteFilePath();
}

std::unique_ptr<HeadlessPrompts> CliPeer::makePrompts(Options& options)
{
    auto prompts = std::make_unique<HeadlessPrompts>(peerState, peer->session());
    prompts->declineHint = QStringLiteral("*** Declined : %1 - start zantiro-cli with --auto-accept to accept files");
    if (arguments.exists >= 1) {
        options.existingFileDefault = arguments.exists;
    } else if (arguments.exists == 0) {
        options.existingFileDefault = 0;
        prompts->existsHint = QStringLiteral("*** File Already Exists : %1 - refused (--exists cancel)");
    } else if (options.existingFileDefault == 0) {
        prompts->existsHint = QStringLiteral("*** File Already Exists : %1 - refused; --exists overwrite, resume "
                                             "or rename decides what to do with an existing file");
    }
    return prompts;
}

void CliPeer::handleInput(const QString& rawLine)
{
    if (quitting)
        return;
    QString line = rawLine;
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.isEmpty())
        return;
    // A line whose first word is a command is that command, whatever follows; one with a
    // missing or unusable argument shows its usage and sends nothing.
    // The first word ends at any blank, a tab included.
    const auto blank = std::find_if(line.cbegin(), line.cend(), [](QChar c) { return c.isSpace(); });
    const qsizetype space = blank == line.cend() ? -1 : blank - line.cbegin();
    const QString command = line.left(space).toLower();
    const QString argument = space < 0 ? QString() : line.mid(space + 1);
    static const QStringList kBare = {"/quit", "/ping", "/info", "/disconnect", "/queue", "/stop", "/go", "/debug"};
    if (kBare.contains(command) && !argument.trimmed().isEmpty())
        showUsage(command);
    else if (runSessionCommand(command) || runQueueCommand(command, argument))
        return;
    else if (!peer->session().isConnected())
        peerState.addText(QStringLiteral("*** Not Connected"), LineKind::Status);
    else
        peer->session().sendChat(line);
}

void CliPeer::showUsage(const QString& form)
{
    peerState.addText(QStringLiteral("*** Usage : ") + form, LineKind::Status);
}

bool CliPeer::runSessionCommand(const QString& command)
{
    Session& session = peer->session();
    if (command == QLatin1String("/quit")) {
        quit(0);
    } else if (command == QLatin1String("/ping")) {
        session.sendPing();
    } else if (command == QLatin1String("/info")) {
        showPeerRecord();
    } else if (command == QLatin1String("/disconnect")) {
        session.disconnectFromPeer();
    } else if (command == QLatin1String("/debug")) {
        peerState.addText(peerState.debugMode ? QStringLiteral("QVDEBUG DEACTIVATED")
                                              : QStringLiteral("QVDEBUG ACTIVATED"),
                          LineKind::Message);
        peerState.debugMode = !peerState.debugMode;
    } else {
        return false;
    }
    return true;
}

void CliPeer::showPeerRecord()
{
    // The peer's record as it last arrived, one field a line.
    const QString rows[][2] = {{QStringLiteral("Name : "), peerState.remoteName},
                               {QStringLiteral("E-Mail : "), peerState.remoteEmail},
                               {QStringLiteral("Homepage : "), peerState.remoteHomepage},
                               {QStringLiteral("Age : "), peerState.remoteAge}};
    for (const auto& row : rows)
        writeLine(stdout, row[0] + LineText::visible(row[1]));
    const Session& session = peer->session();
    writeLine(stdout, QStringLiteral("Private : ")
                          + (session.isPrivate() ? session.privateProtocol() + QStringLiteral(", connection code ")
                                                       + session.connectionCode()
                                                 : QStringLiteral("no")));
    QStringList shared = session.sharedExtensions();
    if (session.isPrivate())
        shared << QStringLiteral("private");
    writeLine(stdout, QStringLiteral("Extensions : ")
                          + (shared.isEmpty() ? QStringLiteral("none") : shared.join(QStringLiteral(", "))));
}

bool CliPeer::runQueueCommand(const QString& command, const QString& argument)
{
    FileQueue& queue = peer->queue();
    if (command == QLatin1String("/send")) {
        // The path as typed; blanks around it are dropped only when it does not exist so.
        const QString path = QFileInfo::exists(argument) ? argument : argument.trimmed();
        if (path.isEmpty())
            showUsage(QStringLiteral("/send PATH"));
        else if (!QFileInfo::exists(path))
            peerState.addText(QStringLiteral("*** No Such File : ") + argument, LineKind::Status);
        else
            queue.addPath(path);
    } else if (command == QLatin1String("/queue")) {
        for (int i = 0; i < queue.count(); ++i)
            writeLine(stdout, QStringLiteral("%1\t%2\t%3")
                                  .arg(i + 1)
                                  .arg(LineText::visible(queue.offeredName(i)), LineText::visible(queue.path(i))));
    } else if (command == QLatin1String("/stop")) {
        queue.stop();
    } else if (command == QLatin1String("/go")) {
        stoppedByCancel = false;
        queue.start();
    } else if (command == QLatin1String("/remove") || command == QLatin1String("/top")) {
        moveOrRemove(command == QLatin1String("/top"), argument);
    } else {
        return false;
    }
    return true;
}

void CliPeer::moveOrRemove(bool toTop, const QString& argument)
{
    bool ok = false;
    const int entry = argument.trimmed().toInt(&ok);
    FileQueue& queue = peer->queue();
    if (!ok)
        showUsage(toTop ? QStringLiteral("/top N") : QStringLiteral("/remove N"));
    else if (entry < 1 || entry > queue.count())
        peerState.addText(QStringLiteral("*** No Such Queue Entry : ") + argument.trimmed(), LineKind::Status);
    else if (toTop)
        queue.moveToTop({entry - 1});
    else
        queue.remove({entry - 1});
}

void CliPeer::quit(int exitCode)
{
    if (quitting)
        return;
    quitting = true;
    if (inputNotifier)
        inputNotifier->setEnabled(false);
    connect(peer.get(), &Peer::left, this, [this, exitCode] { Q_EMIT finished(exitCode); });
    peer->leave();
    const QString problem = ConfigFile::save(peerState.configPath(), fileOptions);
    if (!problem.isEmpty())
        writeLine(stderr, problem);
}

void CliPeer::onLoggedIn()
{
    // Nobody may be there to type /go: files not all done go on after a reconnection, as
    // autoResend would have them.
    FileQueue& queue = peer->queue();
    if (std::exchange(loggedInBefore, true) && queue.isStopped() && queue.remaining() > 0) {
        stoppedByCancel = false;
        queue.start();
    }
}

void CliPeer::onSendsIdle()
{
    checkExit();
}

void CliPeer::onTransferEnded(const TransferOutcome& outcome)
{
    if (!outcome.sending) {
        ++incomingEnded;
        if (!outcome.complete)
            incomingFailed = true;
    }
    // Decide once the ended transfer has fully gone (one check for all that end in one turn).
    if (!exitCheckAsked) {
        exitCheckAsked = true;
        QTimer::singleShot(0, this, [this] {
            exitCheckAsked = false;
            checkExit();
        });
    }
}

void CliPeer::checkExit()
{
    if (quitting || (!arguments.exitWhenDone && arguments.exitAfter < 1))
        return;
    TransferManager& transfers = peer->transfers();
    if (transfers.current() || transfers.offerPending() || transfers.working())
        return;
    const FileQueue& sends = peer->queue();
    if (arguments.exitWhenDone && (sends.remaining() == 0 || (stoppedByCancel && sends.isStopped()))) {
        const bool allDone = sends.remaining() == 0 && sends.completed() == sends.ended();
        quit(allDone ? 0 : 1);
    } else if (arguments.exitAfter >= 1 && incomingEnded >= arguments.exitAfter) {
        quit(incomingFailed ? 1 : 0);
    } else if (peer->session().controlSocket.state() == EventSocket::Closed && !peerState.options.autoReconnect) {
        // The peer has gone and nothing brings it back: what is left cannot end well.
        peerState.addText(QStringLiteral("*** Connection closed before everything was transferred"), LineKind::Status);
        quit(1);
    }
}

void CliPeer::watchSignals()
{
    if (signalPair[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPair) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPair[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char number = 0;
        if (::read(signalPair[0], &number, 1) != 1)
            return;
        if (quitting)
            QCoreApplication::exit(128 + number); // asked twice: do not wait any longer
        else
            quit(128 + number);
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

void CliPeer::readStandardInput()
{
    inputNotifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(inputNotifier, &QSocketNotifier::activated, this, &CliPeer::onInputReady);
}

void CliPeer::onInputReady()
{
    char chunk[4096];
    const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (got <= 0) {
        inputNotifier->setEnabled(false);
        if (!inputBuffer.isEmpty())
            handleInput(QString::fromUtf8(std::exchange(inputBuffer, {})));
        // With an exit condition the peer leaves when that is met, not at the end of input.
        if (!arguments.exitWhenDone && arguments.exitAfter < 1)
            quit(0);
        return;
    }
    inputBuffer.append(chunk, got);
    qsizetype newline;
    while ((newline = inputBuffer.indexOf('\n')) >= 0) {
        const QByteArray line = inputBuffer.left(newline);
        inputBuffer.remove(0, newline + 1);
        handleInput(QString::fromUtf8(line));
    }
}
