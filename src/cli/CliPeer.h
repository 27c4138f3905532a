#pragma once
#include "config/Options.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class PeerState;
class Peer;
class QSocketNotifier;
struct TransferOutcome;

// The headless peer: one session driven by standard input, every pane line written to
// standard output.
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
    int exitAfter = -1;        // --exit-after N incoming transfers
    bool listSites = false;    // --sites: print the saved sites and leave
    QString site;              // --site PATH: the saved site connected to
    bool noExtensions = false; // --no-extensions: speak only the plain protocol

    // The program folder's site tree, one line a node: folders by name, sites as
    // "name<TAB>address:port", each level indented two spaces more than its parent.
    QStringList siteLines() const;

    // Parses the command line (arguments[0] is the program). Returns an empty text on
    // success, else what is wrong with it.
    QString parse(const QStringList& arguments);
    static QString usage();
};

class CliPeer : public QObject {
    Q_OBJECT
public:
    explicit CliPeer(const CliArguments& args, QObject* parent = nullptr);
    ~CliPeer() override;

    PeerState& context() { return ctx; }

    // Loads the option file, applies the command line and opens the connection.
    void start();
    // Runs one line of input as a chat line or a command.
    void handleInput(const QString& line);
    // Starts reading standard input (end of input acts as "/quit").
    void readStandardInput();
    // SIGINT and SIGTERM leave as "/quit" does, with the exit status 130 or 143; a second
    // one ends the process at once.
    void watchSignals();

Q_SIGNALS:
    // The peer is done; the process exits with this status.
    void finished(int exitCode);

private:
    void quit(int exitCode);
    void onStdinReady();
    void onLoggedIn();
    void onSendsIdle();
    void onTransferEnded(const TransferOutcome& outcome);
    // Leaves when --exit-when-done or --exit-after is met, or when the peer has gone for good.
    void checkExit();

    CliArguments args;
    std::unique_ptr<Peer> peer;
    PeerState& ctx;      // the peer's state
    Options fileOptions; // the option set as the file has it, without this run's overrides
    QSocketNotifier* stdinNotifier = nullptr;
    QByteArray stdinBuffer;
    bool quitting = false;
    int incomingEnded = 0;
    bool incomingFailed = false;
    bool stoppedByCancel = false;
    bool loggedInBefore = false;
};
