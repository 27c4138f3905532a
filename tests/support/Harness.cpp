#include "support/Harness.h"

#include "session/Session.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool fullLogFile(const QString& folder)
{
    return QFile::exists("/dev/full") && QDir().mkpath(folder) && QFile::link("/dev/full", folder + "QvLogs.log");
}

bool makeSpecialFile(const QString& path, bool socket)
{
    const QByteArray name = QFile::encodeName(path);
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    if (!socket)
        return ::mkfifo(name.constData(), 0600) == 0;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, name.constData(), static_cast<size_t>(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return bound;
}

FileSizeLimit::FileSizeLimit(qint64 bytes) : handler(std::signal(SIGXFSZ, SIG_IGN))
{
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    oldCurrent = limit.rlim_cur, oldMaximum = limit.rlim_max;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit()
{
    const rlimit old{static_cast<rlim_t>(oldCurrent), static_cast<rlim_t>(oldMaximum)};
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler);
}

QByteArray randomBytes(qint64 n, quint32 seed)
{
    QList<quint32> words((n + 3) / 4);
    QRandomGenerator(seed).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char*>(words.constData()), n);
}

quint16 freePortTriple()
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        // Below the system's ephemeral range (32768 and up), where outgoing connections of
        // other tests could take a port between this check and its use.
        const auto base = static_cast<quint16>(20000 + QRandomGenerator::global()->bounded(12000));
        // Two triples handed out one after the other are both free until used: they must
        // not overlap.
        static QList<quint16> given;
        if (std::any_of(given.cbegin(), given.cend(), [base](quint16 g) { return std::abs(g - base) < 3; }))
            continue;
        QTcpServer a, b, c;
        if (a.listen(QHostAddress::LocalHost, base) && b.listen(QHostAddress::LocalHost, base + 1)
            && c.listen(QHostAddress::LocalHost, base + 2)) {
            given.append(base);
            return base;
        }
    }
    return 0;
}

LineRecorder::LineRecorder(PeerState& ctx)
{
    ctx.options.timeStamps = false;
    connect(&ctx, &PeerState::lineAdded, this, [this](const QString& text, LineKind kind) {
        lines.append(text);
        kinds.append(int(kind));
    });
}

int LineRecorder::indexStarting(const QString& prefix) const
{
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith(prefix))
            return i;
    return -1;
}

TestPeer::TestPeer(const QString& name)
{
    peer = std::make_unique<Peer>(home.path());
    ctx = &peer->state();
    ctx->listenAddress = QHostAddress::LocalHost;
    ctx->options.myName = name;
    rec = std::make_unique<LineRecorder>(*ctx);
    Session& s = peer->session();
    s.limits.loginTimeoutMs = 3000;
    s.limits.reconnectDelayMs = 50;
    s.limits.reconnectPauseMs = 100;
}

void TestPeer::listen(quint16 port)
{
    ctx->connectionMode = ConnectionMode::Server;
    ctx->connectionPort = QString::number(port);
    peer->session().openConnection();
}

void TestPeer::connectTo(quint16 port, const QString& password)
{
    ctx->connectionMode = ConnectionMode::Client;
    ctx->connectionHost = QStringLiteral("127.0.0.1");
    ctx->connectionPort = QString::number(port);
    ctx->connectionPassword = password;
    peer->session().openConnection();
}

bool connectPeers(TestPeer& server, TestPeer& client, quint16 port, const QString& password)
{
    server.listen(port);
    client.connectTo(port, password);
    const QString change = QStringLiteral("*** Remote User Info Change (");
    return QTest::qWaitFor(
        [&] { return server.rec->indexStarting(change) >= 0 && client.rec->indexStarting(change) >= 0; }, 5000);
}
