#include "cli/CliArguments.h"

#include "config/ProgramSettings.h"
#include "config/Scramble.h"
#include "config/Sites.h"
#include "core/Startup.h"
#include "session/Session.h"

#include <QCommandLineParser>
#include <QDir>
#include <QHash>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>

namespace {

// The options that take a value; "--debug" is read apart, as the desktop program reads it.
const QStringList kValueOptions = {"--home",     "--listen", "--connect",    "--password", "--require-password",
                                   "--name",     "--email",  "--age",        "--homepage", "--send",
                                   "--download", "--exists", "--exit-after", "--site",     "--private"};

// The switches, each with the field it turns on.
struct Switch {
    const char* option;
    bool CliArguments::*field;
};
const Switch kSwitches[] = {{"--sites", &CliArguments::listSites},
                            {"--identity", &CliArguments::showIdentity},
                            {"--trust-new-identity", &CliArguments::trustNewIdentity},
                            {"--no-extensions", &CliArguments::noExtensions},
                            {"--auto-reconnect", &CliArguments::autoReconnect},
                            {"--auto-resend", &CliArguments::autoResend},
                            {"--auto-accept", &CliArguments::autoAccept},
                            {"--exit-when-done", &CliArguments::exitWhenDone}};

// The options that override a text of the option set, each with its field and the flag that says it
// was given.
struct Override {
    const char* option;
    bool CliArguments::*given;
    QString CliArguments::*field;
};
const Override kOverrides[] = {
    {"--password", &CliArguments::hasPassword, &CliArguments::password},
    {"--require-password", &CliArguments::hasRequirePassword, &CliArguments::requirePassword},
    {"--name", &CliArguments::hasName, &CliArguments::name},
    {"--email", &CliArguments::hasEmail, &CliArguments::email},
    {"--age", &CliArguments::hasAge, &CliArguments::age},
    {"--homepage", &CliArguments::hasHomepage, &CliArguments::homepage}};

const QString kDoubleDash = QStringLiteral("--");

// A parser that knows every option of zantiro-cli by its name without the dashes.
void addOptions(QCommandLineParser& parser)
{
    for (const QString& option : kValueOptions)
        parser.addOption(QCommandLineOption(option.mid(2), QString(), QStringLiteral("value")));
    for (const Switch& s : kSwitches)
        parser.addOption(QCommandLineOption(QString::fromLatin1(s.option).mid(2)));
}

// The argument the parser could not place, by its index in the command line, and what to say about
// it. No index: every argument is an option or the value of one.
struct Misfit {
    qsizetype index = -1;
    QString problem;
};

// What is wrong with argument: an option that takes no value given one ("--sites=1", "--bogus=1"),
// else an argument that is no option of zantiro-cli.
QString misfitProblem(const QString& argument)
{
    if (const qsizetype eq = argument.indexOf('='); argument.startsWith(kDoubleDash) && eq > 0)
        return QStringLiteral("option %1 takes no value").arg(argument.left(eq));
    return QStringLiteral("unknown argument \"%1\"").arg(argument);
}

// Whether argument is one of the switches, written without a value.
bool isSwitch(const QString& argument)
{
    return std::any_of(std::begin(kSwitches), std::end(kSwitches),
                       [&](const Switch& s) { return argument == QLatin1String(s.option); });
}

// The first argument that is no option of zantiro-cli, found by walking the command line as the
// parser reads it: a value option takes the next argument as its value whatever it looks like, or
// its value after "=". Only arguments in an option's place are looked at, so a value (a password
// that starts with a dash) is never named in the complaint.
Misfit firstMisfit(const QStringList& arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (kValueOptions.contains(argument)) {
            if (i + 1 == arguments.size())
                return {i, QStringLiteral("option %1 needs a value").arg(argument)};
            ++i;
            continue;
        }
        const bool valueGiven = argument.startsWith(kDoubleDash) && argument.indexOf('=') > 2
                                && kValueOptions.contains(argument.section('=', 0, 0));
        if (!valueGiven && !isSwitch(argument))
            return {i, misfitProblem(argument)};
    }
    return {};
}

bool portText(const QString& text)
{
    quint16 port = 0;
    return Session::parseControlPort(text, port);
}

// A login carries Windows-1252 without "ÿ"; a password with other characters would arrive changed
// and match passwords that differ from it there.
QString passwordProblem(const QString& what, const QString& password)
{
    // Counted, not named: the line must not give away part of the password.
    int lost = 0;
    for (const uint code : password.toUcs4()) {
        const char32_t c = code;
        lost += !isScramblable(QString::fromUcs4(&c, 1));
    }
    if (lost == 0)
        return {};
    return QStringLiteral("%1 holds characters a login cannot carry exactly (%2 of them) - use Windows-1252 "
                          "characters other than \"%3\"")
        .arg(what, QString::number(lost), QChar(0xFF));
}

// A line of the sites file that could not be read, named on standard error.
void complain(const QString& text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, bytes.size(), stderr);
    std::fflush(stderr);
}

} // namespace

QString CliArguments::usage()
{
    return QStringLiteral("usage: zantiro-cli [--home DIR] [--debug] (--listen PORT | --connect "
                          "HOST:PORT | --site PATH)\n"
                          "                   [--password PW] [--require-password PW] [--name "
                          "NAME] [--email TEXT]\n"
                          "                   [--age TEXT] [--homepage URL] [--auto-reconnect] "
                          "[--auto-resend]\n"
                          "                   [--send PATH]... [--auto-accept] [--download DIR]\n"
                          "                   [--exists overwrite|resume|rename|cancel] "
                          "[--exit-when-done] [--exit-after N]\n"
                          "                   [--no-extensions] [--private auto|always|never] "
                          "[--trust-new-identity]\n"
                          "       zantiro-cli [--home DIR] --sites\n"
                          "       zantiro-cli [--home DIR] --identity\n"
                          "--sites lists the saved sites; --site connects to one by its folders "
                          "and name, e.g. Friends/Anna,\n"
                          "with its address, port and password (--password overrides the "
                          "password).\n"
                          "--no-extensions speaks only the plain protocol: no UTF-8 text, "
                          "checksums or transfer tokens\n"
                          "with another peer of this program.\n"
                          "--private: with another peer of this program the connection is private "
                          "(TLS 1.3) when it can\n"
                          "be (auto, the default), always (else not connected) or never. "
                          "--identity prints this\n"
                          "installation's key code; --trust-new-identity accepts a site's changed "
                          "identity (and keeps it).\n"
                          "Standard input: chat lines; /send PATH, /ping, /info (the peer's "
                          "record), /disconnect, /quit.\n"
                          "File queue: /queue lists it (N, offered name, path, from the head); "
                          "/stop, /go;\n"
                          "            /remove N, /top N act on entry N.");
}

QString CliArguments::parse(const QStringList& arguments)
{
    debug = Startup::debugSwitch(arguments, kValueOptions);
    const QStringList given = Startup::withoutDebugSwitch(arguments, kValueOptions);
    QCommandLineParser parser;
    addOptions(parser);
    const bool understood = parser.parse(given);
    const Misfit misfit = firstMisfit(given);
    if (misfit.index < 0 && understood) {
        const QString problem = readOptions(parser);
        return problem.isEmpty() ? checkTogether() : problem;
    }
    // The options before the misfit come first, and so do their problems.
    QCommandLineParser before;
    addOptions(before);
    if (misfit.index < 0) // the parser refused what the walk let pass: name its complaint
        return parser.errorText();
    if (before.parse(given.first(misfit.index)))
        if (QString problem = readOptions(before); !problem.isEmpty())
            return problem;
    return misfit.problem;
}

QString CliArguments::readOptions(const QCommandLineParser& parser)
{
    // Every option in the order given; a repeated one takes its values one after the other.
    QHash<QString, qsizetype> seen;
    for (const QString& name : parser.optionNames()) {
        const QStringList values = parser.values(name);
        const qsizetype occurrence = seen[name]++;
        const QString value = occurrence < values.size() ? values[occurrence] : QString();
        if (QString problem = readOption(kDoubleDash + name, value); !problem.isEmpty())
            return problem;
    }
    return {};
}

QString CliArguments::readOption(const QString& option, const QString& value)
{
    for (const Switch& s : kSwitches)
        if (option == QLatin1String(s.option)) {
            this->*s.field = true;
            return {};
        }
    for (const Override& o : kOverrides)
        if (option == QLatin1String(o.option)) {
            this->*o.given = true;
            this->*o.field = value;
            return {};
        }
    if (option == QLatin1String("--home")) {
        home = value;
        return {};
    }
    if (option == QLatin1String("--listen") || option == QLatin1String("--connect")
        || option == QLatin1String("--site"))
        return readMode(option, value);
    return readTransferOption(option, value);
}

QString CliArguments::readMode(const QString& option, const QString& value)
{
    if (option == QLatin1String("--site")) {
        if (!mode.isEmpty())
            return QStringLiteral("give either --listen, --connect or --site, once");
        mode = QStringLiteral("Client");
        site = value;
        return {};
    }
    if (!mode.isEmpty())
        return QStringLiteral("give either --listen or --connect, once");
    if (option == QLatin1String("--listen")) {
        if (!portText(value))
            return QStringLiteral("--listen needs a port from 1 to 65533, not \"%1\"").arg(value);
        mode = QStringLiteral("Server");
        port = value;
        return {};
    }
    const qsizetype colon = value.lastIndexOf(':');
    if (colon <= 0 || !portText(value.mid(colon + 1)))
        return QStringLiteral("--connect needs HOST:PORT with a port from 1 to "
                              "65533, not \"%1\"")
            .arg(value);
    mode = QStringLiteral("Client");
    host = value.left(colon);
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2); // [::1]:2000
    port = value.mid(colon + 1);
    return {};
}

QString CliArguments::readTransferOption(const QString& option, const QString& value)
{
    if (option == QLatin1String("--send")) {
        if (value.isEmpty())
            return QStringLiteral("--send needs a path");
        sends << value;
    } else if (option == QLatin1String("--download")) {
        if (value.isEmpty())
            return QStringLiteral("--download needs a folder");
        download = value;
    } else if (option == QLatin1String("--exists")) {
        const QStringList choices = {"cancel", "overwrite", "resume", "rename"};
        exists = static_cast<int>(choices.indexOf(value));
        if (exists < 0)
            return QStringLiteral("--exists takes overwrite, resume, rename or "
                                  "cancel, not \"%1\"")
                .arg(value);
    } else if (option == QLatin1String("--private")) {
        PrivateMode parsed{};
        if (!ProgramSettings::parseMode(value, parsed))
            return QStringLiteral("--private takes auto, always or never, not \"%1\"").arg(value);
        privateMode = value;
    } else if (option == QLatin1String("--exit-after")) {
        bool ok = false;
        exitAfter = value.toInt(&ok);
        if (!ok || exitAfter < 1)
            return QStringLiteral("--exit-after needs a count of 1 or more, not \"%1\"").arg(value);
    }
    return {};
}

QString CliArguments::checkTogether()
{
    if (listSites)
        return mode.isEmpty() ? QString() : QStringLiteral("--sites takes no --listen, --connect or --site");
    if (showIdentity)
        return mode.isEmpty() ? QString() : QStringLiteral("--identity takes no --listen, --connect or --site");
    if (mode.isEmpty())
        return QStringLiteral("give --listen PORT or --connect HOST:PORT");
    if (!site.isEmpty())
        if (QString problem = readSite(); !problem.isEmpty())
            return problem;
    if (QString problem = passwordProblem(QStringLiteral("--password"), password); !problem.isEmpty())
        return problem;
    return passwordProblem(QStringLiteral("--require-password"), requirePassword);
}

QString CliArguments::readSite()
{
    SiteTree tree;
    SitesFile::load(QDir(Startup::programFolder(home)).filePath(SitesFile::FileName), tree);
    const SiteNode* node = tree.findPath(site);
    if (!node || node->folder)
        return QStringLiteral("no saved site \"%1\" (--sites lists them)").arg(site);
    if (!portText(node->port))
        return QStringLiteral("the site \"%1\" has no usable port (\"%2\")").arg(site, node->port);
    host = node->ip;
    port = node->port;
    if (hasPassword)
        return {};
    hasPassword = true;
    password = node->password;
    return passwordProblem(QStringLiteral("the password of the site \"%1\"").arg(site), password);
}

QStringList CliArguments::siteLines() const
{
    SiteTree tree;
    const QStringList problems =
        SitesFile::load(QDir(Startup::programFolder(home)).filePath(SitesFile::FileName), tree);
    for (const QString& problem : problems)
        complain(problem);
    QStringList out;
    const std::function<void(const SiteNode*, int)> walk = [&](const SiteNode* node, int level) {
        const QString indent(2 * qsizetype(level), ' ');
        out << (node->folder ? indent + node->name : indent + node->name + '\t' + node->ip + ':' + node->port);
        for (const auto& child : node->children)
            walk(child.get(), level + 1);
    };
    walk(tree.root(), 0);
    return out;
}
