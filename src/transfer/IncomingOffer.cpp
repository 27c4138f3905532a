#include "transfer/IncomingOffer.h"

#include "transfer/TransferRules.h"

bool IncomingOffer::read(const QString& name, const QString& sizeText, const QString& blockText,
                         const QString& portText, QString& why)
{
    QString problem;
    parts = TransferRules::offeredComponents(name, &problem);
    if (!problem.isEmpty())
        why = QStringLiteral("unsafe name (") + problem + ')';
    else if (!TransferRules::parseSize(sizeText, size))
        why = QStringLiteral("the size \"") + sizeText + QStringLiteral("\" is not a number of bytes");
    else if (!TransferRules::parseSize(blockText, block) || block <= 0)
        why = QStringLiteral("the block size \"") + blockText + QStringLiteral("\" is not a positive number");
    else if (!TransferRules::parsePort(portText, port))
        why = QStringLiteral("the port \"") + portText + QStringLiteral("\" is not usable");
    return why.isEmpty();
}

TargetFile::Request IncomingOffer::request() const
{
    TargetFile::Request r;
    r.root = root;
    r.folder = folder;
    r.name = parts.last();
    r.choice = existsChoice;
    r.newName = newName;
    r.size = size;
    r.block = block;
    return r;
}

FileTransfer::Setup IncomingOffer::setup(const QString& userName) const
{
    FileTransfer::Setup s;
    s.name = parts.last();
    s.path = folder;
    s.root = root;
    s.hostIP = host;
    s.port = port;
    s.userName = userName;
    s.size = size;
    s.block = block;
    s.existsChoice = existsChoice;
    s.newName = newName;
    s.queuedName = wire;
    s.token = token;
    s.run = opensRun;
    return s;
}
