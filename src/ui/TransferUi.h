#pragma once
#include <QFileDialog>
#include <QObject>
#include <QPointer>
#include <QStringList>

class Context;
class Peer;
class FileTransfer;
class QWidget;

// The transfer side's windows for one program: the dialogs behind the transfer questions,
// one transfer window for each transfer that starts, and the send command's file chooser.
class TransferUi : public QObject {
    Q_OBJECT
public:
    TransferUi(Peer& peer, QWidget* mainWindow);
    ~TransferUi() override;

    // The send command: opens "Select File(s) To Send" (modeless); the chosen files go to the
    // peer's send list, which offers them one after the other once logged in.
    void chooseFiles();
    // The chooser now open, or nullptr.
    QFileDialog* chooser() const { return fileDialog; }
    // Offers these files, in order, after any still waiting.
    void sendFiles(const QStringList& paths);

    // The chooser's filters, the first selected.
    static QStringList nameFilters();

private:
    void onTransferStarted(FileTransfer* transfer);

    Peer& peer;
    Context& ctx; // the peer's state
    QPointer<QWidget> mainWindow;
    QPointer<QFileDialog> fileDialog;
};

// Installs the transfer windows into a program whose main window is `mainWindow`: the
// dialogs answer the transfer questions, each started transfer gets its window, and the main
// window's send actions ("mnu_sndfile", "pop_file", the toolbar's "Send"), when present,
// open the file chooser. The returned object belongs to the main window.
TransferUi* InstallTransferUi(Peer& peer, QWidget* mainWindow);
