#pragma once
#include <QString>
#include <QStringList>

class PeerState;

// What both programs do before anything else: pick the program folder, read the debug
// switch, prepare the folders.
namespace Startup {

// The program folder: the --home value when given, else $ZANTIRO_HOME, else the
// executable's folder when it is writable, else the per-user data folder.
QString programFolder(const QString& homeArgument);

// True when an argument that is not the value of an option holds "/debug" (any case,
// also glued inside a longer word) or is "--debug". optionsWithValue names the options
// whose next argument is a value ("--home", ...); "--home=/x/debug" counts as a value too.
bool debugSwitch(const QStringList& arguments, const QStringList& optionsWithValue);

// The arguments with every debug switch argument removed, for a strict option parser.
QStringList withoutDebugSwitch(const QStringList& arguments, const QStringList& optionsWithValue);

// The value of option `name` ("--home DIR" or "--home=DIR"), empty when not given.
QString optionValue(const QStringList& arguments, const QString& name);

// Creates "log" and "download" under the program folder when missing. Returns the folders
// that could not be created (the program goes on without them).
QStringList makeFolders(const QString& programFolder);

// A write past the file-size limit (ulimit -f) fails with an error instead of ending the
// program with SIGXFSZ, so a transfer ends with an error line.
void ignoreFileSizeSignal();

// Large short-lived buffers are taken from the heap instead of fresh mappings (glibc).
void keepBuffersInHeap();

} // namespace Startup
