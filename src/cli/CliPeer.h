#pragma once
#include "cli/CliArguments.h"
#include "config/Options.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <memory>

class HeadlessPrompts;
class PeerState;
class Peer;
class QSocketNotifier;
struct TransferOutcome;

// The headless peer: one session driven by standard input, every pane line written to
// standard output.
class CliPeer : public QObject {
    Q_OBJECT
public:
    explicit CliPeer(const CliArguments& arguments, QObject* parent = nullptr);
    ~CliPeer() override;

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
    // This run's flags over the stored options (the option file keeps its own).
    void overrideOptions(Options& options) const;
    // The fixed answers of a peer nobody sits at; --exists also sets the stored default.
    std::unique_ptr<HeadlessPrompts> makePrompts(Options& options);
    // The commands of standard input; false when command is none of theirs.
    bool runSessionCommand(const QString& command);
    bool runQueueCommand(const QString& command, const QString& argument);
    void showUsage(const QString& form);
    // /info: the peer's record as it last arrived, one field a line.
    void showPeerRecord();
    // /top N, /remove N.
    void moveOrRemove(bool toTop, const QString& argument);
    void quit(int exitCode);
    void onInputReady();
    void onLoggedIn();
    void onSendsIdle();
    void onTransferEnded(const TransferOutcome& outcome);
    // Leaves when --exit-when-done or --exit-after is met, or when the peer has gone for good.
    void checkExit();

    CliArguments arguments;
    std::unique_ptr<Peer> peer;
    PeerState& peerState; // the peer's state
    Options fileOptions;  // the option set as the file has it, without this run's overrides
    QSocketNotifier* inputNotifier = nullptr;
    QTimer outputTimer; // the lines written in this turn are flushed at its end
    QByteArray inputBuffer;
    bool quitting = false;
    bool exitCheckAsked = false; // a checkExit() on the next turn is on its way
    int incomingEnded = 0;
    bool incomingFailed = false;
    bool stoppedByCancel = false;
    bool loggedInBefore = false;
};
