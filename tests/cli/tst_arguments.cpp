// zantiro-cli's command line: flags in, the fields they set or the exact complaint out.
#include "cli/CliArguments.h"

#include "support/Harness.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

QString given(bool is, const QString& text)
{
    return is ? text : QString();
}

// The texts given, in one line.
template <class... T>
QString joined(const T&... texts)
{
    QStringList l{texts...};
    l.removeAll(QString());
    return l.join(' ');
}

// The fields that differ from a fresh CliArguments, in one line.
QString fields(const CliArguments& a)
{
    return joined(given(!a.home.isEmpty(), "home=" + a.home), given(a.debug, "debug"),
                  given(!a.mode.isEmpty(), "mode=" + a.mode), given(!a.host.isEmpty(), "host=" + a.host),
                  given(!a.port.isEmpty(), "port=" + a.port), given(a.hasPassword, "password=" + a.password),
                  given(a.hasRequirePassword, "require=" + a.requirePassword), given(a.hasName, "name=" + a.name),
                  given(a.hasEmail, "email=" + a.email), given(a.hasAge, "age=" + a.age),
                  given(a.hasHomepage, "homepage=" + a.homepage), given(a.autoReconnect, "reconnect"),
                  given(a.autoResend, "resend"), given(!a.sends.isEmpty(), "send=" + a.sends.join('|')),
                  given(a.autoAccept, "accept"), given(!a.download.isEmpty(), "download=" + a.download),
                  given(a.exists != -1, "exists=" + QString::number(a.exists)), given(a.exitWhenDone, "whenDone"),
                  given(a.exitAfter != -1, "after=" + QString::number(a.exitAfter)), given(a.listSites, "sites"),
                  given(!a.site.isEmpty(), "site=" + a.site), given(a.noExtensions, "plain"));
}

} // namespace

class TestArguments : public QObject {
    Q_OBJECT
    // A program folder with saved sites; "HOME" in a row stands for its path.
    QTemporaryDir home;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(writeFile(home.filePath("qvsites.cfg"),
                          "Folder=Friends;Parent=Sites;\r\nFolder=Inner;Parent=Friends;\r\n"
                          "Site=Anna;IP=10.0.0.5;Port=2100;Password=pw;Parent=Friends;\r\n"
                          "Site=Bo;IP=h;Port=0;Password=;Parent=Inner;\r\nSite=Y;IP=h;Port=2000;Password=\xFF"
                          "es;Parent=Sites;\r\n"));
    }

    void parse_data()
    {
        columns<QStringList, QString>("args", "problem");
        QTest::addColumn<QString>("result"); // the fields, when there is no problem

        const auto ok = [](const char* row, const QStringList& args, const char* result) {
            QTest::newRow(row) << args << QString() << QString::fromUtf8(result);
        };
        const auto bad = [](const char* row, const QStringList& args, const QString& problem) {
            QTest::newRow(row) << args << problem << QString();
        };
        ok("listen", {"--listen", "2000"}, "mode=Server port=2000");
        ok("connect", {"--connect", "h:1"}, "mode=Client host=h port=1");
        ok("connect IPv6", {"--connect", "[::1]:2000"}, "mode=Client host=::1 port=2000");
        ok("values after =", {"--listen=2000", "--name=A=B", "--password="},
           "mode=Server port=2000 password= name=A=B");
        ok("every flag",
           QString(
               "--home /h --connect h:5 --password pw --require-password rp --name N --email E --age 7 --homepage u "
               "--auto-reconnect --auto-resend --send a --send b --auto-accept --download d --exists rename "
               "--exit-when-done --exit-after 3 --no-extensions")
               .split(' '),
           "home=/h mode=Client host=h port=5 password=pw require=rp name=N email=E age=7 homepage=u reconnect "
           "resend send=a|b accept download=d exists=3 whenDone after=3 plain");
        ok("repeated value: the last one", {"--listen", "1", "--name", "a", "--name", "b", "--exists", "overwrite"},
           "mode=Server port=1 name=b exists=1");
        ok("value that looks like a flag", {"--listen", "1", "--name", "--sites"}, "mode=Server port=1 name=--sites");
        ok("values that start with a dash", {"--listen", "1", "--password", "-x", "--name", "--"},
           "mode=Server port=1 password=-x name=--");
        ok("exists cancel", {"--listen", "1", "--exists", "cancel"}, "mode=Server port=1 exists=0");
        ok("--debug", {"--debug", "--listen", "1"}, "debug mode=Server port=1");
        ok("/debug anywhere", {"--listen", "1", "x/DEBUGy"}, "debug mode=Server port=1");
        ok("/debug as a value", {"--listen", "1", "--name", "/debug"}, "mode=Server port=1 name=/debug");
        ok("list sites", {"--home", "/h", "--sites"}, "home=/h sites");

        bad("nothing", {}, "give --listen PORT or --connect HOST:PORT");
        bad("both modes", {"--listen", "2000", "--connect", "h:1"}, "give either --listen or --connect, once");
        bad("listen twice", {"--listen", "1", "--listen", "2"}, "give either --listen or --connect, once");
        bad("site after listen", {"--listen", "1", "--site", "x"}, "give either --listen, --connect or --site, once");
        bad("port not a number", {"--listen", "abc"}, "--listen needs a port from 1 to 65533, not \"abc\"");
        bad("port too high", {"--listen", "65534"}, "--listen needs a port from 1 to 65533, not \"65534\"");
        bad("port zero", {"--listen=0"}, "--listen needs a port from 1 to 65533, not \"0\"");
        bad("no port", {"--connect", "localhost"},
            "--connect needs HOST:PORT with a port from 1 to 65533, not \"localhost\"");
        bad("no host", {"--connect", ":5"}, "--connect needs HOST:PORT with a port from 1 to 65533, not \":5\"");
        bad("unknown flag", {"--listen", "1", "--frobnicate"}, "unknown argument \"--frobnicate\"");
        bad("short flag", {"--listen", "1", "-x"}, "unknown argument \"-x\"");
        bad("one dash word", {"--listen", "1", "-listen", "2"}, "unknown argument \"-listen\"");
        bad("short flags together", {"--listen", "1", "-ab"}, "unknown argument \"-ab\"");
        bad("bare word", {"--listen", "1", "extra"}, "unknown argument \"extra\"");
        bad("lone dash", {"--listen", "1", "-"}, "unknown argument \"-\"");
        bad("double dash last", {"--listen", "1", "--"}, "unknown argument \"--\"");
        bad("double dash first", {"--", "--listen", "1"}, "unknown argument \"--\"");
        bad("help among others", {"--listen", "1", "--help"}, "unknown argument \"--help\"");
        bad("value missing", {"--listen", "1", "--name"}, "option --name needs a value");
        bad("send without path", {"--listen", "1", "--send"}, "option --send needs a value");
        bad("send empty", {"--listen", "1", "--send="}, "--send needs a path");
        bad("download empty", {"--listen", "1", "--download", ""}, "--download needs a folder");
        bad("switch with a value", {"--listen", "1", "--sites=yes"}, "option --sites takes no value");
        bad("unknown with a value", {"--listen", "1", "--bogus=1"}, "option --bogus takes no value");
        bad("nameless with a value", {"--listen", "1", "--=1"}, "option -- takes no value");
        bad("bad exists", {"--listen", "1", "--exists", "maybe"},
            "--exists takes overwrite, resume, rename or cancel, not \"maybe\"");
        bad("exit after zero", {"--listen", "1", "--exit-after", "0"},
            "--exit-after needs a count of 1 or more, not \"0\"");
        bad("sites with a mode", {"--sites", "--listen", "1"}, "--sites takes no --listen, --connect or --site");
        bad("password outside Windows-1252", {"--listen", "1", "--password", QString::fromUtf8("a\u4e2d")},
            QString::fromUtf8("--password holds characters a login cannot carry exactly (1 of them) - use "
                              "Windows-1252 characters other than \"\u00ff\""));
        bad("required password with y diaeresis",
            {"--listen", "1", "--require-password", QString::fromUtf8("\u00ff\u00ff")},
            QString::fromUtf8("--require-password holds characters a login cannot carry exactly (2 of them) - use "
                              "Windows-1252 characters other than \"\u00ff\""));
        ok("site", {"--home", "HOME", "--site", "Friends/Anna"},
           "home=HOME mode=Client host=10.0.0.5 port=2100 password=pw site=Friends/Anna");
        ok("--password over the site's", {"--home", "HOME", "--password", "x", "--site", "Y"},
           "home=HOME mode=Client host=h port=2000 password=x site=Y");
        bad("unknown site", {"--home", "HOME", "--site", "Friends/Bob"},
            "no saved site \"Friends/Bob\" (--sites lists them)");
        bad("site is a folder", {"--home", "HOME", "--site", "Friends"},
            "no saved site \"Friends\" (--sites lists them)");
        bad("site without a port", {"--home", "HOME", "--site", "Friends/Inner/Bo"},
            "the site \"Friends/Inner/Bo\" has no usable port (\"0\")");
        bad("site password with y diaeresis", {"--home", "HOME", "--site", "Y"},
            QString::fromUtf8("the password of the site \"Y\" holds characters a login cannot carry exactly (1 of "
                              "them) - use Windows-1252 characters other than \"\u00ff\""));
        // The first problem in argument order is the one reported.
        bad("bad port before unknown flag", {"--listen", "0", "--bogus"},
            "--listen needs a port from 1 to 65533, not \"0\"");
        bad("unknown flag before bad port", {"--bogus", "--listen", "0"}, "unknown argument \"--bogus\"");
        bad("bare word before missing value", {"x", "--listen", "1", "--name"}, "unknown argument \"x\"");
        // A value that looks like the misfit is a value: the complaint names the misfit itself,
        // never a password, and the problems of the options before it come first.
        bad("password like the unknown flag", {"--listen", "2000", "--password", "-ph", "-p"},
            "unknown argument \"-p\"");
        bad("name like the unknown flag", {"--connect", "h:2000", "--name", "-john", "-h"}, "unknown argument \"-h\"");
        bad("bad port before a word also sent", {"--listen", "0", "--send", "a", "a"},
            "--listen needs a port from 1 to 65533, not \"0\"");
        bad("bad port before a double dash also a name", {"--listen", "0", "--name", "--", "--"},
            "--listen needs a port from 1 to 65533, not \"0\"");
    }

    void parse()
    {
        auto [args, problem, result] = fetch<QStringList, QString, QString>("args", "problem", "result");
        args.replaceInStrings(QStringLiteral("HOME"), home.path());
        CliArguments parsed;
        QCOMPARE(parsed.parse(QStringList{"zantiro-cli"} + args), problem);
        if (problem.isEmpty())
            QCOMPARE(fields(parsed), result.replace(QStringLiteral("HOME"), home.path()));
    }
};

QTEST_GUILESS_MAIN(TestArguments)
#include "tst_arguments.moc"
