#include "core/Startup.h"

#include "util/FileSystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <csignal>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

bool isDebugArgument(const QString& arg)
{
    const QString lower = arg.toLower();
    return lower == QLatin1String("--debug") || lower.contains(QLatin1String("/debug"));
}

// Indexes of the arguments that are switches (not program name, not option values).
template <typename F>
void forEachSwitch(const QStringList& args, const QStringList& optionsWithValue, F f)
{
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (optionsWithValue.contains(a)) {
            ++i; // skip its value
            continue;
        }
        const qsizetype eq = a.indexOf('=');
        if (a.startsWith(QLatin1String("--")) && eq > 0 && optionsWithValue.contains(a.left(eq)))
            continue;
        f(i);
    }
}

} // namespace

namespace Startup {

QString programFolder(const QString& homeArgument)
{
    if (!homeArgument.isEmpty())
        return QDir(homeArgument).absolutePath();
    const QString env = qEnvironmentVariable("ZANTIRO_HOME");
    if (!env.isEmpty())
        return QDir(env).absolutePath();
    // A program run from where it was built or unpacked keeps its files beside it. An
    // installed one (its menu entry lies beside its bin folder) never writes into bin, even
    // where bin is writable (a prefix in the home folder, or root): each user gets a folder.
    QString executableFolder = QCoreApplication::applicationDirPath();
    const bool installed =
        QFileInfo::exists(executableFolder + QStringLiteral("/../share/applications/zantiro.desktop"));
    if (!executableFolder.isEmpty() && !installed && QFileInfo(executableFolder).isWritable())
        return executableFolder;
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

bool debugSwitch(const QStringList& arguments, const QStringList& optionsWithValue)
{
    bool found = false;
    forEachSwitch(arguments, optionsWithValue, [&](qsizetype i) { found = found || isDebugArgument(arguments[i]); });
    return found;
}

QStringList withoutDebugSwitch(const QStringList& arguments, const QStringList& optionsWithValue)
{
    QList<qsizetype> drop;
    forEachSwitch(arguments, optionsWithValue, [&](qsizetype i) {
        if (isDebugArgument(arguments[i]))
            drop.append(i);
    });
    QStringList out;
    for (qsizetype i = 0; i < arguments.size(); ++i)
        if (!drop.contains(i))
            out.append(arguments[i]);
    return out;
}

QString optionValue(const QStringList& arguments, const QString& name)
{
    QString value;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == name && i + 1 < arguments.size())
            value = arguments[++i];
        else if (a.startsWith(name + '='))
            value = a.mid(name.size() + 1);
    }
    return value;
}

QStringList makeFolders(const QString& folder)
{
    QStringList failed;
    for (const char* sub : {"log", "download"}) {
        const QString path = QDir(folder).filePath(QLatin1String(sub));
        if (!FileSystem::folderExists(path) && !FileSystem::makePath(path))
            failed.append(path);
    }
    return failed;
}

void ignoreFileSizeSignal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

void keepBuffersInHeap()
{
#ifdef __GLIBC__
    // Socket and TLS buffers of a few hundred kilobytes come and go many times a second
    // during a transfer. Above the default threshold each one is a fresh mapping whose pages
    // fault in again, which costs more system time than the copying; from the heap they are
    // reused. What a peer holds stays bounded by its buffers either way.
    mallopt(M_MMAP_THRESHOLD, 8 << 20);
    // Fixing the threshold above leaves the heap's own at 128 KiB: each time such buffers were
    // freed at its top the heap gave the pages back, and they faulted in again on the next.
    mallopt(M_TRIM_THRESHOLD, 8 << 20);
#endif
}

} // namespace Startup
