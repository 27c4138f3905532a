#include "cli/CliPeer.h"
#include "core/Startup.h"
#include "identity/Identity.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    Startup::ignoreFileSizeSignal();
    Startup::keepBuffersInHeap();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Zantiro"));

    const QStringList given = QCoreApplication::arguments();
    if (given.size() == 2 && (given[1] == QLatin1String("--help") || given[1] == QLatin1String("-h"))) {
        std::printf("%s\n", qPrintable(CliArguments::usage()));
        return 0;
    }
    CliArguments arguments;
    const QString problem = arguments.parse(QCoreApplication::arguments());
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "zantiro-cli: %s\n%s\n", qPrintable(problem), qPrintable(CliArguments::usage()));
        return 2;
    }
    if (arguments.showIdentity) {
        const QString folder = Startup::programFolder(arguments.home);
        Startup::makeFolders(folder);
        QString notice;
        const Identity identity = Identity::loadOrCreate(folder, &notice);
        if (!notice.isEmpty())
            std::fprintf(stderr, "%s\n", notice.toUtf8().constData());
        if (!identity.isValid()) {
            std::fprintf(stderr, "zantiro-cli: no identity could be made\n");
            return 1;
        }
        std::printf("%s\n", qPrintable(identity.keyCode()));
        return 0;
    }
    if (arguments.listSites) {
        for (const QString& line : arguments.siteLines())
            std::printf("%s\n", line.toUtf8().constData());
        return 0;
    }
    CliPeer peer(arguments);
    QObject::connect(&peer, &CliPeer::finished, &app, &QCoreApplication::exit);
    peer.start();
    peer.readStandardInput();
    peer.watchSignals();
    return app.exec();
}
