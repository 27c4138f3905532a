#pragma once
#include <QTimer>
#include <QWidget>

// The window shown while the program starts. It closes itself after closeAfterMs or on a
// click and then says so once through finished().
class SplashWindow : public QWidget {
    Q_OBJECT
public:
    explicit SplashWindow(const QString& version, QWidget* parent = nullptr);

    int closeAfterMs = 3000;
    // Shows the window and starts its timer.
    void start();

Q_SIGNALS:
    void finished();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void finish();

    QTimer timer;
    bool done = false;
};
