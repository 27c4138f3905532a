#include "support/Harness.h"

#include "session/Session.h"
#include "transfer/FileBase.h"
#include "transfer/TransferUi.h"
#include "transfer/Transfers.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

// The transfer window over real transfers between two peers on loopback.
class TestFileBase : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void labelsFollowTransfer();
    void runningWindow_data();
    void runningWindow();
    void sendCommandOffersChosenFiles();
    void placement_data();
    void placement();
};

namespace {

QString label(QWidget* w, const char* name)
{
    auto* l = w ? w->findChild<QLabel*>(QLatin1String(name)) : nullptr;
    return l ? l->text() : QStringLiteral("<missing>");
}

// One peer with a stand-in main window carrying the transfer windows.
struct UiPeer {
    explicit UiPeer(const QString& name) : peer(name)
    {
        main.setGeometry(40, 30, 200, 150);
        for (const char* n : {"mnu_sndfile", "pop_file", "Send"})
            new QAction(QLatin1String(n), &main); // found by name: set the object name
        const auto actions = main.findChildren<QAction*>();
        for (QAction* act : actions)
            act->setObjectName(act->text());
        InstallTransferUi(*peer.ctx, &main);
        TransferTimeouts& t = peer.ctx->transfers().timeouts;
        t.acceptMs = t.blockMs = t.gotAllMs = t.cancelAckMs = t.closeMs = 3000;
        t.viewMs = 10;
        QObject::connect(&peer.ctx->transfers(), &Transfers::transferStarted, &main, [this](FileTransfer* x) {
            window = main.findChild<FileBase*>();
            // Runs after the window's own refresh: a snapshot of what it shows.
            QObject::connect(x, &FileTransfer::viewChanged, &main, [this, x] {
                if (!window || x->isFinished())
                    return;
                seen << label(window, "status") << label(window, "TotalLabel");
                for (const char* n : {"userlabel", "FnameLabel", "SizeLabel", "pctlabel"})
                    last[QLatin1String(n)] = label(window, n);
                last[QStringLiteral("title")] = window->windowTitle();
                auto* bar = window->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
                if (bar->maximum() > 0 && x->sizeOfFile() > 0) {
                    const double shown = double(bar->value()) / bar->maximum();
                    const double real = double(std::min(x->sizeOfFileSent(), x->sizeOfFile())) / x->sizeOfFile();
                    worstRatio = std::max(worstRatio, std::abs(shown - real));
                }
                wasVisible = wasVisible || window->isVisible();
            });
        });
    }
    TestPeer peer;
    QWidget main;
    QPointer<FileBase> window;
    QStringList seen;
    QHash<QString, QString> last; // the texts of the latest refresh
    double worstRatio = 0;
    bool wasVisible = false;
    Context& ctx() { return *peer.ctx; }
    bool has(const QString& line) const { return peer.rec->contains(line); }
};

struct UiPair {
    UiPeer a{QStringLiteral("Annabelle Of The Very Long Sender Name")};
    UiPeer b{QStringLiteral("Bob")};
    bool connect()
    {
        b.ctx().options.AutoAccept = true;
        QDir().mkpath(b.ctx().options.DownloadDir);
        const quint16 port = freePortTriple();
        a.peer.listen(port);
        b.peer.connectTo(port);
        return QTest::qWaitFor([this] { return a.has("*** Remote User Info Change (Bob)") &&
                                               b.has(QStringLiteral("*** Remote User Info Change (%1)")
                                                         .arg(a.ctx().options.MyName)); },
                               5000);
    }
    QString source(const QString& name) const { return a.peer.home.filePath(name); }
};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

void TestFileBase::labelsFollowTransfer()
{
    UiPair p;
    QVERIFY(p.connect());
    const QString name = QStringLiteral("a-rather-long-file-name-for-the-window.bin"); // 42
    QByteArray data(300000, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(data.data()), data.size() / 4);
    {
        QFile f(p.source(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    QVERIFY(p.a.ctx().transfers().offerFile(p.source(name), name));
    QTRY_VERIFY_WITH_TIMEOUT(p.b.window, 5000);
    QPointer<FileBase> sendWin = p.a.window, recvWin = p.b.window;
    QVERIFY(sendWin);
    QVERIFY(sendWin->testAttribute(Qt::WA_ShowWithoutActivating));
    QTRY_VERIFY_WITH_TIMEOUT(sendWin.isNull() && recvWin.isNull(), 10000);
    // What the windows showed while the file moved: the name and the peer cut to the
    // window's width, the size, and a progress bar in step with the bytes.
    const auto& shown = p.b.last;
    QCOMPARE(shown["title"], QStringLiteral("Receiving"));
    QCOMPARE(shown["FnameLabel"], (QStringLiteral("File : ") + name).left(34) + "...");
    QCOMPARE(shown["userlabel"], (QStringLiteral("From : ") + p.a.ctx().options.MyName).left(31) + "...");
    QCOMPARE(shown["SizeLabel"], QStringLiteral("File Size : 300000"));
    QCOMPARE(p.a.last["title"], QStringLiteral("Sending"));
    QCOMPARE(p.a.last["userlabel"], QStringLiteral("To : Bob"));
    QVERIFY(p.a.wasVisible);
    QCOMPARE(p.a.worstRatio, 0.0);
    QCOMPARE(p.b.worstRatio, 0.0);
    const QString done = QStringLiteral("*** File Transfer Complete : %1 (300000 bytes)").arg(name);
    QVERIFY(p.a.has(done));
    QVERIFY(p.b.has(done));
    QCOMPARE(readAll(QDir(p.b.ctx().options.DownloadDir).filePath(name)), data);
}

void TestFileBase::runningWindow_data()
{
    QTest::addColumn<bool>("senderCancels");
    QTest::newRow("sender cancels") << true;
    QTest::newRow("receiver cancels") << false;
}

void TestFileBase::runningWindow()
{
    QFETCH(bool, senderCancels);
    UiPair p;
    QVERIFY(p.connect());
    // A sparse file past 4 GiB: its size does not fit the progress bar's int.
    const qint64 size = (qint64(5) << 30) + 12345;
    {
        QFile f(p.source("big.bin"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(size));
    }
    QVERIFY(p.a.ctx().transfers().offerFile(p.source("big.bin"), "big.bin"));
    QTRY_VERIFY_WITH_TIMEOUT(p.a.window && p.a.window->isVisible() && p.b.window, 5000);
    QVERIFY(QTest::qWaitFor([&] { return p.b.window && p.b.window->transfer()->sizeOfFileSent() > (1 << 20); }, 5000));
    QPointer<FileBase> sendWin = p.a.window, recvWin = p.b.window;
    for (FileBase* w : {sendWin.data(), recvWin.data()}) {
        auto* bar = w->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
        QVERIFY(bar->maximum() > (1 << 29));
        QVERIFY(bar->value() > 0);
        // The close box does nothing while the file moves.
        QCloseEvent ev;
        QApplication::sendEvent(w, &ev);
        QVERIFY(!ev.isAccepted());
        QVERIFY(w->isVisible());
    }
    QVERIFY(p.a.worstRatio < 1e-6);
    QVERIFY(p.b.worstRatio < 1e-6);
    QCOMPARE(label(sendWin, "status"), QStringLiteral("Sending File..."));
    QCOMPARE(label(recvWin, "status"), QStringLiteral("Receiving File..."));
    QCOMPARE(label(recvWin, "SizeLabel"), QStringLiteral("File Size : %1").arg(size));
    QVERIFY(QRegularExpression("^Total Received : [1-9][0-9]+$").match(label(recvWin, "TotalLabel")).hasMatch());
    QVERIFY(QRegularExpression("^[0-9]+(\\.[0-9]+)? KB/SEC$").match(label(recvWin, "KPSlabel")).hasMatch());

    UiPeer& mine = senderCancels ? p.a : p.b;
    UiPeer& other = senderCancels ? p.b : p.a;
    auto* cancel = mine.window->findChild<QPushButton*>(QStringLiteral("cancel"));
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    auto question = [&] { return mine.main.findChild<QMessageBox*>(QStringLiteral("YesNo")); };
    // Keys on the button are dropped; only a click asks.
    cancel->setFocus();
    QTest::keyClick(cancel, Qt::Key_Space);
    QTest::keyClick(cancel, Qt::Key_Return);
    QVERIFY(!question());
    QTest::mouseClick(cancel, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(question() && question()->isVisible(), 2000);
    QCOMPARE(question()->windowTitle(), QStringLiteral("Cancel Send?"));
    QCOMPARE(question()->text(), QStringLiteral("Are you sure you want to end the file transfer?"));
    QTest::mouseClick(question()->button(QMessageBox::No), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!question(), 2000);
    const qint64 before = mine.window->transfer()->sizeOfFileSent();
    QTRY_VERIFY_WITH_TIMEOUT(mine.window && mine.window->transfer()->sizeOfFileSent() > before + (1 << 20), 5000);

    QTest::mouseClick(cancel, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(question() && question()->isVisible(), 2000);
    QTest::mouseClick(question()->button(QMessageBox::Yes), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(sendWin.isNull() && recvWin.isNull(), 5000);
    QVERIFY(mine.has("*** File Transfer Canceled : big.bin"));
    QVERIFY(other.has(senderCancels ? "*** File Transfer Canceled By Sender : big.bin"
                                    : "*** File Transfer Canceled By Receiver : big.bin"));
}

void TestFileBase::sendCommandOffersChosenFiles()
{
    UiPair p;
    QVERIFY(p.connect());
    const QString folder = p.a.peer.home.filePath("pick");
    QVERIFY(QDir().mkpath(folder));
    const QStringList names = {"one.txt", "two.mp3"};
    for (const QString& n : names) {
        QFile f(QDir(folder).filePath(n));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(n.toLatin1().repeated(1000));
    }
    p.a.ctx().options.LastSendDir = QStringLiteral("/no/such/folder");
    for (const char* action : {"pop_file", "Send", "mnu_sndfile"}) {
        p.a.main.findChild<QAction*>(QLatin1String(action))->trigger();
        auto* chooser = p.a.main.findChild<QFileDialog*>();
        QVERIFY(chooser);
        QCOMPARE(chooser->windowTitle(), QStringLiteral("Select File(s) To Send"));
        QCOMPARE(chooser->fileMode(), QFileDialog::ExistingFiles);
        QCOMPARE(chooser->directory().absolutePath(), p.a.ctx().programFolder);
        QCOMPARE(chooser->nameFilters().size(), 3);
        QVERIFY(chooser->selectedNameFilter().startsWith("All Files (*.*)"));
        if (qstrcmp(action, "mnu_sndfile") != 0) {
            chooser->reject();
            QTRY_VERIFY_WITH_TIMEOUT(!p.a.main.findChild<QFileDialog*>(), 2000);
            continue;
        }
        chooser->setDirectory(folder);
        chooser->selectFile(QStringLiteral("\"one.txt\" \"two.mp3\""));
        static_cast<QDialog*>(chooser)->accept(); // the "Open" button
    }
    for (const QString& n : names)
        QTRY_COMPARE_WITH_TIMEOUT(readAll(QDir(p.b.ctx().options.DownloadDir).filePath(n)),
                                  n.toLatin1().repeated(1000), 10000);
    QCOMPARE(p.a.peer.rec->indexStarting("*** File Transfer Complete : one.txt") <
                 p.a.peer.rec->indexStarting("*** File Transfer Complete : two.mp3"),
             true);
    QCOMPARE(p.a.ctx().options.LastSendDir, QDir::toNativeSeparators(folder + '/'));
}

void TestFileBase::placement_data()
{
    QTest::addColumn<QRect>("main");
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("fits on the right") << QRect(100, 50, 400, 300) << QRect(0, 0, 1024, 768) << QPoint(500, 50);
    QTest::newRow("exactly the screen width goes left") << QRect(100, 50, 624, 300) << QRect(0, 0, 1024, 768)
                                                        << QPoint(-200, 50);
    QTest::newRow("too wide: left of it") << QRect(600, 80, 300, 300) << QRect(0, 0, 1024, 768) << QPoint(300, 80);
    QTest::newRow("second screen") << QRect(1100, 10, 300, 300) << QRect(1024, 0, 1024, 768) << QPoint(1400, 10);
}

void TestFileBase::placement()
{
    QFETCH(QRect, main);
    QFETCH(QRect, screen);
    QFETCH(QPoint, expected);
    QCOMPARE(FileBase::placement(main, QSize(300, 200), screen), expected);
}

QTEST_MAIN(TestFileBase)
#include "tst_filebase.moc"
