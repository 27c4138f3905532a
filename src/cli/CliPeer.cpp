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

void writeLine(FILE* f, const QString& text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, bytes.size(), f);
    std::fflush(f);
}

} // namespace

CliPeer::CliPeer(const CliArguments& a, QObject* parent)
    : QObject(parent), args(a), peer(std::make_unique<Peer>(Startup::programFolder(a.home))), ctx(peer->state())
{
    connect(&ctx, &PeerState::lineAdded, this, [](const QString& text, LineKind) { writeLine(stdout, text); });
    // A file that always ends unfinished is offered three times, then given up: nobody is
    // there to remove it from the queue.
    peer->queue().maxPutBacks = 2;
    connect(&peer->queue(), &FileQueue::idle, this, &CliPeer::onSendsIdle);
    connect(&peer->transfers(), &TransferManager::transferEnded, this, &CliPeer::onTransferEnded);
    // A cancel stops the queue for good, as far as --exit-when-done is concerned; "/stop" only pauses.
    connect(&peer->transfers(), &TransferManager::stopQueue, this, [this] { stoppedByCancel = true; });
    connect(&peer->session(), &Session::sockClosed, this, [this] { QTimer::singleShot(0, this, &CliPeer::checkExit); });
    connect(&peer->session(), &Session::loggedIn, this, &CliPeer::onLoggedIn);
}

CliPeer::~CliPeer() = default;

void CliPeer::start()
{
    Startup::makeFolders(ctx.programFolder);
    const QString problem = ctx.loadConfig();
    if (!problem.isEmpty())
        writeLine(stderr, problem);
    fileOptions = ctx.options;

    Options& o = ctx.options;
    if (args.hasRequirePassword) {
        o.requirePassword = true;
        o.serverPassword = args.requirePassword;
    }
    if (args.hasName)
        o.myName = args.name;
    if (args.hasEmail)
        o.myEmail = args.email;
    if (args.hasAge)
        o.myAge = args.age;
    if (args.hasHomepage)
        o.myHomePage = args.homepage;
    if (args.autoReconnect)
        o.autoReconnect = true;
    if (args.autoResend)
        o.autoResend = true;
    if (args.autoAccept)
        o.autoAccept = true;
    if (!args.download.isEmpty())
        o.downloadFolder = QFileInfo(args.download).absoluteFilePath();
    auto prompts = std::make_unique<HeadlessPrompts>(ctx, peer->session());
    prompts->declineHint = QStringLiteral("*** Declined : %1 - start zantiro-cli with --auto-accept to accept files");
    if (args.exists >= 1) {
        o.existingFileDefault = args.exists;
    } else if (args.exists == 0) {
        o.existingFileDefault = 0;
        prompts->existsHint = QStringLiteral("*** File Already Exists : %1 - refused (--exists cancel)");
    } else if (o.existingFileDefault == 0) {
        prompts->existsHint = QStringLiteral("*** File Already Exists : %1 - refused; --exists overwrite, resume "
                                             "or rename decides what to do with an existing file");
    }
    peer->transfers().setPrompts(std::move(prompts));
    for (const QString& path : args.sends)
        peer->queue().addPath(path);
    ctx.debugMode = args.debug;
    peer->session().extensionsOn = !args.noExtensions;
    ctx.connectionMode = args.mode;
    ctx.connectionHost = args.host;
    ctx.connectionPort = args.port;
    ctx.connectionPassword =
        args.hasPassword ? args.password : (args.mode == QLatin1String("Client") ? o.clientPassword : QString());
    if (ctx.debugMode)
        ctx.addText(QStringLiteral("QVDEBUG ACTIVATED"), LineKind::Message);
    peer->session().openConnection();
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
        ctx.addText(QStringLiteral("*** Not Connected"), LineKind::Status);
    else
        peer->session().sendChat(line);
}

void CliPeer::showUsage(const QString& form)
{
    ctx.addText(QStringLiteral("*** Usage : ") + form, LineKind::Status);
}

bool CliPeer::runSessionCommand(const QString& command)
{
    Session& s = peer->session();
    if (command == QLatin1String("/quit")) {
        quit(0);
    } else if (command == QLatin1String("/ping")) {
        s.sendPing();
    } else if (command == QLatin1String("/info")) {
        showPeerRecord();
    } else if (command == QLatin1String("/disconnect")) {
        s.disconnectFromPeer();
    } else if (command == QLatin1String("/debug")) {
        ctx.addText(ctx.debugMode ? QStringLiteral("QVDEBUG DEACTIVATED") : QStringLiteral("QVDEBUG ACTIVATED"),
                    LineKind::Message);
        ctx.debugMode = !ctx.debugMode;
    } else {
        return false;
    }
    return true;
}

void CliPeer::showPeerRecord()
{
    // The peer's record as it last arrived, one field a line.
    const QString rows[][2] = {{QStringLiteral("Name : "), ctx.remoteName},
                               {QStringLiteral("E-Mail : "), ctx.remoteEmail},
                               {QStringLiteral("Homepage : "), ctx.remoteHomepage},
                               {QStringLiteral("Age : "), ctx.remoteAge}};
    for (const auto& row : rows)
        writeLine(stdout, row[0] + LineText::visible(row[1]));
    const QStringList shared = peer->session().sharedExtensions();
    writeLine(stdout, QStringLiteral("Extensions : ")
                          + (shared.isEmpty() ? QStringLiteral("none") : shared.join(QStringLiteral(", "))));
}

bool CliPeer::runQueueCommand(const QString& command, const QString& argument)
{
    FileQueue& q = peer->queue();
    if (command == QLatin1String("/send")) {
        // The path as typed; blanks around it are dropped only when it does not exist so.
        const QString path = QFileInfo::exists(argument) ? argument : argument.trimmed();
        if (path.isEmpty())
            showUsage(QStringLiteral("/send PATH"));
        else if (!QFileInfo::exists(path))
            ctx.addText(QStringLiteral("*** No Such File : ") + argument, LineKind::Status);
        else
            q.addPath(path);
    } else if (command == QLatin1String("/queue")) {
        for (int i = 0; i < q.count(); ++i)
            writeLine(stdout, QStringLiteral("%1\t%2\t%3")
                                  .arg(i + 1)
                                  .arg(LineText::visible(q.offeredName(i)), LineText::visible(q.path(i))));
    } else if (command == QLatin1String("/stop")) {
        q.stop();
    } else if (command == QLatin1String("/go")) {
        stoppedByCancel = false;
        q.start();
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
    const int n = argument.trimmed().toInt(&ok);
    FileQueue& q = peer->queue();
    if (!ok)
        showUsage(toTop ? QStringLiteral("/top N") : QStringLiteral("/remove N"));
    else if (n < 1 || n > q.count())
        ctx.addText(QStringLiteral("*** No Such Queue Entry : ") + argument.trimmed(), LineKind::Status);
    else if (toTop)
        q.moveToTop({n - 1});
    else
        q.remove({n - 1});
}

void CliPeer::quit(int exitCode)
{
    if (quitting)
        return;
    quitting = true;
    if (stdinNotifier)
        stdinNotifier->setEnabled(false);
    connect(peer.get(), &Peer::left, this, [this, exitCode] { Q_EMIT finished(exitCode); });
    peer->leave();
    const QString problem = ConfigFile::save(ctx.configPath(), fileOptions);
    if (!problem.isEmpty())
        writeLine(stderr, problem);
}

void CliPeer::onLoggedIn()
{
    // Nobody may be there to type /go: files not all done go on after a reconnection, as
    // autoResend would have them.
    FileQueue& q = peer->queue();
    if (std::exchange(loggedInBefore, true) && q.isStopped() && q.remaining() > 0) {
        stoppedByCancel = false;
        q.start();
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
    // Decide once the ended transfer has fully gone.
    QTimer::singleShot(0, this, &CliPeer::checkExit);
}

void CliPeer::checkExit()
{
    if (quitting || (!args.exitWhenDone && args.exitAfter < 1))
        return;
    TransferManager& t = peer->transfers();
    if (t.current() || t.offerPending())
        return;
    const FileQueue& sends = peer->queue();
    if (args.exitWhenDone && (sends.remaining() == 0 || (stoppedByCancel && sends.isStopped()))) {
        const bool allDone = sends.remaining() == 0 && sends.completed() == sends.ended();
        quit(allDone ? 0 : 1);
    } else if (args.exitAfter >= 1 && incomingEnded >= args.exitAfter) {
        quit(incomingFailed ? 1 : 0);
    } else if (peer->session().controlSocket.state() == EventSocket::Closed && !ctx.options.autoReconnect) {
        // The peer has gone and nothing brings it back: what is left cannot end well.
        ctx.addText(QStringLiteral("*** Connection closed before everything was transferred"), LineKind::Status);
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
    stdinNotifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(stdinNotifier, &QSocketNotifier::activated, this, &CliPeer::onStdinReady);
}

void CliPeer::onStdinReady()
{
    char buf[4096];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
        stdinNotifier->setEnabled(false);
        if (!stdinBuffer.isEmpty())
            handleInput(QString::fromUtf8(std::exchange(stdinBuffer, {})));
        // With an exit condition the peer leaves when that is met, not at the end of input.
        if (!args.exitWhenDone && args.exitAfter < 1)
            quit(0);
        return;
    }
    stdinBuffer.append(buf, n);
    qsizetype nl;
    while ((nl = stdinBuffer.indexOf('\n')) >= 0) {
        const QByteArray line = stdinBuffer.left(nl);
        stdinBuffer.remove(0, nl + 1);
        handleInput(QString::fromUtf8(line));
    }
}
