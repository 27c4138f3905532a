#pragma once
#include "transfer/FileTransfer.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

// The transfer window: shows one running transfer (name, peer, size, bytes moved, progress,
// rate, elapsed time and time left) and offers its Cancel button. It is a view only: the
// texts come from the transfer, refreshed when the transfer says they changed, and the window
// deletes itself when the transfer finishes. Its close box is refused while the transfer runs.
class FileBase : public QWidget {
    Q_OBJECT
public:
    // mainWindow owns the window and is what it is placed beside (may be null).
    FileBase(FileTransfer& transfer, QWidget* mainWindow);
    ~FileBase() override;

    FileTransfer* transfer() const { return xfer; }

    // Where the window goes beside a main window of frame `main` on a screen of `screen`:
    // right of it when it fits, else left of it; same top edge.
    static QPoint placement(const QRect& main, const QSize& own, const QRect& screen);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void placeBesideMain();
    void transferFinished();

    QPointer<FileTransfer> xfer;
    QPointer<QWidget> mainWindow;
    bool placed = false;
    bool ending = false;

    QLabel* userlabel;
    QLabel* FnameLabel;
    QLabel* SizeLabel;
    QLabel* TotalLabel;
    QLabel* status;
    QLabel* pctlabel;
    QLabel* KPSlabel;
    QLabel* Elapsed;
    QLabel* TimeLeft;
    QProgressBar* ProgressBar1;
    QPushButton* cancel;
};
