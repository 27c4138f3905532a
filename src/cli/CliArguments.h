#pragma once
#include <QString>
#include <QStringList>

class QCommandLineParser;

// zantiro-cli's command line, read into fields.
struct CliArguments {
    QString home;
    bool debug = false;
    QString mode; // "Server" or "Client"
    QString host;
    QString port;
    bool hasPassword = false;
    QString password;
    bool hasRequirePassword = false;
    QString requirePassword;
    bool hasName = false;
    QString name;
    bool hasEmail = false;
    QString email;
    bool hasAge = false;
    QString age;
    bool hasHomepage = false;
    QString homepage;
    bool autoReconnect = false;
    bool autoResend = false; // --auto-resend: the option autoResend
    QStringList sends;       // --send PATH, in order
    bool autoAccept = false; // --auto-accept
    QString download;        // --download DIR (empty: the stored downloadFolder)
    int exists = -1;         // --exists: 1 overwrite, 2 resume, 3 rename, 0 cancel; -1 not given
    bool exitWhenDone = false;
    int exitAfter = -1;            // --exit-after N incoming transfers
    bool listSites = false;        // --sites: print the saved sites and leave
    QString site;                  // --site PATH: the saved site connected to
    bool noExtensions = false;     // --no-extensions: speak only the plain protocol
    QString privateMode;           // --private auto|always|never; empty: the stored setting
    bool showIdentity = false;     // --identity: print this installation's key code and leave
    bool trustNewIdentity = false; // --trust-new-identity: accept a changed key of the site

    // The program folder's site tree, one line a node: folders by name, sites as
    // "name<TAB>address:port", each level indented two spaces more than its parent.
    QStringList siteLines() const;

    // Parses the command line (arguments[0] is the program). Returns an empty text on
    // success, else what is wrong with it.
    QString parse(const QStringList& arguments);
    static QString usage();

private:
    // Applies the options the parser found, in the order given; the first problem, if any.
    QString readOptions(const QCommandLineParser& parser);
    QString readOption(const QString& option, const QString& value);
    // --listen, --connect, --site: how the connection is made, given once.
    QString readMode(const QString& option, const QString& value);
    // --send, --download, --exists, --exit-after.
    QString readTransferOption(const QString& option, const QString& value);
    // What holds only for the options together: one way to connect, the site, the passwords.
    QString checkTogether();
    // Takes address, port and (unless given) password from the saved site.
    QString readSite();
};
