#pragma once
#include <QString>

// The option set: every setting of the program, with the names the rest of the code uses.
// Sizes are twips kept as text, colours the decimal text of red + 256*green + 65536*blue.
struct Options {
    QString LogDir;
    int LogMode = 3;
    QString BoxLayout = "0";
    QString ConnectColor = "32768";
    QString ErrorColor = "128";
    QString MessageColor = "0";
    QString StatusColor = "8421504";
    QString MainHeight = "5115";
    QString MainWidth = "4740";
    QString QueueHeight = "3180";
    QString QueueWidth = "4800";
    QString SitesHeight = "4095";
    QString SitesWidth = "6150";
    QString WindowPos = "2";
    QString DownloadDir;
    QString LastSendDir;
    int ExistsAlways = 0;
    QString ConnType = "Client";
    QString ServerFilePort = "2001";
    QString ServerPort = "2000";
    QString ServerPassword = "password";
    QString MyAge = "##";
    QString MyEmail = "<No E-mail Specified>";
    QString MyHomePage = "<No Homepage Specified>";
    QString MyName = "<No Name>";
    QString ClientIp = "x.x.x.x";
    QString ClientFilePort = "2001";
    QString ClientPort = "2000";
    QString ClientPassword = "password";
    QString ReservedText;

    bool ShowChatBar = true;
    bool MinToTray = false;
    bool TimeStamp = true;
    bool AutoAccept = false;
    bool AutoReconnect = false;
    bool AutoResend = false;
    bool SendFileChosen = true;
    bool CatcherOnTop = true;
    bool CatcherSmall = false;
    bool ConnectBlink = false;
    bool ErrorBlink = false;
    bool MessageBlink = true;
    bool StatusBlink = false;
    bool RequirePassword = false;

    // Puts every option to its default; the folder defaults are built from programFolder.
    void SetDefaults(const QString& programFolder);

    // The Booleans packed into one number (line 31 of the option file), and back.
    int configFlags() const;
    void setConfigFlags(int flags);

    bool operator==(const Options&) const = default;
};

// The option file "qvcfg.cfg": 31 scrambled lines, one value each.
namespace ConfigFile {

inline constexpr char FileName[] = "qvcfg.cfg";
inline constexpr int LineCount = 31;

// Fills opts from the file at path. A missing file gives the defaults silently (empty
// result). A short, malformed or unreadable file gives the defaults and returns the
// message "Open Config Error : <number> - <description>". An empty folder line (LogDir,
// DownloadDir, LastSendDir) gives that folder's default beside programFolder.
QString LoadConfig(const QString& path, const QString& programFolder, Options& opts);

// Writes opts to path through a temporary file renamed over the old one, so an
// interrupted save never leaves a half-written file. Returns an empty text on success,
// else "Close Config Error : <number> - <description>".
//
// A value that would not read back as itself (see storable) is not written. A folder gets
// an empty line, which reads back as its default beside the program folder (the folder of
// path); any other text keeps the value the file held before, or its default when there was
// no readable file. The result names such options, unless the folder refused is the very
// default it reads back as, while every other option is stored.
QString SaveConfig(const QString& path, const Options& opts);

// Whether a text reads back from the file as itself: every character has a Windows-1252
// code other than 255 (which scrambles like 0), and none is "[" (which scrambles to a
// carriage return and would split its line).
bool storable(const QString& value);

} // namespace ConfigFile
