#pragma once
#include "config/Options.h"
#include "config/ProgramSettings.h"
#include "core/LineKind.h"
#include "core/TransferEndCode.h"
#include "identity/Identity.h"
#include "identity/KnownPeers.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTime>

// The client's login: no answer yet, or the server's "PSOK" or "PSBAD".
enum class LoginAnswer { None = 0, Accepted = 1, Refused = 2 };

// The state one running peer shares among its parts: the option set, the connection
// settings, the remote user record and the transfer flags, and addText, the one way a line
// reaches the user. One instance per peer (two in a test that runs two peers); nothing of
// this lives in globals. It knows none of the parts that use it.
class PeerState : public QObject {
    Q_OBJECT
public:
    // programFolder is where "qvcfg.cfg", "log" and "download" live.
    explicit PeerState(const QString& programFolder, QObject* parent = nullptr);

    const QString programFolder; // absolute, without a trailing separator
    Options options;
    // The settings of the extensions between two peers of this program, beside the option
    // file; read by loadConfig().
    ProgramSettings settings;

    // This installation's key and certificate: read, or made, on first use. A file that
    // could not be read is moved aside then, and a line says so.
    const Identity& identity();
    // The keys of peers met before, read on first use.
    KnownPeers& knownPeers();

    bool debugMode = false;
    const QString version = QStringLiteral(ZANTIRO_VERSION);

    // What the next openConnection opens.
    ConnectionMode connectionMode = ConnectionMode::None;
    QString connectionHost;
    QString connectionPort;
    QString connectionPassword;

    // The peer's user information, replaced by each "uinfo:".
    QString remoteName = QStringLiteral("<No Name Specified>");
    QString remoteEmail = QStringLiteral("<No E-mail Specified>");
    QString remoteAge = QStringLiteral("##");
    QString remoteHomepage = QStringLiteral("<No Homepage Specified>");

    LoginAnswer loginAnswer = LoginAnswer::None;
    bool transferBusy = false;

    // Why the current transfer ends (None: it does not). Setting it notifies the transfer side.
    TransferEndCode transferEndCode() const { return currentEndCode; }
    void setTransferEndCode(TransferEndCode code);

    // The address servers listen on; tests keep it on loopback.
    QHostAddress listenAddress = QHostAddress::Any;

    // The only way text reaches the user: writes out control characters visibly (so the text
    // stays one line, see LineText::visible), stamps the line when time stamps are on (the
    // caller's text changes with both) and hands it to every view (lineAdded), then to the
    // transcript log (lineToLog).
    void addText(QString& text, LineKind kind);
    void addText(const QString& text, LineKind kind)
    {
        QString copy = text;
        addText(copy, kind);
    }

    // "9:05", "[9:05]", "([9:05])" for the current local time.
    QString timeStamp(bool brackets, bool parentheses) const;
    static QString formatTimeStamp(const QTime& time, bool brackets, bool parentheses);

    QString configPath() const;
    // Load or save the option file; the result is the error message to show, or empty.
    QString loadConfig();
    QString saveConfig();

Q_SIGNALS:
    void lineAdded(const QString& text, LineKind kind);
    // The same line once every view has it, for the transcript log.
    void lineToLog(const QString& text);
    void transferEndCodeChanged(TransferEndCode code);

private:
    TransferEndCode currentEndCode = TransferEndCode::None;
    Identity ownIdentity;
    bool identityLoaded = false;
    KnownPeers peers;
    bool peersLoaded = false;
    qint64 stampMinute = -1; // the minute since the epoch `stamp` was made in
    QString stamp;           // the time stamp of addText's lines, with the space after it
};
