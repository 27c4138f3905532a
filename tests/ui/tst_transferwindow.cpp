#include "support/Harness.h"

#include "queue/FileQueue.h"
#include "transfer/TransferManager.h"
#include "transfer/TransferRun.h"
#include "ui/TransferUi.h"
#include "ui/TransferWindow.h"
#include "ui/WindowTestTools.h"

#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>

namespace {

// One peer whose stand-in main window carries the send actions and the transfer windows.
// Each refresh of its window is recorded right after the window took it.
struct UiPeer {
    explicit UiPeer(const QString& name) : peer(name)
    {
        for (const char* n : {"mnu_sndfile", "pop_file", "Send"})
            (new QAction(&main))->setObjectName(QLatin1String(n));
        installTransferUi(*peer.peer, &main);
        TransferTimeouts& t = peer.peer->transfers().timeouts;
        t.acceptMs = t.blockMs = t.gotAllMs = t.cancelAckMs = t.closeMs = 3000;
        t.viewMs = 10;
        QObject::connect(&peer.peer->transfers(), &TransferManager::transferStarted, &main, [this](FileTransfer* x) {
            for (TransferWindow* f : main.findChildren<TransferWindow*>())
                if (f->transfer() == x)
                    window = f;
            QObject::connect(x, &FileTransfer::viewChanged, &main, [this, x, w = window] {
                if (!w || x->isFinished())
                    return;
                for (const char* n : {"userlabel", "FnameLabel", "SizeLabel"})
                    last[x->nameOfFile()][QLatin1String(n)] = labelText(w, n);
                auto* bar = w->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
                const double real = double(std::min(x->sizeOfFileSent(), x->sizeOfFile())) / x->sizeOfFile();
                worstRatio = std::max(worstRatio, std::abs(double(bar->value()) / bar->maximum() - real));
                shownQuietly = shownQuietly || (w->isVisible() && w->testAttribute(Qt::WA_ShowWithoutActivating));
                busyShown = busyShown || bar->maximum() == 0;
            });
        });
        // A run of files shows in one window: its labels are kept by the file it names.
        QObject::connect(&peer.peer->transfers(), &TransferManager::runStarted, &main, [this](TransferRun* r) {
            for (TransferWindow* f : main.findChildren<TransferWindow*>())
                if (f->transfer() == r)
                    window = f;
            QObject::connect(r, &TransferRun::viewChanged, &main, [this, r, w = window] {
                if (!w || r->isFinished())
                    return;
                const QString name = labelText(w, "FnameLabel").mid(7);
                for (const char* n : {"userlabel", "FnameLabel", "SizeLabel"})
                    last[name][QLatin1String(n)] = labelText(w, n);
                busyShown = busyShown || w->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"))->maximum() == 0;
            });
        });
    }
    TestPeer peer;
    QWidget main;
    QPointer<TransferWindow> window;
    QHash<QString, QHash<QString, QString>> last; // by file name
    double worstRatio = 0;                        // progress bar against the bytes moved
    bool shownQuietly = false;                    // shown once accepted, without taking the focus
    bool busyShown = false;                       // the bar was the animated busy indicator
    PeerState& ctx() { return *peer.ctx; }
    bool has(const QString& line) const { return peer.rec->contains(line); }
};

struct UiPair {
    UiPeer a{QStringLiteral("Annabelle Of The Very Long Sender Name")};
    UiPeer b{QStringLiteral("Bob")};
    bool connect()
    {
        b.ctx().options.autoAccept = true;
        QDir().mkpath(b.ctx().options.downloadFolder);
        return connectPeers(a.peer, b.peer, freePortTriple());
    }
    QString write(const QString& name, const QByteArray& bytes, qint64 size = -1)
    {
        const QString path = a.peer.home.filePath(name);
        if (!writeFile(path, bytes) || (size >= 0 && !QFile::resize(path, size))) // sparse
            return QString();
        return path;
    }
    QByteArray received(const QString& name) { return readFile(QDir(b.ctx().options.downloadFolder).filePath(name)); }
};

} // namespace

// The transfer window and the send command over real transfers between two loopback peers.
class TestTransferWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void runningWindow_data()
    {
        rowsOf<bool>("senderCancels", {{"sender cancels", true}, {"receiver cancels", false}});
    }

    void runningWindow()
    {
        QFETCH(bool, senderCancels);
        UiPair p;
        QVERIFY(p.connect());
        // Past 4 GiB: the size does not fit the progress bar's int.
        const qint64 size = (qint64(5) << 30) + 12345;
        QVERIFY(p.a.peer.peer->transfers().offerFile(p.write("big.bin", {}, size), "big.bin"));
        QVERIFY(QTest::qWaitFor(
            [&] {
                return p.a.window && p.a.window->isVisible() && p.b.window
                       && p.b.window->transfer()->view().progressValue > (1 << 18);
            },
            5000));
        QPointer<TransferWindow> sendWin = p.a.window, recvWin = p.b.window;
        for (TransferWindow* w : {sendWin.data(), recvWin.data()}) {
            QVERIFY(w->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"))->maximum() > (1 << 29));
            closeByCloseBox(w); // does nothing while the file moves
            QVERIFY(w->isVisible());
        }
        QVERIFY(p.a.worstRatio + p.b.worstRatio < 1e-6);
        QCOMPARE(labelText(recvWin, "SizeLabel"), QStringLiteral("File Size : 5.0 GiB"));

        UiPeer& mine = senderCancels ? p.a : p.b;
        auto* cancel = mine.window->findChild<QPushButton*>(QStringLiteral("cancel"));
        auto question = [&] { return mine.main.findChild<QMessageBox*>(QStringLiteral("YesNo")); };
        // Keys typed into the button are dropped; Escape in the window asks, as a click does.
        cancel->setFocus();
        QTest::keyClick(cancel, Qt::Key_Space);
        QVERIFY(!question());
        QTest::keyClick(cancel, Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(question() && question()->isVisible(), 2000);
        QCOMPARE(question()->text(), QStringLiteral("Are you sure you want to end the file transfer?"));
        QTest::mouseClick(question()->button(QMessageBox::No), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!question(), 2000);
        const qint64 before = mine.window->transfer()->view().progressValue;
        QTRY_VERIFY_WITH_TIMEOUT(mine.window && mine.window->transfer()->view().progressValue > before, 5000);

        QTest::mouseClick(cancel, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(question() && question()->isVisible(), 2000);
        QTest::mouseClick(question()->button(QMessageBox::Yes), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(sendWin.isNull() && recvWin.isNull(), 5000);
        QVERIFY(mine.has("*** File Transfer Canceled : big.bin"));
        QVERIFY((senderCancels ? p.b : p.a)
                    .has(senderCancels ? "*** File Transfer Canceled By Sender : big.bin"
                                       : "*** File Transfer Canceled By Receiver : big.bin"));
    }

    // Two queued files arrive; each window shows the name and peer cut to its
    // width, the size, and a progress bar in step with the bytes. (The send command that
    // queues them: the queue window's test.)
    void windowsOfQueuedFiles()
    {
        UiPair p;
        QVERIFY(p.connect());
        const QString name = QStringLiteral("a-rather-long-file-name-for-the-window.bin");
        const QByteArray data = QByteArray("0123456789abcdefghij").repeated(15000);
        p.a.peer.peer->queue().addPath(p.write(name, data));
        p.a.peer.peer->queue().addPath(p.write("two.mp3", QByteArray(70000, '2')));
        QTRY_COMPARE_WITH_TIMEOUT(p.received(name), data, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(p.received("two.mp3"), QByteArray(70000, '2'), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!p.a.window && !p.b.window, 5000);
        QCOMPARE(p.b.last[name]["FnameLabel"], (QStringLiteral("File : ") + name).left(34) + "...");
        QCOMPARE(p.b.last[name]["userlabel"], QStringLiteral("From : Annabelle Of The Very Lo..."));
        QCOMPARE(p.b.last[name]["SizeLabel"], QStringLiteral("File Size : 293.0 KiB"));
        QCOMPARE(p.a.last[name]["userlabel"], QStringLiteral("To : Bob"));
        QVERIFY(p.a.shownQuietly);
        QCOMPARE(p.a.worstRatio + p.b.worstRatio, 0.0);
        const QString done = QStringLiteral("*** File Transfer Complete : %1 (300000 bytes)").arg(name);
        QVERIFY(p.a.has(done) && p.b.has(done));
    }

    // An empty file's window shows a full bar, never the busy indicator, which the style
    // animates (a window repainted twenty times a second).
    void emptyFile()
    {
        UiPair p;
        QVERIFY(p.connect());
        QVERIFY(p.a.peer.peer->transfers().offerFile(p.write("empty.txt", {}), "empty.txt"));
        const QString done = QStringLiteral("*** File Transfer Complete : empty.txt (0 bytes)");
        QTRY_VERIFY_WITH_TIMEOUT(p.a.has(done) && p.b.has(done), 10000);
        QVERIFY(p.a.last.contains("empty.txt") && p.b.last.contains("empty.txt")); // the windows showed it
        QVERIFY(!p.a.busyShown && !p.b.busyShown);
    }

    void readableLabels_data()
    {
        stringRows({"engine", "shown"}, {{"6 GiB", "File Size : 6442450944", "File Size : 6.0 GiB"},
                                         {"bytes", "Total Sent : 512", "Total Sent : 512 bytes"},
                                         {"not yet", "Total Sent : ", "Total Sent : "},
                                         {"fast", "682398.49 KB/SEC", "682.4 MB/s"},
                                         {"slow", "12.5 KB/SEC", "12.5 kB/s"},
                                         {"wire name", "File : Music\\Old\\a : 12", "File : Music/Old/a : 12"}});
    }
    void readableLabels()
    {
        auto [engine, shown] = fetch<QString, QString>("engine", "shown");
        QCOMPARE(TransferWindow::readable(engine), shown);
    }

    void placement()
    {
        const QRect screen(1024, 0, 1024, 768); // a second screen
        QCOMPARE(TransferWindow::placement({1100, 10, 300, 300}, {300, 200}, screen), QPoint(1400, 10)); // right of it
        QCOMPARE(TransferWindow::placement({1100, 10, 700, 300}, {300, 200}, screen), QPoint(800, 10)); // no room: left
    }
};

QTEST_MAIN(TestTransferWindow)
#include "tst_transferwindow.moc"
