#include "config/Options.h"

#include "config/SavedFile.h"
#include "config/Scramble.h"
#include "platform/Windows1252.h"

#include <QDir>
#include <QFile>

#include <array>

namespace {

struct Flag {
    int bit;
    bool Options::*member;
};

constexpr std::array<Flag, 14> kFlags = {{
    {1, &Options::showChatBar},
    {2, &Options::minimizeToTray},
    {4, &Options::timeStamps},
    {8, &Options::autoAccept},
    {16, &Options::autoReconnect},
    {64, &Options::autoResend},
    {128, &Options::sendFileChosen},
    {256, &Options::catcherOnTop},
    {512, &Options::catcherSmall},
    {1024, &Options::connectBlink},
    {2048, &Options::errorBlink},
    {4096, &Options::messageBlink},
    {8192, &Options::statusBlink},
    {16384, &Options::requirePassword},
}};

// Lines 1..30 in file order; the two whole numbers are marked by an int member, the
// connection mode by neither.
struct Line {
    QString Options::*text = nullptr;
    int Options::*number = nullptr;
    const char* name;
};

const std::array<Line, 30>& lines()
{
    static const std::array<Line, 30> table = {{
        {&Options::logFolder, nullptr, "LogDir"},
        {nullptr, &Options::logMode, "LogMode"},
        {&Options::boxLayout, nullptr, "BoxLayout"},
        {&Options::connectColor, nullptr, "ConnectColor"},
        {&Options::errorColor, nullptr, "ErrorColor"},
        {&Options::messageColor, nullptr, "MessageColor"},
        {&Options::statusColor, nullptr, "StatusColor"},
        {&Options::mainHeight, nullptr, "MainHeight"},
        {&Options::mainWidth, nullptr, "MainWidth"},
        {&Options::queueHeight, nullptr, "QueueHeight"},
        {&Options::queueWidth, nullptr, "QueueWidth"},
        {&Options::sitesHeight, nullptr, "SitesHeight"},
        {&Options::sitesWidth, nullptr, "SitesWidth"},
        {&Options::windowPosition, nullptr, "WindowPos"},
        {&Options::downloadFolder, nullptr, "DownloadDir"},
        {&Options::lastSendFolder, nullptr, "LastSendDir"},
        {nullptr, &Options::existingFileDefault, "ExistsAlways"},
        {nullptr, nullptr, "ConnType"},
        {&Options::serverFilePort, nullptr, "ServerFilePort"},
        {&Options::serverPort, nullptr, "ServerPort"},
        {&Options::serverPassword, nullptr, "ServerPassword"},
        {&Options::myAge, nullptr, "MyAge"},
        {&Options::myEmail, nullptr, "MyEmail"},
        {&Options::myHomePage, nullptr, "MyHomePage"},
        {&Options::myName, nullptr, "MyName"},
        {&Options::clientAddress, nullptr, "ClientIp"},
        {&Options::clientFilePort, nullptr, "ClientFilePort"},
        {&Options::clientPort, nullptr, "ClientPort"},
        {&Options::clientPassword, nullptr, "ClientPassword"},
        {&Options::reservedText, nullptr, "ReservedText"},
    }};
    return table;
}

// The three folder options. A folder line left empty reads as the folder that setDefaults
// derives from the program folder, which is also where an empty folder leads when used.
bool isFolder(const Line& l)
{
    return l.text == &Options::logFolder || l.text == &Options::downloadFolder || l.text == &Options::lastSendFolder;
}

QString valueText(const Options& o, const Line& l)
{
    if (l.text)
        return o.*(l.text);
    if (l.number)
        return QString::number(o.*(l.number));
    return o.connectionType == ConnectionMode::None ? o.unknownConnectionType : connectionModeName(o.connectionType);
}

// Whole numbers of the file: optional sign and digits, as a 32-bit value.
bool parseWhole(const QString& s, int& out)
{
    bool ok = false;
    const int v = s.trimmed().toInt(&ok);
    if (ok)
        out = v;
    return ok;
}

// Splits the file into lines the way a text reader does: a line ends at a carriage
// return, which may be followed by a line feed; a lone line feed is part of the line.
QList<QByteArray> splitLines(const QByteArray& data)
{
    QList<QByteArray> out;
    qsizetype start = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (data[i] != '\r')
            continue;
        out.append(data.mid(start, i - start));
        if (i + 1 < data.size() && data[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < data.size())
        out.append(data.mid(start)); // last line without its end
    return out;
}

QString openError(int number, const QString& description)
{
    return QStringLiteral("Open Config Error : %1 - %2").arg(number).arg(description);
}

} // namespace

QString connectionModeName(ConnectionMode mode)
{
    switch (mode) {
    case ConnectionMode::Client:
        return QStringLiteral("Client");
    case ConnectionMode::Server:
        return QStringLiteral("Server");
    default:
        return {};
    }
}

ConnectionMode connectionModeNamed(const QString& name)
{
    if (name == QLatin1String("Client"))
        return ConnectionMode::Client;
    if (name == QLatin1String("Server"))
        return ConnectionMode::Server;
    return ConnectionMode::None;
}

void Options::setDefaults(const QString& programFolder)
{
    *this = Options();
    const QString folder = QDir::cleanPath(programFolder);
    logFolder = QDir(folder).filePath("log") + '/';
    downloadFolder = QDir(folder).filePath("download");
    lastSendFolder = QDir::toNativeSeparators(folder);
}

int Options::configFlags() const
{
    int flags = 0;
    for (const Flag& f : kFlags)
        if (this->*(f.member))
            flags += f.bit;
    return flags;
}

void Options::setConfigFlags(int flags)
{
    for (const Flag& f : kFlags)
        this->*(f.member) = (flags & f.bit) != 0;
}

namespace ConfigFile {

bool storable(const QString& value)
{
    if (!Windows1252::representable(value))
        return false;
    const QByteArray plain = Windows1252::encode(value);
    const QByteArray line = scramble(plain);
    return !line.contains('\r') && unscramble(line) == plain;
}

QString load(const QString& path, const QString& programFolder, Options& opts)
{
    opts.setDefaults(programFolder);
    if (!QFileInfo::exists(path))
        return {};

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return openError(75, QStringLiteral("Path/File access error (%1)").arg(file.errorString()));
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return openError(57, QStringLiteral("Device I/O error (%1)").arg(file.errorString()));

    const QList<QByteArray> raw = splitLines(data);
    if (raw.size() < LineCount)
        return openError(62, QStringLiteral("Input past end of file"));

    // Any fault leaves the whole set at its defaults, also the options already read.
    auto fail = [&](const QString& message) {
        opts.setDefaults(programFolder);
        return message;
    };
    for (int i = 0; i < 30; ++i) {
        const Line& l = lines()[i];
        const QString value = Windows1252::decode(unscramble(raw[i]));
        if (l.text) {
            if (!value.isEmpty() || !isFolder(l))
                opts.*(l.text) = value;
        } else if (!l.number) {
            opts.connectionType = connectionModeNamed(value);
            if (opts.connectionType == ConnectionMode::None)
                opts.unknownConnectionType = value;
        } else if (!parseWhole(value, opts.*(l.number)))
            return fail(openError(13, QStringLiteral("Type mismatch (line %1, %2)").arg(i + 1).arg(l.name)));
    }
    const QString flagsText = Windows1252::decode(unscramble(raw[30])).trimmed();
    bool ok = false;
    const int flags = flagsText.toInt(&ok);
    if (!ok || flags < 0 || flagsText.size() > 5)
        return fail(openError(13, QStringLiteral("Type mismatch (line 31, ConfigFlags)")));
    opts.setConfigFlags(flags);
    return {};
}

QString save(const QString& path, const Options& opts)
{
    const QString programFolder = QFileInfo(path).absolutePath();
    Options defaults;
    defaults.setDefaults(programFolder);
    // What the file reads as now (the defaults when it is missing or unreadable): a text
    // that cannot be stored keeps this value rather than becoming another one.
    Options previous;
    load(path, programFolder, previous);
    QStringList kept;
    QStringList derived;

    QByteArray out;
    for (const Line& l : lines()) {
        QString value = valueText(opts, l);
        if (!storable(value)) {
            if (isFolder(l)) {
                // An empty line reads back as the folder beside the program; no news when
                // that is the folder in use (a program folder the file cannot hold).
                if (value != valueText(defaults, l))
                    derived << QString::fromLatin1(l.name);
                value.clear();
            } else {
                kept << QString::fromLatin1(l.name);
                value = valueText(previous, l);
            }
        }
        out += scramble(Windows1252::encode(value));
        out += "\r\n";
    }
    out += scramble(QByteArray::number(opts.configFlags()));
    out += "\r\n";

    if (const QString error = saveWholeFile(path, out); !error.isEmpty())
        return QStringLiteral("Close Config Error : 75 - Path/File access error (%1)").arg(error);
    if (kept.isEmpty() && derived.isEmpty())
        return {};
    QString message = QStringLiteral("Close Config Error : 0 - The option file cannot hold \"[\", \"%1\" or "
                                     "characters outside Windows-1252.")
                          .arg(QChar(0xFF));
    if (!kept.isEmpty())
        message += QStringLiteral(" Kept as stored before: %1.").arg(kept.join(", "));
    if (!derived.isEmpty())
        message += QStringLiteral(" Saved as the folders beside the program: %1.").arg(derived.join(", "));
    return message;
}

} // namespace ConfigFile
