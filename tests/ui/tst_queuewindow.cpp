#include "support/Harness.h"

#include "queue/FileQueue.h"
#include "ui/FileCatcherWindow.h"
#include "ui/FileOrFolderDialog.h"
#include "ui/MainWindow.h"
#include "ui/QueueWindow.h"
#include "ui/TransferUi.h"
#include "ui/WindowTestTools.h"

#include <QFileDialog>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

namespace {

QStringList entries(FileQueue& q)
{
    QStringList l;
    for (int i = 0; i < q.count(); ++i)
        l << q.path(i) + '|' + q.name(i);
    return l;
}

// Sends a drag and then a drop of `mime` to `target`; true when the drop was taken.
bool drop(QWidget* target, QMimeData* mime)
{
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent dropped(QPointF(at), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropped);
    return dropped.isAccepted();
}

} // namespace

class TestQueueWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Files and folders dropped on any target of the program are queued in the order given:
    // a folder as a folder entry; links to the web and text are not taken.
    void drops_data()
    {
        columns<QString, QString>("window", "target");
        for (const char* t : {"Base", "BothText", "MsgText", "ChatBar", "Toolbar1", "SockState"})
            QTest::addRow("main %s", t) << "main" << t;
        for (const char* t : {"queue", "List1", "Toolbar1"})
            QTest::addRow("queue %s", t) << "queue" << t;
        for (const char* t : {"Moniter", "Label1", "Image1"})
            QTest::addRow("catcher %s", t) << "catcher" << t;
    }
    void drops()
    {
        auto [window, target] = fetch<QString, QString>("window", "target");
        TestPeer p;
        p.ctx->options.boxLayout = "1";
        MainWindow w(*p.peer);
        w.applyLayout();
        QWidget* scope = &w;
        if (window == "queue")
            scope = w.queueWindow();
        if (window == "catcher") {
            act(&w, "mnu_catcher")->trigger();
            scope = w.catcher();
        }
        QWidget* to = scope->objectName() == target ? scope : scope->findChild<QWidget*>(target);
        QVERIFY(to);
        const QString home = p.home.path();
        QVERIFY(writeFile(home + "/f1.txt") && writeFile(home + "/dir/sub/x") && writeFile(home + "/f2"));

        QMimeData text;
        text.setText(home + "/f1.txt");
        QVERIFY(target == "ChatBar" || !drop(to, &text)); // the chat bar takes text as typing
        QMimeData web;
        web.setUrls({QUrl("https://example.org/f.zip")});
        QVERIFY(!drop(to, &web));
        QCOMPARE(p.peer->queue().count(), 0);
        QVERIFY(!w.queueWindow()->isVisible());

        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(home + "/f1.txt"), QUrl::fromLocalFile(home + "/dir"),
                       QUrl("https://example.org/f.zip"), QUrl::fromLocalFile(home + "/f2")});
        QVERIFY(drop(to, &files));
        QCOMPARE(entries(p.peer->queue()), QStringList({home + "/f1.txt|f1.txt", home + "/dir/|dir", home + "/f2|f2"}));
        QVERIFY(w.queueWindow()->isVisible()); // the first entry shows the window
    }

    // The catcher comes up as its two options say; the menu toggles flip them and the window's
    // flag; closed by its close box and shown again, it is as it was left.
    void catcher_data()
    {
        columns<bool, bool>("small", "onTop");
        // The two toggles below pass through the other two states.
        QTest::newRow("normal, plain") << false << false;
        QTest::newRow("small, on top") << true << true;
    }
    void catcher()
    {
        auto [small, onTop] = fetch<bool, bool>("small", "onTop");
        TestPeer p;
        Options& o = p.ctx->options;
        o.catcherSmall = small, o.catcherOnTop = onTop;
        MainWindow w(*p.peer);
        act(&w, "mnu_catcher")->trigger();
        QPointer<FileCatcherWindow> m = w.catcher();
        QVERIFY(m);
        auto check = [&](bool s, bool t) {
            QCOMPARE(o.catcherSmall, s);
            QCOMPARE(o.catcherOnTop, t);
            QCOMPARE(m->windowFlags().testFlag(Qt::WindowStaysOnTopHint), t);
            QVERIFY(m->isVisible());
        };
        check(small, onTop);
        act(m, "mnu_smwin")->trigger();
        check(!small, onTop);
        act(m, "mnu_ontop")->trigger();
        check(!small, !onTop);

        // A drag over it plays frames 1 to 7 and comes back to the still picture.
        QMimeData mime;
        mime.setText("x");
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m->findChild<QWidget*>("Label1"), &enter);
        QVERIFY(m->animationTimer.isActive());
        QTRY_VERIFY_WITH_TIMEOUT(m->nextFrame > 3, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!m->animationTimer.isActive(), 2000);
        QCOMPARE(m->nextFrame, 1);
        QCOMPARE(m->findChild<QLabel*>("Image1")->pixmap().toImage(), m->animationFrames[0].toImage());

        m->close(); // the close box
        QVERIFY(m.isNull() || !m->isVisible());
        act(&w, "pop_catcher")->trigger();
        m = w.catcher();
        check(!small, !onTop); // as it was left
    }

    // The window's list commands follow the selection and act on the queue, moving the
    // selection with the entries; the close box only hides the window.
    void queueWindow_data()
    {
        columns<QString, QString, QList<int>>("command", "order", "selectedAfter");
        const QList<std::tuple<const char*, const char*, QList<int>>> rows = {
            {"Up", "10324", {0, 2}},   {"mnu_up", "10324", {0, 2}},
            {"Down", "02143", {2, 4}}, {"mnu_down", "02143", {2, 4}},
            {"mnu_top", "31024", {}},  {"mnu_bott", "02413", {}},
            {"Del", "024", {}},        {"mnu_del", "024", {}}};
        for (const auto& [command, order, selected] : rows)
            QTest::newRow(command) << QString(command) << QString(order) << selected;
    }
    void queueWindow()
    {
        auto [command, order, selectedAfter] = fetch<QString, QString, QList<int>>("command", "order", "selectedAfter");
        TestPeer p;
        MainWindow w(*p.peer);
        w.show();
        FileQueue& q = p.peer->queue();
        QueueWindow* qw = w.queueWindow();
        for (int i = 0; i < 5; ++i)
            q.add(QString("/q/%1").arg(i), QString::number(i), false);
        QVERIFY(qw->isVisible());

        QAction* a = act(qw, qPrintable(command));
        auto* list = qw->findChild<QListView*>("List1");
        for (int r : {1, 3})
            list->selectionModel()->select(list->model()->index(r, 0), QItemSelectionModel::Select);
        a->trigger();
        QString now;
        for (int i = 0; i < q.count(); ++i)
            now += q.name(i);
        QCOMPARE(now, order);
        QCOMPARE(qw->selectedRows(), selectedAfter);

        act(qw, "Stop")->trigger();
        QVERIFY(q.isStopped());
        act(qw, "Go")->trigger();
        QVERIFY(!q.isStopped());

        for (QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
            act(qw, "mnu_clear")->trigger();
            auto* box = qw->findChild<QMessageBox*>("clearQuestion");
            QVERIFY(box);
            if (answer == QMessageBox::No)
                QTest::keyClick(box, Qt::Key_Return); // Enter alone keeps the queue
            else
                box->button(answer)->click();
            QCOMPARE(q.count(), answer == QMessageBox::No ? int(order.size()) : 0);
        }

        qw->close(); // the close box only hides it
        QVERIFY(qw->isHidden());
    }

    // The queue window opens beside the main window and never off the screen.
    void placement_data()
    {
        columns<QRect, QPoint>("main", "at");
        QTest::newRow("room below") << QRect(100, 100, 640, 600) << QPoint(100, 700);
        QTest::newRow("at the bottom: right") << QRect(0, 400, 640, 600) << QPoint(640, 400);
        QTest::newRow("bottom right: left") << QRect(900, 400, 640, 600) << QPoint(500, 400);
        QTest::newRow("nowhere free: kept on screen") << QRect(0, 0, 1600, 1000) << QPoint(0, 700);
    }
    void placement()
    {
        auto [main, at] = fetch<QRect, QPoint>("main", "at");
        QCOMPARE(QueueWindow::placeBeside(main, QSize(400, 300), QRect(0, 0, 1600, 1000)), at);
    }

    // A large folder is expanded with the panel up, counting (a few times a second, not on
    // every batch read); Cancel keeps what was found.
    void folderPanel()
    {
        TestPeer a("a"), b("b");
        QVERIFY(connectPeers(a, b, freePortTriple()));
        MainWindow w(*b.peer);
        FileQueue& q = b.peer->queue();
        q.dirBatch = 10;
        const QString dir = b.home.path() + "/big";
        for (int i = 0; i < 3000; ++i)
            QVERIFY(writeFile(QString("%1/%2").arg(dir).arg(i)));
        auto* panel = w.queueWindow()->findChild<QWidget*>("ProcDirPic");
        QVERIFY(panel->isHidden());
        // Reading is quick: what the panel shows is taken, and Cancel pressed, midway.
        QStringList shown;
        QObject::connect(&q, &FileQueue::filesAddedChanged, panel, [&](int n) {
            if (n <= 100 || !panel->isVisible() || !shown.isEmpty())
                return;
            shown << w.queueWindow()->findChild<QLabel*>("DirLabel")->text()
                  << w.queueWindow()->findChild<QLabel*>("FileAddedLabel")->text() << QString::number(n);
            act(w.queueWindow(), "Stop")->trigger();
            w.queueWindow()->findChild<QPushButton*>("CancelDirProc")->click();
        });
        q.addPath(dir);
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty() && panel->isHidden(), 5000);
        QCOMPARE(shown[0], "..." + (dir + "/").right(13));
        QVERIFY2(shown[1].toInt() >= 0 && shown[1].toInt() <= shown[2].toInt(), qPrintable(shown.join(' ')));
        // The count shown catches up with the last one read.
        QTRY_COMPARE_WITH_TIMEOUT(w.queueWindow()->findChild<QLabel*>("FileAddedLabel")->text(), shown[2], 2000);
        QVERIFY(q.count() > 90 && q.count() < 3000);
    }

    // The send command: the chooser's choice (Enter takes the last one), and what the file
    // dialog or the folder picker returns goes into the queue. A last folder that is gone
    // gives way to the program's folder.
    void sendCommand_data()
    {
        columns<QString, QStringList>("button", "queued");
        QTest::newRow("files") << "SendFileButton" << QStringList{"f1.txt", "f2"};
        QTest::newRow("folder by Enter") << "Return" << QStringList{"dir/"};
        QTest::newRow("files, dialog closed") << "SendFileButton" << QStringList{};
        QTest::newRow("folder, last folder gone") << "SendFoldButton" << QStringList{"dir/"};
        QTest::newRow("cancel") << "CancelButton" << QStringList{};
    }
    void sendCommand()
    {
        auto [button, queued] = fetch<QString, QStringList>("button", "queued");
        const bool byEnter = button == "Return"; // Enter takes the remembered choice
        if (byEnter)
            button = "SendFoldButton";
        TestPeer p;
        Options& o = p.ctx->options;
        MainWindow w(*p.peer);
        installTransferUi(*p.peer, &w);
        const QString home = p.home.path();
        QVERIFY(writeFile(home + "/pick/f1.txt") && writeFile(home + "/pick/f2") && writeFile(home + "/pick/dir/x"));
        o.lastSendFolder = button == "SendFoldButton" ? "/no/such/folder/" : home + "/pick/";
        o.sendFileChosen = button == "SendFileButton";
        act(&w, "mnu_sndfile")->trigger();
        FileOrFolderDialog* type = w.findChild<FileOrFolderDialog*>();
        if (byEnter)
            QTest::keyClick(type->focusWidget(), Qt::Key_Return);
        else
            type->findChild<QPushButton*>(button)->click();
        QPointer<QFileDialog> dialog = w.findChild<QFileDialog*>();
        QCOMPARE(bool(dialog), button != "CancelButton");
        if (dialog) {
            QCOMPARE(dialog->directory().absolutePath(),
                     button == "SendFoldButton" ? p.ctx->programFolder : home + "/pick");
            QCOMPARE(o.sendFileChosen, button == "SendFileButton");
            const bool files = dialog->fileMode() == QFileDialog::ExistingFiles;
            QCOMPARE(files, button == "SendFileButton");
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(files ? "\"f1.txt\" \"f2\"" : home + "/pick/dir");
            if (queued.isEmpty())
                dialog->reject();
            else
                static_cast<QDialog*>(dialog.data())->accept();
        }
        QStringList want;
        for (const QString& n : queued)
            want << home + "/pick/" + n + '|' + n.chopped(n.endsWith('/') ? 1 : 0);
        QTRY_COMPARE(entries(p.peer->queue()), want);
        QCOMPARE(w.queueWindow()->isVisible(), !queued.isEmpty());
        QCOMPARE(o.lastSendFolder, button == "SendFoldButton" ? home + "/pick/dir/" : home + "/pick/");
    }
};

QTEST_MAIN(TestQueueWindow)
#include "tst_queuewindow.moc"
