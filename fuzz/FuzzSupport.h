#pragma once
// What every fuzz target shares: the application object the code under test expects, a
// folder of its own, and a check that turns a broken promise into a crash the fuzzer keeps.
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

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

} // namespace Fuzz
