#include "transfer/TransferUi.h"

#include "app/Context.h"
#include "app/Lib.h"
#include "session/Session.h"
#include "transfer/FileBase.h"
#include "transfer/SendList.h"
#include "transfer/Transfers.h"
#include "transfer/WindowPromptsUi.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QWidget>

TransferUi::TransferUi(Context& c, QWidget* main)
    : QObject(main), ctx(c), mainWindow(main), sendList(new SendList(c, this))
{
    connect(&ctx.transfers(), &Transfers::transferStarted, this, &TransferUi::onTransferStarted);
    // Files are offered only to a logged-in peer; chosen files wait until then.
    Session& session = ctx.session();
    connect(&session, &Session::loggedIn, this, [this] {
        loggedIn = true;
        updateReady();
    });
    auto lost = [this] {
        if (!ctx.session().isConnected())
            loggedIn = false;
        updateReady();
    };
    connect(&session.Sock, &EventSocket::closed, this, lost);
    connect(&session.Sock, &EventSocket::error, this, lost);
}

TransferUi::~TransferUi() = default;

void TransferUi::updateReady()
{
    sendList->setReady(loggedIn && ctx.session().isConnected());
}

void TransferUi::onTransferStarted(FileTransfer* transfer)
{
    if (transfer)
        new FileBase(*transfer, mainWindow); // deletes itself when the transfer ends
}

QStringList TransferUi::nameFilters()
{
    // The captions are shown as they stand; the patterns in the last parentheses are what
    // the chooser matches ("*" so that names without a dot are listed too).
    return {QStringLiteral("All Files (*.*) (*)"),
            QStringLiteral("Compressed Files (*.Rar,*.Zip,*.Ace,*.Tar) (*.rar *.zip *.ace *.tar)"),
            QStringLiteral("Music Files (*.Mp3, *.Wav, *.Mid) (*.mp3 *.wav *.mid)")};
}

void TransferUi::chooseFiles()
{
    if (fileDialog) {
        fileDialog->raise();
        fileDialog->activateWindow();
        return;
    }
    QString start = ctx.options.LastSendDir;
    if (!Lib::DirExists(QDir::fromNativeSeparators(start)))
        start = ctx.programFolder;
    auto* dialog = new QFileDialog(mainWindow, QStringLiteral("Select File(s) To Send"),
                                   QDir::fromNativeSeparators(start));
    dialog->setObjectName(QStringLiteral("SendFileDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setOption(QFileDialog::HideNameFilterDetails);
    dialog->setNameFilters(nameFilters());
    dialog->selectNameFilter(nameFilters().first());
    connect(dialog, &QFileDialog::filesSelected, this, [this](const QStringList& files) {
        if (files.isEmpty())
            return;
        const QString folder = QFileInfo(files.first()).absolutePath();
        ctx.options.LastSendDir = QDir::toNativeSeparators(Lib::AddSlash(folder));
        sendFiles(files);
    });
    fileDialog = dialog;
    dialog->open();
}

void TransferUi::sendFiles(const QStringList& paths)
{
    for (const QString& path : paths)
        sendList->add(QFileInfo(path).absoluteFilePath());
}

TransferUi* InstallTransferUi(Context& ctx, QWidget* mainWindow)
{
    ctx.setPrompts(std::make_unique<WindowPrompts>(mainWindow));
    auto* ui = new TransferUi(ctx, mainWindow);
    if (mainWindow) {
        for (const char* name : {"mnu_sndfile", "pop_file", "Send"}) {
            const auto actions = mainWindow->findChildren<QAction*>(QLatin1String(name));
            for (QAction* action : actions)
                QObject::connect(action, &QAction::triggered, ui, &TransferUi::chooseFiles);
        }
    }
    return ui;
}
