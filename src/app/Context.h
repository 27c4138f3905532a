#pragma once
#include "config/Options.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTime>

#include <memory>

class Session;
class TranscriptLog;
class Prompts;
class Transfers;

// Line kinds of AddText.
enum LineKind { MessageLine = 1, StatusLine = 2, ErrorLine = 3, ConnectLine = 4 };

// Everything one running program shares: the option set, the connection settings, the
// remote user record and the transfer flags. One instance per program (two in a test that
// runs two peers); nothing of this lives in globals.
class Context : public QObject {
    Q_OBJECT
public:
    // programFolder is where "qvcfg.cfg", "log" and "download" live.
    explicit Context(const QString& programFolder, QObject* parent = nullptr);
    ~Context() override;

    const QString programFolder; // absolute, without a trailing separator
    Options options;

    bool DebugMode = false;
    const QString version = QStringLiteral("2.0");

    // What the next ConnectIt opens.
    QString ConnMode; // "Client" or "Server"
    QString ConnHost;
    QString ConnPort;
    QString ConnPassword;

    // The peer's user information, replaced by each "uinfo:".
    QString RemoteName = QStringLiteral("<No Name Specified>");
    QString RemoteEmail = QStringLiteral("<No E-mail Specified>");
    QString RemoteAge = QStringLiteral("##");
    QString RemoteHomepage = QStringLiteral("<No Homepage Specified>");

    int AuthReply = 0; // 0 none, 1 accepted, 2 refused
    bool TransferBusy = false;

    // Why the current transfer ends (0 = it does not). Setting it notifies the transfer side.
    int TransferEndCode() const { return transferEndCode; }
    void setTransferEndCode(int code);

    // The address servers listen on; tests keep it on loopback.
    QHostAddress listenAddress = QHostAddress::Any;

    // The control session (the connection to the one peer).
    Session& session() { return *sessionPtr; }

    // Every shown line goes to the transcript log. When the log cannot be written, one status
    // line says why and logging stays off for the rest of the run; the panes keep every line.
    TranscriptLog& transcriptLog() { return *logPtr; }
    bool loggingOff() const { return logOff; }
    // Writes out the buffered log lines (at exit; the destructor does it too).
    void FlushLog();

    // The file-transfer side: offers, the running transfer, transferStarted() for windows.
    Transfers& transfers() { return *transfersPtr; }

    // The questions of the transfer side (accept, existing file, cancel). A headless policy
    // by default; the windows install their dialogs, tests scripted answers.
    Prompts& prompts() { return *promptsPtr; }
    void setPrompts(std::unique_ptr<Prompts> prompts);

    // The only way text reaches the user: stamps the line when time stamps are on (the
    // caller's text changes with it) and hands it to every view and to the log.
    void AddText(QString& text, int kind);
    void AddText(const QString& text, int kind)
    {
        QString copy = text;
        AddText(copy, kind);
    }

    // "9:05", "[9:05]", "([9:05])" for the current local time.
    QString GetTimeStamp(bool brackets, bool parentheses) const;
    static QString formatTimeStamp(const QTime& time, bool brackets, bool parentheses);

    QString configPath() const;
    // Load or save the option file; the result is the error message to show, or empty.
    QString loadConfig();
    QString saveConfig();

Q_SIGNALS:
    void lineAdded(const QString& text, int kind);
    void transferEndCodeChanged(int code);

private:
    int transferEndCode = 0;
    std::unique_ptr<Session> sessionPtr;
    std::unique_ptr<Prompts> promptsPtr;
    std::unique_ptr<Transfers> transfersPtr;
    std::unique_ptr<TranscriptLog> logPtr;
    bool logOff = false;
    void logLine(const QString& text);
    void turnLogOff();
};
