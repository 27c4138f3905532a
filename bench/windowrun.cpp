// Many files through the window program: builds the program as the window program does (a
// Peer, its main window with the transfer windows and the file queue's window, all shown
// offscreen) and has it receive or send N files from or to a headless peer that connects to
// it. A 10 ms timer measures how long the event loop went without turning: the longest gap
// between two of its ticks is the longest the windows were frozen. Each repaint of a transfer
// window and of the queue window is counted (one update request of the top-level window).
//
// usage: QT_QPA_PLATFORM=offscreen windowrun HOME PORT receive N DOWNLOAD [never]
//        QT_QPA_PLATFORM=offscreen windowrun HOME PORT send N PATH [never]
//   "never": no private connection. The program listens on 127.0.0.1:PORT and prints
//   "listening"; when N files have ended and the other peer has left it prints one line of
//   key=value figures and exits (1 when a file did not complete or nothing came in time).

#include "core/Startup.h"
#include "peer/Peer.h"
#include "queue/FileQueue.h"
#include "session/Session.h"
#include "transfer/TransferManager.h"
#include "transfer/TransferRun.h"
#include "ui/MainWindow.h"
#include "ui/QueueWindow.h"
#include "ui/TransferUi.h"
#include "ui/TransferWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <functional>

namespace {

// A memory figure of this process in KiB: "VmRSS" (now) or "VmHWM" (the peak). Not the
// peak getrusage gives: that counts the peak of the process that started this one as well.
long memoryKib(const QByteArray& key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).trimmed().split(' ').first().toLong();
    return -1;
}

double seconds(const timeval& t)
{
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

// Counts the repaints of the windows it watches: the window system asks a top-level widget
// for one update request per repaint of whatever in it changed.
class RepaintCounter : public QObject {
public:
    using QObject::QObject;
    int transferWindow = 0;
    int queueWindow = 0;
    QPointer<QWidget> queue;

    void watch(QWidget* w)
    {
        if (w && !w->property("watched").toBool()) {
            w->setProperty("watched", true);
            w->installEventFilter(this);
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::UpdateRequest)
            ++(watched == queue ? queueWindow : transferWindow);
        return false;
    }
};

// The longest the event loop went without turning, from the gaps between the ticks of a
// 10 ms timer.
class StallMeter : public QObject {
public:
    explicit StallMeter(QObject* parent) : QObject(parent)
    {
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(10);
        connect(&tick, &QTimer::timeout, this, [this] {
            const qint64 ns = sinceTick.nsecsElapsed();
            sinceTick.restart();
            const double ms = double(ns) / 1e6;
            if (ms > 100)
                ++over100;
            if (ms > 250)
                ++over250;
            if (ms > longestMs) {
                longestMs = ms;
                longestAt = double(sinceStart.nsecsElapsed()) / 1e9;
                filesAtLongest = filesNow ? filesNow() : 0;
            }
        });
    }
    void start()
    {
        sinceStart.start();
        sinceTick.start();
        tick.start();
    }
    void stop() { tick.stop(); }

    std::function<int()> filesNow;
    double longestMs = 0;
    double longestAt = 0; // seconds after start()
    int filesAtLongest = 0;
    int over100 = 0;
    int over250 = 0;

private:
    QTimer tick;
    QElapsedTimer sinceTick;
    QElapsedTimer sinceStart;
};

} // namespace

int main(int argc, char** argv)
{
    const QByteArray role = argc >= 6 ? QByteArray(argv[3]) : QByteArray();
    const int n = argc >= 6 ? QByteArray(argv[4]).toInt() : 0;
    if ((role != "receive" && role != "send") || n < 1 || (argc == 7 && QByteArray(argv[6]) != "never") || argc > 7) {
        std::fprintf(stderr, "usage: windowrun HOME PORT receive|send N DOWNLOAD|PATH [never]\n");
        return 2;
    }
    const bool sending = role == "send";
    Startup::ignoreFileSizeSignal();
    Startup::keepBuffersInHeap();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    // As the window program starts, without the splash window.
    Peer peer(Startup::programFolder(QString::fromLocal8Bit(argv[1])));
    PeerState& ctx = peer.state();
    Startup::makeFolders(ctx.programFolder);
    ctx.loadConfig();
    MainWindow window(peer);
    window.sizeForNewInstallation();
    installTransferUi(peer, &window);
    ctx.identity();
    window.applyWindowPlacement();
    window.show();

    ctx.options.autoAccept = true;
    if (!sending)
        ctx.options.downloadFolder = QString::fromLocal8Bit(argv[5]);
    if (argc == 7)
        ctx.settings.privateMode = PrivateMode::Never;
    ctx.connectionMode = ConnectionMode::Server;
    ctx.connectionHost.clear();
    ctx.connectionPort = QString::fromLocal8Bit(argv[2]);

    RepaintCounter repaints;
    repaints.queue = window.queueWindow();
    repaints.watch(window.queueWindow());
    // Runs after the transfer windows' own handler: the new window exists by then.
    const auto watchTransferWindows = [&window, &repaints] {
        for (TransferWindow* w : window.findChildren<TransferWindow*>())
            repaints.watch(w);
    };
    QElapsedTimer sinceFirst; // from the first transfer's start
    TransferManager& transfers = peer.transfers();
    QObject::connect(&transfers, &TransferManager::transferStarted, &app, [&] {
        if (!sinceFirst.isValid())
            sinceFirst.start();
        watchTransferWindows();
    });
    QObject::connect(&transfers, &TransferManager::runStarted, &app, watchTransferWindows);

    int ended = 0;
    int complete = 0;
    double movingS = 0;
    double wholeS = 0;
    long loginKib = 0;
    bool done = false;
    QElapsedTimer sinceLogin;
    auto* stalls = new StallMeter(&app);
    stalls->filesNow = [&ended] { return ended; };
    QObject::connect(&peer.session(), &Session::loggedIn, &app, [&] {
        loginKib = memoryKib("VmRSS");
        sinceLogin.start();
        stalls->start();
        if (sending) {
            // As the send command does with a chosen folder: the queue's window opens and
            // the folder goes into the queue.
            window.queueWindow()->show();
            peer.queue().addPath(QString::fromLocal8Bit(argv[5]));
        }
    });
    // Ends once N files have ended and the headless peer has left (it leaves once it is done
    // too; leaving first could cut its last answers). Its leaving may be seen before the
    // outcomes of its last files, which come on the other connections.
    const auto finishWhenDone = [&done, &peer, &app] {
        if (done && !peer.session().isConnected())
            QTimer::singleShot(0, &app, [] { QCoreApplication::exit(0); });
    };
    QObject::connect(&transfers, &TransferManager::transferEnded, &app, [&](const TransferOutcome& outcome) {
        if (outcome.sending != sending || done)
            return;
        ++ended;
        complete += outcome.complete ? 1 : 0;
        if (ended < n)
            return;
        done = true;
        movingS = double(sinceFirst.nsecsElapsed()) / 1e9;
        wholeS = double(sinceLogin.nsecsElapsed()) / 1e9;
        stalls->stop();
        finishWhenDone();
    });
    QObject::connect(&peer.session(), &Session::connectionStateChanged, &app, finishWhenDone);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &app, [] { QCoreApplication::exit(1); });
    limit.start(30 * 60 * 1000);

    window.openConnection();
    if (peer.session().controlSocket.state() != EventSocket::Listening) {
        std::fprintf(stderr, "windowrun: cannot listen on port %s\n", argv[2]);
        return 1;
    }
    std::printf("listening\n");
    std::fflush(stdout);
    const int status = app.exec();
    if (!done || status != 0) {
        std::fprintf(stderr, "windowrun: %d of %d files ended, %d complete\n", ended, n, complete);
        return 1;
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const double s = movingS > 0 ? movingS : 1e-9;
    std::printf("files=%d complete=%d moving_s=%.3f whole_s=%.3f rate=%.0f longest_stall_ms=%.1f "
                "stall_at_s=%.2f stall_at_file=%d stalls_over_100ms=%d stalls_over_250ms=%d "
                "transfer_window_repaints_per_s=%.1f queue_window_repaints_per_s=%.1f cpu_s=%.2f "
                "login_rss_kib=%ld peak_rss_kib=%ld\n",
                ended, complete, movingS, wholeS, ended / s, stalls->longestMs, stalls->longestAt,
                stalls->filesAtLongest, stalls->over100, stalls->over250, repaints.transferWindow / s,
                repaints.queueWindow / s, seconds(usage.ru_utime) + seconds(usage.ru_stime), loginKib,
                memoryKib("VmHWM"));
    return complete == n ? 0 : 1;
}
