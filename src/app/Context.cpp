#include "app/Context.h"

#include "session/Session.h"
#include "util/TranscriptLog.h"
#include "transfer/PolicyPrompts.h"
#include "transfer/Transfers.h"

#include <QDir>

Context::Context(const QString& folder, QObject* parent)
    : QObject(parent), programFolder(QDir::cleanPath(QDir(folder).absolutePath()))
{
    options.SetDefaults(programFolder);
    sessionPtr = std::make_unique<Session>(*this);
    promptsPtr = std::make_unique<PolicyPrompts>(*this);
    transfersPtr = std::make_unique<Transfers>(*this);
    logPtr = std::make_unique<TranscriptLog>(*this);
}

Context::~Context()
{
    transfersPtr.reset(); // a running transfer may still withdraw its questions
    // Lines still buffered reach the file; a failure here has nobody left to tell.
    if (!logOff)
        logPtr->FlushLog();
}

void Context::logLine(const QString& text)
{
    if (logOff || !logPtr)
        return;
    logPtr->AddLogLine(text);
    if (!logPtr->lastProblem().isEmpty())
        turnLogOff();
}

void Context::FlushLog()
{
    if (!logOff && !logPtr->FlushLog().isEmpty())
        turnLogOff();
}

void Context::turnLogOff()
{
    // Off before telling, so the status line itself is not logged again.
    logOff = true;
    logPtr->clear();
    AddText(QStringLiteral("*** Logging Off : ") + logPtr->lastProblem(), StatusLine);
}

void Context::setPrompts(std::unique_ptr<Prompts> prompts)
{
    if (prompts)
        promptsPtr = std::move(prompts);
}

void Context::setTransferEndCode(int code)
{
    transferEndCode = code;
    Q_EMIT transferEndCodeChanged(code);
}

void Context::AddText(QString& text, int kind)
{
    if (options.TimeStamp)
        text = GetTimeStamp(true, false) + ' ' + text;
    Q_EMIT lineAdded(text, kind);
    logLine(text);
}

QString Context::GetTimeStamp(bool brackets, bool parentheses) const
{
    return formatTimeStamp(QTime::currentTime(), brackets, parentheses);
}

QString Context::formatTimeStamp(const QTime& time, bool brackets, bool parentheses)
{
    QString s = QStringLiteral("%1:%2").arg(time.hour()).arg(time.minute(), 2, 10, QLatin1Char('0'));
    if (brackets)
        s = '[' + s + ']';
    if (parentheses)
        s = '(' + s + ')';
    return s;
}

QString Context::configPath() const
{
    return QDir(programFolder).filePath(ConfigFile::FileName);
}

QString Context::loadConfig()
{
    return ConfigFile::LoadConfig(configPath(), programFolder, options);
}

QString Context::saveConfig()
{
    return ConfigFile::SaveConfig(configPath(), options);
}
