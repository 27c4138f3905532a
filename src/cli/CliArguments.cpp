#include "cli/CliArguments.h"

#include "config/Scramble.h"
#include "config/Sites.h"
#include "core/Startup.h"
#include "session/Session.h"

#include <QDir>

#include <cstdio>
#include <functional>

namespace {

const QStringList kValueOptions = {"--home",     "--listen", "--connect",    "--password", "--require-password",
                                   "--name",     "--email",  "--age",        "--homepage", "--send",
                                   "--download", "--exists", "--exit-after", "--site"};

bool portText(const QString& text)
{
    quint16 port = 0;
    return Session::parseControlPort(text, port);
}

// A login carries Windows-1252 without "ÿ"; a password with other characters would arrive
// changed and match passwords that differ from it there.
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
    return QStringLiteral(
        "usage: zantiro-cli [--home DIR] [--debug] (--listen PORT | --connect HOST:PORT | --site PATH)\n"
        "                   [--password PW] [--require-password PW] [--name NAME] [--email TEXT]\n"
        "                   [--age TEXT] [--homepage URL] [--auto-reconnect] [--auto-resend]\n"
        "                   [--send PATH]... [--auto-accept] [--download DIR]\n"
        "                   [--exists overwrite|resume|rename|cancel] [--exit-when-done] [--exit-after N]\n"
        "                   [--no-extensions]\n"
        "       zantiro-cli [--home DIR] --sites\n"
        "--sites lists the saved sites; --site connects to one by its folders and name, e.g. Friends/Anna,\n"
        "with its address, port and password (--password overrides the password).\n"
        "--no-extensions speaks only the plain protocol: no UTF-8 text, checksums or transfer tokens\n"
        "with another peer of this program.\n"
        "Standard input: chat lines; /send PATH, /ping, /info (the peer's record), /disconnect, /quit.\n"
        "File queue: /queue lists it (N, offered name, path, from the head); /stop, /go;\n"
        "            /remove N, /top N act on entry N.");
}

QString CliArguments::parse(const QStringList& arguments)
{
    debug = Startup::debugSwitch(arguments, kValueOptions);
    const QStringList a = Startup::withoutDebugSwitch(arguments, kValueOptions);
    for (qsizetype i = 1; i < a.size(); ++i) {
        QString opt = a[i];
        QString value;
        bool inlineValue = false;
        if (const qsizetype eq = opt.indexOf('='); opt.startsWith(QLatin1String("--")) && eq > 0) {
            value = opt.mid(eq + 1);
            opt = opt.left(eq);
            inlineValue = true;
        }
        if (kValueOptions.contains(opt)) {
            if (!inlineValue) {
                if (i + 1 >= a.size())
                    return QStringLiteral("option %1 needs a value").arg(opt);
                value = a[++i];
            }
        } else if (inlineValue) {
            return QStringLiteral("option %1 takes no value").arg(opt);
        }

        if (opt == QLatin1String("--home")) {
            home = value;
        } else if (opt == QLatin1String("--listen")) {
            if (!mode.isEmpty())
                return QStringLiteral("give either --listen or --connect, once");
            if (!portText(value))
                return QStringLiteral("--listen needs a port from 1 to 65533, not \"%1\"").arg(value);
            mode = QStringLiteral("Server");
            port = value;
        } else if (opt == QLatin1String("--connect")) {
            if (!mode.isEmpty())
                return QStringLiteral("give either --listen or --connect, once");
            const qsizetype colon = value.lastIndexOf(':');
            if (colon <= 0 || !portText(value.mid(colon + 1)))
                return QStringLiteral("--connect needs HOST:PORT with a port from 1 to 65533, not \"%1\"").arg(value);
            mode = QStringLiteral("Client");
            host = value.left(colon);
            if (host.startsWith('[') && host.endsWith(']'))
                host = host.mid(1, host.size() - 2); // [::1]:2000
            port = value.mid(colon + 1);
        } else if (opt == QLatin1String("--site")) {
            if (!mode.isEmpty())
                return QStringLiteral("give either --listen, --connect or --site, once");
            mode = QStringLiteral("Client");
            site = value;
        } else if (opt == QLatin1String("--sites")) {
            listSites = true;
        } else if (opt == QLatin1String("--password")) {
            hasPassword = true;
            password = value;
        } else if (opt == QLatin1String("--require-password")) {
            hasRequirePassword = true;
            requirePassword = value;
        } else if (opt == QLatin1String("--name")) {
            hasName = true;
            name = value;
        } else if (opt == QLatin1String("--email")) {
            hasEmail = true;
            email = value;
        } else if (opt == QLatin1String("--age")) {
            hasAge = true;
            age = value;
        } else if (opt == QLatin1String("--homepage")) {
            hasHomepage = true;
            homepage = value;
        } else if (opt == QLatin1String("--no-extensions")) {
            noExtensions = true;
        } else if (opt == QLatin1String("--auto-reconnect")) {
            autoReconnect = true;
        } else if (opt == QLatin1String("--auto-resend")) {
            autoResend = true;
        } else if (opt == QLatin1String("--send")) {
            if (value.isEmpty())
                return QStringLiteral("--send needs a path");
            sends << value;
        } else if (opt == QLatin1String("--auto-accept")) {
            autoAccept = true;
        } else if (opt == QLatin1String("--download")) {
            if (value.isEmpty())
                return QStringLiteral("--download needs a folder");
            download = value;
        } else if (opt == QLatin1String("--exists")) {
            const QStringList choices = {"cancel", "overwrite", "resume", "rename"};
            exists = static_cast<int>(choices.indexOf(value));
            if (exists < 0)
                return QStringLiteral("--exists takes overwrite, resume, rename or cancel, not \"%1\"").arg(value);
        } else if (opt == QLatin1String("--exit-when-done")) {
            exitWhenDone = true;
        } else if (opt == QLatin1String("--exit-after")) {
            bool ok = false;
            exitAfter = value.toInt(&ok);
            if (!ok || exitAfter < 1)
                return QStringLiteral("--exit-after needs a count of 1 or more, not \"%1\"").arg(value);
        } else {
            return QStringLiteral("unknown argument \"%1\"").arg(a[i]);
        }
    }
    if (listSites)
        return mode.isEmpty() ? QString() : QStringLiteral("--sites takes no --listen, --connect or --site");
    if (mode.isEmpty())
        return QStringLiteral("give --listen PORT or --connect HOST:PORT");
    if (!site.isEmpty()) {
        SiteTree tree;
        SitesFile::load(QDir(Startup::programFolder(home)).filePath(SitesFile::FileName), tree);
        const SiteNode* node = tree.findPath(site);
        if (!node || node->folder)
            return QStringLiteral("no saved site \"%1\" (--sites lists them)").arg(site);
        if (!portText(node->port))
            return QStringLiteral("the site \"%1\" has no usable port (\"%2\")").arg(site, node->port);
        host = node->ip;
        port = node->port;
        if (!hasPassword) {
            hasPassword = true;
            password = node->password;
            if (const QString problem =
                    passwordProblem(QStringLiteral("the password of the site \"%1\"").arg(site), password);
                !problem.isEmpty())
                return problem;
        }
    }
    if (const QString problem = passwordProblem(QStringLiteral("--password"), password); !problem.isEmpty())
        return problem;
    return passwordProblem(QStringLiteral("--require-password"), requirePassword);
}

QStringList CliArguments::siteLines() const
{
    SiteTree tree;
    const QStringList problems =
        SitesFile::load(QDir(Startup::programFolder(home)).filePath(SitesFile::FileName), tree);
    for (const QString& p : problems)
        complain(p);
    QStringList out;
    const std::function<void(const SiteNode*, int)> walk = [&](const SiteNode* n, int level) {
        const QString indent(2 * level, ' ');
        out << (n->folder ? indent + n->name : indent + n->name + '\t' + n->ip + ':' + n->port);
        for (const auto& c : n->children)
            walk(c.get(), level + 1);
    };
    walk(tree.root(), 0);
    return out;
}
