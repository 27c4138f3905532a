// The control connection as a hostile peer sees it: a whole peer (session, transfer side,
// headless prompts) on one end of a real loopback connection, and on the other end this
// target, which sends it the input's messages however it likes cut into TCP segments and
// records every byte the peer sends back.
//
// The input: three bytes of situation, then messages separated by byte 0xFF (a byte the
// scrambling cannot carry anyway). A message is scrambled and framed as a peer would send it;
// one that starts with 0xFE goes on the wire as it is (broken frames, stray terminators,
// floods without an end).
//   byte 0: bit 0 the peer under test connects (else it serves), bit 1 the login is done
//           first, bit 2 its extensions are on, bit 3 we announce "caps:" after the login,
//           bit 4 we then switch to UTF-8, bit 5 (serving) it requires a password, bit 6 it
//           accepts offered files, bit 7 an existing file is resumed (else renamed or refused)
//   byte 1: the longest TCP segment (0: everything in one write)
//   byte 2: where the segments are cut, and the existing-file answer
//
// What must hold whatever arrives: every shown line is one line without a raw control
// character; whatever the peer sends back is whole framed messages it knows; no login is
// granted and no chat shown without the right password when one is required; a message that
// runs past the bound cuts the connection off, and the framer never holds more; a file that
// is accepted is received into the download folder and nowhere else.
#include "FuzzSupport.h"
#include "config/Scramble.h"
#include "core/PeerState.h"
#include "peer/Peer.h"
#include "session/ControlFramer.h"
#include "session/ControlMessages.h"
#include "session/Session.h"
#include "transfer/FileTransfer.h"
#include "transfer/HeadlessPrompts.h"
#include "transfer/TransferManager.h"
#include "transfer/TransferRules.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <linux/sockios.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

const QString kServerPassword = QStringLiteral("s3cret-pw");
const QString kClientPassword = QStringLiteral("client-pw");
constexpr qsizetype kMaxMessageBytes = 1024; // small, so that inputs reach the bound
// How long one step (a connection, the taking of a segment, an end) may take. Far more than
// it needs, even on a loaded machine where loopback delivery can lag; the bound is a time,
// not a number of turns, since turns cost next to nothing while nothing arrives.
constexpr int kStepMs = 5000;

struct Bound {
    QDeadlineTimer deadline{kStepMs};
    bool open() const { return !deadline.hasExpired(); }
};
constexpr qsizetype kMaxCuts = 48; // TCP segments an input is cut into, at most

struct Situation {
    bool client = false;
    bool loggedIn = false;
    bool extensions = false;
    bool announce = false;
    bool utf8 = false;
    bool password = false;
    bool autoAccept = false;
    bool resume = false;
    int maxSegment = 0;
    quint32 seed = 0;
};

void pump()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

sockaddr_in loopback(quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A loopback socket bound to a free port; listening when asked, else it only holds the port,
// so that connecting to it is refused at once.
int boundSocket(bool listening, quint16& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || (listening && ::listen(fd, 8) != 0)
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        std::abort();
    port = ntohs(a.sin_port);
    return fd;
}

// Each of our writes goes out at once, as its own segment, however small; and the end is a
// reset, so that no connection of the run lingers in TIME_WAIT and uses up the loopback's
// ephemeral ports.
int noDelay(int fd)
{
    const int on = 1;
    const linger reset{1, 0};
    if (fd >= 0) {
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    return fd;
}

quint16 freePort()
{
    quint16 port = 0;
    ::close(boundSocket(false, port));
    return port;
}

// The descriptor of the far end of our connection `ours`, in this process.
int farEnd(int ours)
{
    sockaddr_in mine{};
    sockaddr_in theirs{};
    socklen_t len = sizeof mine;
    ::getsockname(ours, reinterpret_cast<sockaddr*>(&mine), &len);
    len = sizeof theirs;
    ::getpeername(ours, reinterpret_cast<sockaddr*>(&theirs), &len);
    for (int fd = 3; fd < 4096; ++fd) {
        sockaddr_in a{};
        len = sizeof a;
        if (fd == ours || ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET
            || a.sin_port != theirs.sin_port)
            continue;
        sockaddr_in b{};
        len = sizeof b;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&b), &len) == 0 && b.sin_port == mine.sin_port)
            return fd;
    }
    return -1;
}

// Whether `path` lies within `root` once every link on the way is followed; a link that
// leads nowhere counts as outside, since creating through it lands wherever it points.
bool resolvesInside(const QString& root, const QString& path)
{
    char* r = ::realpath(QFile::encodeName(root).constData(), nullptr);
    if (!r)
        return false;
    const QString base = QFile::decodeName(r);
    std::free(r);
    QString p = QDir::cleanPath(path);
    QStringList rest;
    while (!QFileInfo(p).exists()) {
        if (QFileInfo(p).isSymLink() || p == QLatin1String("/"))
            return false;
        rest.prepend(QFileInfo(p).fileName());
        p = QFileInfo(p).path();
    }
    if (rest.contains(QLatin1String("..")) || rest.contains(QLatin1String(".")))
        return false;
    char* c = ::realpath(QFile::encodeName(p).constData(), nullptr);
    if (!c)
        return false;
    const QString found = QFile::decodeName(c);
    std::free(c);
    return found == base || found.startsWith(base + '/');
}

bool oneVisibleLine(const QString& text)
{
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029)
            return false;
    }
    return true;
}

class Rig {
public:
    Rig()
    {
        const QString home = Fuzz::folder() + QStringLiteral("/peer");
        QDir().mkpath(home);
        downloads = home + QStringLiteral("/download");
        // What an offer may run into: a file, a folder, links out of the folder and nowhere.
        const QString elsewhere = Fuzz::folder() + QStringLiteral("/elsewhere");
        QDir().mkpath(downloads + QStringLiteral("/folder"));
        QDir().mkpath(elsewhere);
        QFile file(downloads + QStringLiteral("/exists.txt"));
        if (!file.open(QIODevice::WriteOnly) || file.write("12345") != 5)
            std::abort();
        file.close();
        QFile::link(elsewhere, downloads + QStringLiteral("/outside"));
        QFile::link(elsewhere + QStringLiteral("/none"), downloads + QStringLiteral("/dangling"));
        QFile::link(QStringLiteral("../.."), downloads + QStringLiteral("/folder/up"));

        peer = std::make_unique<Peer>(home);
        PeerState& s = peer->state();
        s.options.logMode = 4; // no transcript file
        s.options.timeStamps = false;
        s.listenAddress = QHostAddress::LocalHost;
        Session& session = peer->session();
        session.limits.maxMessageBytes = kMaxMessageBytes;
        session.limits.byeCloseMs = 1;
        // Read in small pieces: every read sizes a buffer this large first, and inputs are small.
        session.limits.readChunk = 4096;
        auto prompts = std::make_unique<HeadlessPrompts>(s, session);
        headless = prompts.get();
        peer->transfers().setPrompts(std::move(prompts));

        QObject::connect(&s, &PeerState::lineAdded, [this](const QString& text, LineKind kind) {
            if (qEnvironmentVariableIsSet("ZANTIRO_FUZZ_SHOW_LINES")) // to follow one input
                std::fprintf(stderr, "line: %s\n", qPrintable(text));
            FUZZ_CHECK(oneVisibleLine(text), "a shown line holds no raw control character");
            if (kind == LineKind::Message)
                ++chatLines;
        });
        QObject::connect(&session, &Session::loggedIn, [this] { ++logins; });
        // Accepted files are received from a port that refuses at once, never from whatever
        // the offer names on this machine; a port that is no port still goes to the checks.
        QObject::disconnect(&session, &Session::fileOffered, &peer->transfers(), &TransferManager::receiveOffer);
        QObject::connect(&session, &Session::fileOffered,
                         [this](const QString& name, const QString& size, const QString& block, const QString& host,
                                const QString& port) {
                             quint16 p = 0;
                             peer->transfers().receiveOffer(
                                 name, size, block, host,
                                 TransferRules::parsePort(port, p) ? QString::number(refusingPort) : port);
                         });
        QObject::connect(&peer->transfers(), &TransferManager::transferStarted, [this](FileTransfer* t) {
            if (t->type() != FileTransfer::Receiving)
                return;
            FUZZ_CHECK(!t->nameOfFile().contains('/'), "a received file is named by one component");
            FUZZ_CHECK(resolvesInside(downloads, t->pathToFile() + t->nameOfFile()),
                       "an accepted file is received inside the download folder");
        });
        refusing = boundSocket(false, refusingPort);
        listener = boundSocket(true, listenerPort);
        serverPort = freePort();
    }

    void run(const Situation& situation, const QList<QByteArray>& segments);

private:
    bool connectPeer(const Situation& situation);
    // Sends bytes in one write and lets the peer take them; false once it is not connected.
    bool feed(const QByteArray& bytes);
    bool connected() { return peer->session().controlSocket.state() == EventSocket::Connected; }
    void readReplies();
    void checkReplies();
    void disconnectPeer();

    std::unique_ptr<Peer> peer;
    HeadlessPrompts* headless = nullptr;
    QString downloads;
    int refusing = -1;
    quint16 refusingPort = 0;
    int listener = -1;
    quint16 listenerPort = 0;
    quint16 serverPort = 0;

    int fd = -1;     // our end of the control connection
    int farFd = -1;  // the peer's end
    QByteArray sent; // everything we sent, as it went
    QByteArray replies;
    int chatLines = 0;
    int logins = 0;
};

bool Rig::connectPeer(const Situation& situation)
{
    PeerState& s = peer->state();
    Session& session = peer->session();
    s.remoteName = QStringLiteral("<No Name Specified>");
    s.options.downloadFolder = downloads;
    s.options.autoAccept = situation.autoAccept;
    s.options.existingFileDefault = 0;
    s.options.requirePassword = !situation.client && situation.password;
    s.options.serverPassword = kServerPassword;
    headless->existsChoice = situation.resume       ? ExistingFileChoice::Resume
                             : (situation.seed & 1) ? ExistingFileChoice::NumberedName
                                                    : ExistingFileChoice::Cancel;
    session.extensionsOn = situation.extensions;
    session.passwordThrottle = PasswordThrottle(); // every input starts from the same standing
    session.userDisconnected = false;

    if (situation.client) {
        s.connectionMode = ConnectionMode::Client;
        s.connectionHost = QStringLiteral("127.0.0.1");
        s.connectionPort = QString::number(listenerPort);
        s.connectionPassword = kClientPassword;
        session.openConnection();
        for (const Bound bound; bound.open() && (fd < 0 || !connected());) {
            pump();
            if (fd < 0)
                fd = noDelay(::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        }
    } else {
        s.connectionMode = ConnectionMode::Server;
        s.connectionPort = QString::number(serverPort);
        session.openConnection();
        if (session.connectionState() != Session::State::Listening) {
            serverPort = freePort(); // someone took the port: the next input uses another
            return false;
        }
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const sockaddr_in a = loopback(serverPort);
        ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        noDelay(fd);
        for (const Bound bound; bound.open() && !connected();)
            pump();
    }
    FUZZ_CHECK(fd >= 0 && connected(), "a loopback connection comes up");
    farFd = farEnd(fd);
    FUZZ_CHECK(farFd >= 0, "the peer's end of the connection is found");
    return true;
}

bool Rig::feed(const QByteArray& bytes)
{
    if (!connected())
        return false;
    sent += bytes;
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        if (n > 0)
            done += n;
        pump();
        readReplies();
        if (!connected())
            return false;
    }
    // Everything sent is taken off the connection (the program reads whatever arrives).
    for (const Bound bound; bound.open();) {
        pump();
        readReplies();
        if (!connected())
            return false;
        // Nothing left on our side to go out, nothing waiting on theirs to be read.
        int unsent = 0;
        int waiting = 0;
        if (::ioctl(fd, SIOCOUTQNSD, &unsent) == 0 && unsent == 0 && ::ioctl(farFd, FIONREAD, &waiting) == 0
            && waiting == 0 && peer->session().controlSocket.bytesAvailable() == 0)
            return true;
    }
    FUZZ_CHECK(false, "the peer takes what arrives");
    return false;
}

void Rig::readReplies()
{
    static char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        replies.append(buffer, n);
    }
}

// The peer's side: whole frames, each a message it knows, in UTF-8 after its "enc:utf8".
void Rig::checkReplies()
{
    FUZZ_CHECK(replies.isEmpty() || replies.endsWith(ControlFramer::Terminator), "replies are whole messages");
    ControlFramer framer;
    framer.maxMessageBytes = INT_MAX;
    framer.append(replies);
    QByteArray plain;
    qsizetype used = 0;
    bool utf8 = false;
    while (framer.next(plain, used) == ControlFramer::Step::Message) {
        const QString text = ControlFramer::decode(plain, utf8);
        FUZZ_CHECK(ControlMessages::classify(text) != ControlMessages::Kind::Unknown, "every reply is a known message");
        if (text == QLatin1String("enc:utf8"))
            utf8 = true;
    }
}

void Rig::disconnectPeer()
{
    Session& session = peer->session();
    TransferManager& transfers = peer->transfers();
    // What is still on its way out comes first.
    for (const Bound bound; bound.open() && connected() && session.controlSocket.bytesToWrite() > 0;)
        pump();
    // A peer that closed its side may still be flushing its last message.
    for (const Bound bound; bound.open() && !replies.isEmpty() && !replies.endsWith(ControlFramer::Terminator);) {
        pump();
        readReplies();
    }
    pump();
    readReplies();
    ::close(std::exchange(fd, -1));
    farFd = -1;
    transfers.cancelAll();
    session.dropForConnect();
    for (const Bound bound; bound.open() && transfers.busy();)
        pump();
    FUZZ_CHECK(!transfers.busy(), "an offer or transfer ends with its connection");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void Rig::run(const Situation& situation, const QList<QByteArray>& segments)
{
    sent.clear();
    replies.clear();
    chatLines = 0;
    logins = 0;
    if (!connectPeer(situation))
        return;
    Session& session = peer->session();
    bool open = true;
    if (situation.loggedIn) {
        const QString login = situation.client ? QStringLiteral("PSOK") : QStringLiteral("PAuth:") + kServerPassword;
        open = feed(ControlFramer::frame(login));
        FUZZ_CHECK(!open || logins == 1, "the right login is granted");
        if (open && situation.announce)
            open = feed(ControlFramer::frame(QStringLiteral("caps:utf8,verify,token")));
        if (open && situation.announce && situation.utf8)
            open = feed(ControlFramer::frame(QStringLiteral("enc:utf8")));
    }
    const int loginsBefore = logins;
    const int chatBefore = chatLines;
    for (const QByteArray& segment : segments)
        if (open)
            open = feed(segment);

    // What the peer was sent, message by message, as its framer reads it.
    ControlFramer model;
    model.maxMessageBytes = kMaxMessageBytes;
    model.append(sent);
    QByteArray plain;
    qsizetype used = 0;
    bool rightPassword = situation.loggedIn;
    ControlFramer::Step step;
    while ((step = model.next(plain, used)) == ControlFramer::Step::Message) {
        const QString wanted = QStringLiteral("PAuth:") + kServerPassword;
        if (ControlFramer::decode(plain, false) == wanted || ControlFramer::decode(plain, true) == wanted)
            rightPassword = true;
    }
    if (step == ControlFramer::Step::TooLong)
        FUZZ_CHECK(!connected(), "a message past the bound cuts the connection off");
    else
        FUZZ_CHECK(model.buffered() <= kMaxMessageBytes + ControlFramer::Terminator.size(),
                   "an unended message is held within the bound");
    if (situation.password && !situation.client && !rightPassword) {
        FUZZ_CHECK(logins == loginsBefore, "no login without the right password");
        FUZZ_CHECK(chatLines == chatBefore, "no chat shown before the login");
        FUZZ_CHECK(!connected() || !session.peerAuthorised(), "not authorised without the right password");
    }
    disconnectPeer();
    checkReplies();
    if (situation.password && !situation.client && !rightPassword) {
        ControlFramer framer;
        framer.maxMessageBytes = INT_MAX;
        framer.append(replies);
        while (framer.next(plain, used) == ControlFramer::Step::Message)
            FUZZ_CHECK(plain != "PSOK", "no \"PSOK\" without the right password");
    }
}

// The input's messages as the wire carries them, cut into segments.
QList<QByteArray> segmentsOf(const QByteArray& body, const Situation& situation)
{
    QByteArray wire;
    for (const QByteArray& part : body.split('\xFF')) {
        if (part.startsWith('\xFE'))
            wire += part.mid(1);
        else
            wire += scramble(part) + ControlFramer::Terminator;
    }
    QList<QByteArray> segments;
    quint32 state = situation.seed | 1u;
    for (qsizetype at = 0; at < wire.size();) {
        qsizetype n = wire.size() - at;
        // At most kMaxCuts cuts, so that an input's time stays bounded; the rest goes at once.
        if (situation.maxSegment > 0 && segments.size() < kMaxCuts) {
            state = state * 1103515245u + 12345u;
            n = std::min<qsizetype>(n, 1 + static_cast<qsizetype>((state >> 16) % situation.maxSegment));
        }
        segments << wire.mid(at, n);
        at += n;
    }
    return segments;
}

Rig* rig = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Sockets, timers and objects deleted later live from one input into the next, so the
    // per-input leak check would run (slowly) on nearly every input and only find those;
    // it is off unless asked for. The peer is one object for the whole run, and its
    // memory stays bounded by -rss_limit_mb.
    static std::vector<char*> args(*argv, *argv + *argc);
    if (std::none_of(args.begin(), args.end(), [](const char* a) { return std::strstr(a, "-detect_leaks="); })) {
        static char noLeakCheck[] = "-detect_leaks=0";
        args.insert(args.begin() + 1, noLeakCheck);
        args.push_back(nullptr);
        *argc = static_cast<int>(args.size()) - 1;
        *argv = args.data();
    }
    qputenv("QT_NO_GLIB", "1"); // Qt's own event dispatcher turns faster than GLib's
    Fuzz::startApplication();
    static Rig theRig;
    rig = &theRig;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3 || size > 64 * 1024)
        return 0;
    Situation s;
    s.client = data[0] & 1;
    s.loggedIn = data[0] & 2;
    s.extensions = data[0] & 4;
    s.announce = data[0] & 8;
    s.utf8 = data[0] & 16;
    s.password = data[0] & 32;
    s.autoAccept = data[0] & 64;
    s.resume = data[0] & 128;
    s.maxSegment = data[1];
    s.seed = data[2];
    rig->run(s, segmentsOf(Fuzz::bytes(data + 3, size - 3), s));
    return 0;
}
