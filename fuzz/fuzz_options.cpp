// The option file reader: any bytes load without harm, either as a whole option set or as the
// defaults with a message; a set that loaded saves, and the saved file loads as the same set
// and saves to the same bytes. An input whose first byte is odd holds the lines unscrambled
// (split at line feeds), which the target scrambles into a file, so the fuzzer reaches the
// values' parsing without having to learn the scrambling.
#include "FuzzSupport.h"
#include "config/Options.h"
#include "config/Scramble.h"

#include <QDir>
#include <QFile>

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray fileFrom(const QByteArray& input)
{
    if (input.isEmpty() || (input[0] & 1) == 0)
        return input;
    QByteArray file;
    for (const QByteArray& line : input.mid(1).split('\n'))
        file += scramble(line) + "\r\n";
    return file;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Fuzz::startApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QDir dir(Fuzz::folder());
    const QString input = dir.filePath("input/" + QLatin1String(ConfigFile::FileName));
    const QString first = dir.filePath("first/" + QLatin1String(ConfigFile::FileName));
    const QString second = dir.filePath("second/" + QLatin1String(ConfigFile::FileName));
    for (const char* sub : {"input", "first", "second"})
        dir.mkpath(sub);
    QFile::remove(first);
    QFile::remove(second);
    FUZZ_CHECK(write(input, fileFrom(Fuzz::bytes(data, size))), "the input file is written");

    // One program folder for every load, so that folder defaults compare equal.
    const QString program = dir.filePath("program");
    Options read;
    const QString message = ConfigFile::load(input, program, read);
    if (!message.isEmpty()) {
        Options defaults;
        defaults.setDefaults(program);
        FUZZ_CHECK(read == defaults, "a file that does not load gives the defaults");
        return 0;
    }

    const QString saved = ConfigFile::save(first, read);
    Options again;
    FUZZ_CHECK(ConfigFile::load(first, program, again).isEmpty(), "a saved file loads");
    if (saved.isEmpty())
        FUZZ_CHECK(again == read, "a loaded set saves and loads as itself");
    FUZZ_CHECK(ConfigFile::save(second, again).isEmpty(), "a set loaded from a saved file saves whole");
    FUZZ_CHECK(contents(second) == contents(first), "saving what a saved file loads gives the same bytes");
    return 0;
}
