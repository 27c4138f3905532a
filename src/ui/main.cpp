#include "core/Startup.h"
#include "peer/Peer.h"
#include "ui/MainWindow.h"
#include "ui/SplashWindow.h"
#include "ui/TransferUi.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zantiro"));
    QApplication::setQuitOnLastWindowClosed(false);

    const QStringList args = QApplication::arguments();
    const QStringList valueOptions{QStringLiteral("--home")};
    const QString folder = Startup::programFolder(Startup::optionValue(args, QStringLiteral("--home")));

    Peer peer(folder);
    Context& ctx = peer.state();
    ctx.DebugMode = Startup::debugSwitch(args, valueOptions);

    auto* splash = new SplashWindow(ctx.version);
    splash->start();

    // The folders may be impossible to create (a read-only place); the log has its own
    // fallback and the receiving side checks the download folder.
    Startup::makeFolders(ctx.programFolder);
    const QString configProblem = ctx.loadConfig();

    MainWindow window(peer);
    InstallTransferUi(peer, &window);
    QObject::connect(&window, &MainWindow::exitConfirmed, &app, &QApplication::quit);
    QObject::connect(splash, &SplashWindow::finished, &window, [&window, splash] {
        splash->deleteLater();
        window.ApplyWindowPlacement();
        window.show();
    });
    if (!configProblem.isEmpty()) {
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Zantiro"), configProblem, QMessageBox::Ok,
                                    &window);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
    return app.exec();
}
