#include "ui/TransferUi.h"

#include "core/PeerState.h"
#include "peer/Peer.h"
#include "queue/FileQueue.h"
#include "transfer/TransferManager.h"
#include "transfer/TransferRun.h"
#include "ui/DesktopServices.h"
#include "ui/FileOrFolderDialog.h"
#include "ui/TransferWindow.h"
#include "ui/WindowPrompts.h"
#include "util/FileSystem.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QWidget>

TransferUi::TransferUi(Peer& p, QWidget* main) : QObject(main), peer(p), ctx(p.state()), mainWindow(main)
{
    connect(&peer.transfers(), &TransferManager::transferStarted, this, &TransferUi::onTransferStarted);
    connect(&peer.transfers(), &TransferManager::runStarted, this, &TransferUi::onTransferStarted);
}

TransferUi::~TransferUi() = default;

void TransferUi::onTransferStarted(TransferActivity* transfer)
{
    if (transfer)
        new TransferWindow(*transfer, mainWindow); // deletes itself when the transfer ends
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
    for (QWidget* open : {static_cast<QWidget*>(sendType), static_cast<QWidget*>(fileDialog)})
        if (open) {
            open->raise();
            open->activateWindow();
            return;
        }
    if (!FileSystem::folderExists(QDir::fromNativeSeparators(ctx.options.lastSendFolder)))
        ctx.options.lastSendFolder = ctx.programFolder;
    sendType = new FileOrFolderDialog(ctx, mainWindow);
    connect(sendType, &FileOrFolderDialog::chosen, this,
            [this](bool files) { files ? chooseFileList() : chooseFolder(); });
    sendType->show();
}

void TransferUi::showQueue()
{
    if (!mainWindow)
        return;
    if (QWidget* queue = mainWindow->findChild<QWidget*>(QStringLiteral("queue")); queue && !queue->isVisible())
        queue->show();
}

void TransferUi::chooseFileList()
{
    auto* dialog = new QFileDialog(mainWindow, QStringLiteral("Select File(s) To Send"),
                                   QDir::fromNativeSeparators(ctx.options.lastSendFolder));
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
        const QString folder = FileSystem::withTrailingSlash(QFileInfo(files.first()).absolutePath());
        ctx.options.lastSendFolder = QDir::toNativeSeparators(folder);
        showQueue();
        for (const QString& file : files)
            peer.queue().addPath(file); // a named pipe or a device is refused with a line
    });
    fileDialog = dialog;
    dialog->open();
}

void TransferUi::chooseFolder()
{
    QString start = QDir::fromNativeSeparators(ctx.options.lastSendFolder);
    if (start.size() > 1 && start.endsWith('/'))
        start.chop(1);
    browseForFolder(start, mainWindow, [this](const QString& chosen) {
        QString folder = QDir::cleanPath(QFileInfo(chosen).absoluteFilePath());
        showQueue();
        peer.queue().addPath(folder);
        ctx.options.lastSendFolder = QDir::toNativeSeparators(FileSystem::withTrailingSlash(folder));
    });
}

void TransferUi::sendFiles(const QStringList& paths)
{
    for (const QString& path : paths)
        peer.queue().addPath(path);
}

TransferUi* installTransferUi(Peer& peer, QWidget* mainWindow)
{
    peer.transfers().setPrompts(std::make_unique<WindowPrompts>(mainWindow));
    auto* ui = new TransferUi(peer, mainWindow);
    if (mainWindow) {
        for (const char* name : {"mnu_sndfile", "pop_file", "Send"}) {
            const auto actions = mainWindow->findChildren<QAction*>(QLatin1String(name));
            for (QAction* action : actions)
                QObject::connect(action, &QAction::triggered, ui, &TransferUi::chooseFiles);
        }
    }
    return ui;
}
