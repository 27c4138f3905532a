#pragma once
// What every fuzz target shares: the application object the code under test expects, a
// folder of its own, and a check that turns a broken promise into a crash the fuzzer keeps.
#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QHostAddress>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

// A property the code must keep for every input; when it fails, the input is saved as a
// crash with the message on standard error.
#define FUZZ_CHECK(condition, message)                                                                                 \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", (message), __FILE__, __LINE__);                    \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

namespace Fuzz {

// The application object, made once; timers and sockets need it. Qt's warnings about the
// fuzzer's inputs would drown the fuzzer's own output, so only fatal messages remain.
inline void startApplication()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "%s\n", qPrintable(text));
            std::abort();
        }
    });
    static QCoreApplication app(argc, argv);
}

// A folder that lives as long as the run; in memory where the system offers it, since the
// atomic saves under test sync every file they write.
inline QString folder()
{
    static const QTemporaryDir dir(QDir("/dev/shm").exists() ? "/dev/shm/zantiro-fuzz-XXXXXX"
                                                             : QDir::tempPath() + "/zantiro-fuzz-XXXXXX");
    return dir.path();
}

inline QByteArray bytes(const std::uint8_t* data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// Runs the event loop until `done`, at most `ms` milliseconds; whether it came.
inline bool waitUntil(const std::function<bool()>& done, int ms)
{
    const QDeadlineTimer deadline(ms);
    QTimer guard; // an event at the deadline at the latest
    guard.setSingleShot(true);
    guard.start(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return done();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// n consecutive ports free on the loopback address, below the range the system hands out
// for outgoing connections (which could take one). `spread` keeps targets running side by
// side apart.
inline quint16 freePorts(int n, int spread)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const auto base =
            static_cast<quint16>(20000 + (QCoreApplication::applicationPid() * spread + attempt * 16) % 12000);
        std::vector<std::unique_ptr<QTcpServer>> held;
        bool free = true;
        for (int i = 0; i < n && free; ++i) {
            held.push_back(std::make_unique<QTcpServer>());
            free = held.back()->listen(QHostAddress::LocalHost, static_cast<quint16>(base + i));
        }
        if (free)
            return base;
    }
    FUZZ_CHECK(false, "free loopback ports");
    return 0;
}

// The rest of the input, read byte by byte; zeros once it is used up.
struct Script {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool more() const { return at < size; }
    int byte() { return at < size ? data[at++] : 0; }
    QByteArray take(std::size_t n)
    {
        n = std::min(n, size - at);
        const QByteArray out = bytes(data + at, n);
        at += n;
        return out;
    }
};

} // namespace Fuzz
