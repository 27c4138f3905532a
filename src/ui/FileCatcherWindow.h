#pragma once
#include <QList>
#include <QPixmap>
#include <QStringList>
#include <QTimer>
#include <QWidget>

class PeerState;
class QAction;
class QLabel;
class QMenu;

// The file catcher "QV Catcher": a small window, normally above the others, that takes files
// and folders dropped from the desktop and hands them to the file queue. It plays a short
// animation while something is dragged over it and can shrink to the picture alone. Its size
// and on-top state live in the options catcherSmall and catcherOnTop.
class FileCatcherWindow : public QWidget {
    Q_OBJECT
public:
    FileCatcherWindow(PeerState& ctx, QWidget* owner);

    // Shows the window in the size and on-top state of the options.
    void load();
    // The two menu toggles ("&Small Window", "&Always On Top").
    void toggleSize();
    void toggleOnTop();

    // Frame `index` of the catcher's picture, 32 by 32: 0 the still picture, 1 to 7 a file
    // dropping into the tray.
    static QPixmap drawFrame(int index);

    QTimer animationTimer;          // animation step, 100 ms
    QList<QPixmap> animationFrames; // the eight frames
    int nextFrame = 1;              // the next animation frame to show

    // Design sizes in twips: the window in its two sizes, the picture box and the label.
    static constexpr int normalWidth = 2520, normalHeight = 1095;
    static constexpr int smallWidth = 615, smallHeight = 855;

Q_SIGNALS:
    // Local files or folders were dropped, in the order the shell gave them.
    void filesDropped(const QStringList& paths);
    // The window is going away, whichever way it was closed.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void step();
    void applySize();
    QAction* addMenuEntry(const char* name, const QString& caption);

    PeerState& ctx;
    QWidget* pictureBox = nullptr;
    QLabel* pictureLabel = nullptr;
    QLabel* hintLabel = nullptr;
    QMenu* popupMenu = nullptr;
    QAction* smallWindowAction = nullptr;
    QAction* onTopAction = nullptr;
    QSize knownFrame; // the window frame, once the window has been shown
};
