#pragma once
#include <QFileDialog>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include "ui/FileOrFolderDialog.h"

class PeerState;
class Peer;
class TransferActivity;
class QWidget;

// The transfer side's windows for one program: the dialogs behind the transfer questions,
// one transfer window for each transfer that starts, and the send command's file chooser.
class TransferUi : public QObject {
    Q_OBJECT
public:
    TransferUi(Peer& peer, QWidget* mainWindow);
    ~TransferUi() override;

    // The send command: asks files or a folder ("Select File Type to Send"), then opens
    // "Select File(s) To Send" or the folder picker (all modeless); what is chosen goes into
    // the file queue and its window is shown.
    void chooseFiles();
    // The chooser now open, or nullptr.
    FileOrFolderDialog* typeChooser() const { return sendType; }
    // The chooser now open, or nullptr.
    QFileDialog* chooser() const { return fileDialog; }
    // Queues these files or folders, in order, after any still waiting.
    void sendFiles(const QStringList& paths);

    // The chooser's filters, the first selected.
    static QStringList nameFilters();

private:
    void chooseFileList();
    void chooseFolder();
    void showQueue();
    void onTransferStarted(TransferActivity* transfer);

    Peer& peer;
    PeerState& ctx; // the peer's state
    QPointer<QWidget> mainWindow;
    QPointer<QFileDialog> fileDialog;
    QPointer<FileOrFolderDialog> sendType;
};

// Installs the transfer windows into a program whose main window is `mainWindow`: the
// dialogs answer the transfer questions, each started transfer gets its window, and the main
// window's send actions ("mnu_sndfile", "pop_file", the toolbar's "Send"), when present,
// open the file chooser. The returned object belongs to the main window.
TransferUi* installTransferUi(Peer& peer, QWidget* mainWindow);
