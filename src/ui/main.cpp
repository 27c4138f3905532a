#include "core/Startup.h"
#include "peer/Peer.h"
#include "ui/AboutWindow.h"
#include "ui/MainWindow.h"
#include "ui/SiteListWindow.h"
#include "ui/SplashWindow.h"
#include "ui/TransferUi.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    // Answered before any window system is needed.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("usage: zantiro [--home DIR] [--debug]\n"
                        "  --home DIR  the program folder (options \"qvcfg.cfg\", \"log\", \"download\");\n"
                        "              without it $ZANTIRO_HOME, else the program's own folder when\n"
                        "              writable, else the per-user data folder\n"
                        "  --debug     (or /debug) shows diagnostic lines\n");
            return 0;
        }
    }
    Startup::ignoreFileSizeSignal();
    Startup::keepBuffersInHeap();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zantiro"));
    QApplication::setWindowIcon(AboutWindow::programIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("zantiro"));
    QApplication::setQuitOnLastWindowClosed(false);

    const QStringList args = QApplication::arguments();
    const QStringList valueOptions{QStringLiteral("--home")};
    const QString folder = Startup::programFolder(Startup::optionValue(args, QStringLiteral("--home")));

    Peer peer(folder);
    PeerState& ctx = peer.state();
    ctx.debugMode = Startup::debugSwitch(args, valueOptions);

    auto* splash = new SplashWindow(ctx.version);
    splash->start();

    // The folders may be impossible to create (a read-only place); the log has its own
    // fallback and the receiving side checks the download folder.
    Startup::makeFolders(ctx.programFolder);
    const bool firstStart = !QFileInfo::exists(QDir(ctx.programFolder).filePath(QStringLiteral("qvcfg.cfg")));
    const QString configProblem = ctx.loadConfig();

    MainWindow window(peer);
    if (firstStart)
        window.sizeForNewInstallation();
    installTransferUi(peer, &window);
    installSiteList(window);
    // The identity is made on the first start, and a damaged one reported in the pane now
    // rather than at the first connection.
    ctx.identity();
    // exit(), not quit(): quit() lets any window that refuses to close keep the process alive.
    QObject::connect(&window, &MainWindow::exitConfirmed, &app, [] { QCoreApplication::exit(0); });
    QObject::connect(splash, &SplashWindow::finished, &window, [&window, splash] {
        splash->deleteLater();
        window.applyWindowPlacement();
        window.show();
    });
    if (!configProblem.isEmpty()) {
        auto* box =
            new QMessageBox(QMessageBox::Warning, QStringLiteral("Zantiro"), configProblem, QMessageBox::Ok, &window);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
    return app.exec();
}
