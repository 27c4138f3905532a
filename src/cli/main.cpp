#include "cli/CliPeer.h"
#include "core/Startup.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    Startup::ignoreFileSizeSignal();
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
