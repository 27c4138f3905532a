#pragma once
#include <QString>

// How a connection is opened: as the client, or as the server that waits for one. None
// stands for a mode not given (or a text that names neither).
enum class ConnectionMode { None, Client, Server };
// The words the option file and the command line use for a mode: "Client" and "Server";
// empty for None.
QString connectionModeName(ConnectionMode mode);
// The mode a word names; None for any other text.
ConnectionMode connectionModeNamed(const QString& name);

// The option set: every setting of the program, with the names the rest of the code uses.
// Sizes are twips kept as text, colours the decimal text of red + 256*green + 65536*blue.
struct Options {
    QString logFolder;
    int logMode = 3;
    QString boxLayout = "0";
    QString connectColor = "32768";
    QString errorColor = "128";
    QString messageColor = "0";
    QString statusColor = "8421504";
    QString mainHeight = "5115";
    QString mainWidth = "4740";
    QString queueHeight = "3180";
    QString queueWidth = "4800";
    QString sitesHeight = "4095";
    QString sitesWidth = "6150";
    QString windowPosition = "2";
    QString downloadFolder;
    QString lastSendFolder;
    int existingFileDefault = 0;
    ConnectionMode connectionType = ConnectionMode::Client;
    // The option file's text for connectionType when it named neither mode; saved back as read.
    QString unknownConnectionType;
    QString serverFilePort = "2001";
    QString serverPort = "2000";
    QString serverPassword = "password";
    QString myAge = "##";
    QString myEmail = "<No E-mail Specified>";
    QString myHomePage = "<No Homepage Specified>";
    QString myName = "<No Name>";
    QString clientAddress = "x.x.x.x";
    QString clientFilePort = "2001";
    QString clientPort = "2000";
    QString clientPassword = "password";
    QString reservedText;

    bool showChatBar = true;
    bool minimizeToTray = false;
    bool timeStamps = true;
    bool autoAccept = false;
    bool autoReconnect = false;
    bool autoResend = false;
    bool sendFileChosen = true;
    bool catcherOnTop = true;
    bool catcherSmall = false;
    bool connectBlink = false;
    bool errorBlink = false;
    bool messageBlink = true;
    bool statusBlink = false;
    bool requirePassword = false;

    // Puts every option to its default; the folder defaults are built from programFolder.
    void setDefaults(const QString& programFolder);

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
// message "Open Config Error : <number> - <description>". An empty folder line (logFolder,
// downloadFolder, lastSendFolder) gives that folder's default beside programFolder.
QString load(const QString& path, const QString& programFolder, Options& opts);

// Writes opts to path through a temporary file renamed over the old one, so an
// interrupted save never leaves a half-written file. Returns an empty text on success,
// else "Close Config Error : <number> - <description>".
//
// A value that would not read back as itself (see storable) is not written. A folder gets
// an empty line, which reads back as its default beside the program folder (the folder of
// path); any other text keeps the value the file held before, or its default when there was
// no readable file. The result names such options, unless the folder refused is the very
// default it reads back as, while every other option is stored.
QString save(const QString& path, const Options& opts);

// Whether a text reads back from the file as itself: every character has a Windows-1252
// code other than 255 (which scrambles like 0), and none is "[" (which scrambles to a
// carriage return and would split its line).
bool storable(const QString& value);

} // namespace ConfigFile
