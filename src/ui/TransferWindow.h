#pragma once
#include "transfer/TransferActivity.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

// The transfer window: shows one running transfer (name, peer, size, bytes moved, progress,
// rate, elapsed time and time left) and offers its Cancel button. It is a view only: the
// texts come from the transfer, refreshed when the transfer says they changed, and the window
// deletes itself when the transfer finishes. Its close box is refused while the transfer runs.
class TransferWindow : public QWidget {
    Q_OBJECT
public:
    // mainWindow owns the window and is what it is placed beside (may be null).
    TransferWindow(TransferActivity& transfer, QWidget* mainWindow);
    ~TransferWindow() override;

    TransferActivity* transfer() const { return xfer; }

    // Where the window goes beside a main window of frame `main` on a screen of `screen`:
    // right of it when it fits, else left of it; same top edge.
    static QPoint placement(const QRect& main, const QSize& own, const QRect& screen);

    // A label of the transfer made for reading: a byte count after " : " becomes a size such
    // as "6.0 GiB", a rate "N KB/SEC" (thousands of bytes a second) becomes "666.4 MB/s" or
    // "12.5 kB/s", and a wire name's "\" separators become "/". Other texts stay as they are.
    static QString readable(const QString& label);

Q_SIGNALS:
    // Escape or Cancel was pressed on a running transfer (the transfer then asks).
    void cancelRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void layOutControls();
    void refresh();
    void placeBesideMain();
    void transferFinished();

    QPointer<TransferActivity> xfer;
    QPointer<QWidget> mainWindow;
    bool placed = false;
    bool ending = false;

    QLabel* peerLabel;
    QLabel* fileNameLabel;
    QLabel* sizeLabel;
    QLabel* movedLabel;
    QLabel* stateLabel;
    QLabel* percentLabel;
    QLabel* rateLabel;
    QLabel* elapsedLabel;
    QLabel* timeLeftLabel;
    QProgressBar* progressBar;
    QPushButton* cancelButton;
};
