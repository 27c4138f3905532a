#include "core/PeerState.h"

#include "core/LineText.h"

#include <QDateTime>
#include <QDir>

PeerState::PeerState(const QString& folder, QObject* parent)
    : QObject(parent), programFolder(QDir::cleanPath(QDir(folder).absolutePath())), settings(programFolder),
      peers(programFolder)
{
    options.setDefaults(programFolder);
}

void PeerState::setTransferEndCode(TransferEndCode code)
{
    currentEndCode = code;
    Q_EMIT transferEndCodeChanged(code);
}

void PeerState::addText(QString& text, LineKind kind)
{
    // One call is one line everywhere: no control character gets through, whether it came
    // from the peer (chat, names, passwords, file names) or from anywhere else.
    text = LineText::visible(text);
    if (options.timeStamps) {
        // Lines can come by the thousand a second: the stamp, which shows minutes, is made
        // once a minute.
        const qint64 minute = QDateTime::currentMSecsSinceEpoch() / 60000;
        if (minute != stampMinute) {
            stampMinute = minute;
            stamp = timeStamp(true, false) + ' ';
        }
        text = stamp + text;
    }
    Q_EMIT lineAdded(text, kind);
    Q_EMIT lineToLog(text);
}

QString PeerState::timeStamp(bool brackets, bool parentheses) const
{
    return formatTimeStamp(QTime::currentTime(), brackets, parentheses);
}

QString PeerState::formatTimeStamp(const QTime& time, bool brackets, bool parentheses)
{
    QString s = QStringLiteral("%1:%2").arg(time.hour()).arg(time.minute(), 2, 10, QLatin1Char('0'));
    if (brackets)
        s = '[' + s + ']';
    if (parentheses)
        s = '(' + s + ')';
    return s;
}

QString PeerState::configPath() const
{
    return QDir(programFolder).filePath(ConfigFile::FileName);
}

QString PeerState::loadConfig()
{
    QString problem = ConfigFile::load(configPath(), programFolder, options);
    QString settingsProblem;
    if (!settings.load(&settingsProblem) && problem.isEmpty())
        problem = settingsProblem;
    return problem;
}

const Identity& PeerState::identity()
{
    if (!identityLoaded) {
        identityLoaded = true;
        QString notice;
        ownIdentity = Identity::loadOrCreate(programFolder, &notice);
        if (!notice.isEmpty())
            addText(notice, LineKind::Error);
    }
    return ownIdentity;
}

KnownPeers& PeerState::knownPeers()
{
    if (!peersLoaded) {
        peersLoaded = true;
        QString problem;
        if (!peers.load(&problem) && !problem.isEmpty())
            addText(QStringLiteral("*** Error : ") + problem, LineKind::Error);
    }
    return peers;
}

QString PeerState::saveConfig()
{
    return ConfigFile::save(configPath(), options);
}
