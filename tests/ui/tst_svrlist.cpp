#include "support/Harness.h"

#include "ui/MainWindow.h"
#include "ui/SvrList.h"
#include "ui/TwipsUi.h"
#include "ui/dlgConnectDialog.h"

#include <QAction>
#include <QDir>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTreeWidget>

namespace {

const QByteArray kFile = "Folder=A;Expanded;Parent=Sites;\r\n"
                         "Folder=B;Parent=Sites;\r\n"
                         "Site=S;IP=1.2.3.4;Port=2000;Password=pw;Parent=A;\r\n";
const QDateTime kOld = QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);

QString sitesPath(const TestPeer& p) { return QDir(p.ctx->programFolder).filePath("qvsites.cfg"); }

QTreeWidgetItem* item(SvrList* l, const QString& name)
{
    const auto found = l->Tree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
    return found.size() == 1 ? found.front() : nullptr;
}

// Types text key by key, also characters beyond ASCII (as a keyboard layout would give them).
void keys(QWidget* w, const QString& text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClick(w, char(c.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// Answers the open input box, if one opened, by typing text into it.
void type(SvrList* l, const QString& text)
{
    QInputDialog* box = nullptr; // answered ones linger until deleted
    for (QInputDialog* b : l->findChildren<QInputDialog*>("InputBox"))
        box = b->isVisible() ? b : box;
    if (!box)
        return;
    auto* line = box->findChild<QLineEdit*>();
    line->selectAll();
    QTest::keyClick(line, Qt::Key_Delete);
    keys(line, text);
    box->accept();
}

void typeInto(QLineEdit* box, const QString& text)
{
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    keys(box, text);
}

void drag(SvrList* l, const QString& from, const QString& to)
{
    QWidget* port = l->Tree->viewport();
    const QPoint a = l->Tree->visualItemRect(item(l, from)).center();
    const QPoint b = l->Tree->visualItemRect(item(l, to)).center();
    QTest::mousePress(port, Qt::LeftButton, {}, a);
    QTest::mouseMove(port, b);
    QTest::mouseRelease(port, Qt::LeftButton, {}, b);
}

// Runs one step "verb:argument" on the window and collects the texts of refusals.
void step(SvrList* l, const QString& op, QStringList& told)
{
    const QString verb = op.section(':', 0, 0), arg = op.section(':', 1);
    auto trigger = [l](const char* name) { l->findChild<QAction*>(QLatin1String(name))->trigger(); };
    if (verb == "select")
        l->Tree->setCurrentItem(item(l, arg));
    else if (verb == "folder")
        trigger("mnu_NewFolder"), type(l, arg);
    else if (verb == "site")
        l->NewSiteButton->click(), type(l, arg);
    else if (verb == "rename")
        trigger("mnu_renametree"), type(l, arg);
    else if (verb == "delete") {
        trigger("mnu_delnode");
        if (auto* q = l->findChild<QMessageBox*>("deleteQuestion")) {
            QCOMPARE(q->windowTitle(), QString("Delete?"));
            told << q->text();
            q->button(arg == "yes" ? QMessageBox::Yes : QMessageBox::No)->click();
        }
    } else if (verb == "drag")
        drag(l, arg.section('>', 0, 0), arg.section('>', 1));
    else if (verb == "collapse")
        item(l, arg)->setExpanded(false);
    else if (verb == "ip" || verb == "port" || verb == "pw")
        typeInto(verb == "ip" ? l->IpText : verb == "port" ? l->PortTExt : l->PasswordText, arg);
    else if (verb == "rmhome")
        QVERIFY(QDir(QFileInfo(arg).path()).removeRecursively());
    for (QMessageBox* m : l->findChildren<QMessageBox*>("refusedMessage")) {
        told << m->text();
        delete m;
    }
}

} // namespace

class TestSvrList : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Commands change the tree; closing writes the file only when something changed and more
    // than the root is left, and the bytes are those of the tree as built.
    void commands_data()
    {
        QTest::addColumn<QByteArray>("file"); // "<none>": no file; "<dir>": a folder in its place
        QTest::addColumn<QStringList>("ops");
        QTest::addColumn<QByteArray>("written"); // "<same>": not rewritten
        QTest::addColumn<QStringList>("told");   // refusals and questions, by their start
        QTest::addColumn<QStringList>("lines");  // lines in the panes
        const QByteArray same = "<same>";
        QByteArray chain = "Folder=X;Expanded;Parent=Sites;\r\nFolder=Y;Parent=X;\r\n";
        for (int i = 1; i <= 9; ++i) // nine folders deep, all open
            chain += "Folder=L" + QByteArray::number(i) + ";Expanded;Parent=" +
                     (i == 1 ? QByteArray("Sites") : "L" + QByteArray::number(i - 1)) + ";\r\n";
        QTest::newRow("build from nothing")
            << QByteArray("<none>")
            << QStringList{"folder:Work", "site:Off;ice", "ip:127.0.0.1", "port:2a1b0", "pw:p;w", "folder:a;b;c"}
            << QByteArray("Folder=Work;Expanded;Parent=Sites;\r\nFolder=abc;Parent=Work;\r\n"
                          "Site=Office;IP=127.0.0.1;Port=210;Password=pw;Parent=Work;\r\n")
            << QStringList() << QStringList();
        QTest::newRow("Windows-1252 names")
            << QByteArray("<none>") << QStringList{QString::fromUtf8("site:\u20ac\u0141\u00f3d\u017a")}
            << QByteArray("Site=\x80\xf3" "d;IP=xxx.xxx.xxx.xxx;Port=2000;Password=;Parent=Sites;\r\n") << QStringList()
            << QStringList();
        QTest::newRow("rename keeps references")
            << kFile << QStringList{"select:A", "rename:Home", "select:S", "rename:T"}
            << QByteArray("Folder=B;Parent=Sites;\r\nFolder=Home;Expanded;Parent=Sites;\r\n"
                          "Site=T;IP=1.2.3.4;Port=2000;Password=pw;Parent=Home;\r\n")
            << QStringList() << QStringList();
        QTest::newRow("rename to a taken name") << kFile << QStringList{"select:A", "rename:B"} << same
                                                << QStringList{"Entry B Already Exists!"} << QStringList();
        QTest::newRow("drag a site onto a folder")
            << kFile << QStringList{"drag:S>B"}
            << QByteArray("Folder=A;Expanded;Parent=Sites;\r\nFolder=B;Expanded;Parent=Sites;\r\n"
                          "Site=S;IP=1.2.3.4;Port=2000;Password=pw;Parent=B;\r\n")
            << QStringList() << QStringList();
        QTest::newRow("drag onto a site: its folder")
            << kFile + "Site=T;IP=h;Port=1;Password=;Parent=Sites;\r\n" << QStringList{"drag:S>T"}
            << QByteArray("Folder=A;Expanded;Parent=Sites;\r\nFolder=B;Parent=Sites;\r\n"
                          "Site=S;IP=1.2.3.4;Port=2000;Password=pw;Parent=Sites;\r\n"
                          "Site=T;IP=h;Port=1;Password=;Parent=Sites;\r\n")
            << QStringList() << QStringList();
        QTest::newRow("drag into itself, drag the root")
            << kFile + "Folder=C;Parent=A;\r\n" << QStringList{"drag:A>C", "drag:Sites>B"} << same << QStringList()
            << QStringList();
        QTest::newRow("drag too deep") << chain << QStringList{"drag:X>L8"} << same
                                       << QStringList{"Folders nest at most 9 levels deep"} << QStringList();
        QTest::newRow("new folder too deep") << chain << QStringList{"select:L9", "folder:Z"} << same
                                             << QStringList{"Folders nest at most 9 levels deep"} << QStringList();
        QTest::newRow("duplicates") << kFile << QStringList{"folder:Sites", "site:S", "select:S", "folder:A"} << same
                                    << QStringList{"Entry Sites Already Exists!", "Entry S Already Exists!",
                                                   "Entry A Already Exists!"}
                                    << QStringList();
        QTest::newRow("the root stays") << kFile << QStringList{"select:Sites", "delete:yes", "rename:X"} << same
                                        << QStringList{"The root cannot be deleted", "The root cannot be renamed"}
                                        << QStringList();
        QTest::newRow("delete a folder with its sites")
            << kFile + "Site=T;IP=h;Port=1;Password=;Parent=Sites;\r\n" << QStringList{"select:A", "delete:yes"}
            << QByteArray("Folder=B;Parent=Sites;\r\nSite=T;IP=h;Port=1;Password=;Parent=Sites;\r\n")
            << QStringList{"Delete Folder A?"} << QStringList();
        QTest::newRow("delete answered No") << kFile << QStringList{"select:S", "delete:no"} << same
                                            << QStringList{"Delete Site S?"} << QStringList();
        QTest::newRow("delete the last entry: file kept")
            << QByteArray("Site=S;IP=h;Port=1;Password=;Parent=Sites;\r\n") << QStringList{"select:S", "delete:yes"}
            << same << QStringList{"Delete Site S?"} << QStringList();
        QTest::newRow("malformed line kept")
            << QByteArray("Folder=A;Expanded;Parent=Sites;\r\nbroken\r\nSite=S;IP=h;Port=1;Password=;Parent=A;\r\n")
            << QStringList{"collapse:Sites", "select:S"} << same << QStringList()
            << QStringList{"*** Sites File Line 2 Skipped : no \";\""};
        QTest::newRow("collapse is a change") << kFile << QStringList{"collapse:A"}
                                              << QByteArray("Folder=A;Parent=Sites;\r\nFolder=B;Parent=Sites;\r\n"
                                                            "Site=S;IP=1.2.3.4;Port=2000;Password=pw;Parent=A;\r\n")
                                              << QStringList() << QStringList();
        QTest::newRow("unreadable file not replaced")
            << QByteArray("<dir>") << QStringList{"folder:F"} << QByteArray("<missing>")
            << QStringList{"Save Sites Error : 0 - "} << QStringList{"Open Sites Error : "};
        QTest::newRow("save error shown") << kFile << QStringList{"folder:F", "rmhome"} << QByteArray("<missing>")
                                          << QStringList{"Save Sites Error : "} << QStringList();
    }
    void commands()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, ops);
        QFETCH(QByteArray, written);
        QFETCH(QStringList, told);
        QFETCH(QStringList, lines);
        TestPeer p;
        const QString path = sitesPath(p);
        if (file == "<dir>") {
            QVERIFY(QDir().mkpath(path));
        } else if (file != "<none>") {
            QVERIFY(writeFile(path, file));
            QFile f(path);
            QVERIFY(f.open(QIODevice::Append) && f.setFileTime(kOld, QFileDevice::FileModificationTime));
        }
        QWidget owner;
        auto* l = new SvrList(*p.ctx, &owner);
        l->setAttribute(Qt::WA_DeleteOnClose);
        l->LoadSites();
        l->resize(600, 600); // room for every row
        l->show();
        QVERIFY(!l->ConnectButton->isEnabled() && !l->IpText->isEnabled());
        QStringList said;
        for (QString op : ops) {
            if (op == "rmhome")
                op += ':' + path;
            step(l, op, said);
            if (QTest::currentTestFailed())
                return;
        }
        QPointer<SvrList> gone = l;
        l->CloseButton->click();
        QTRY_VERIFY(!gone);
        for (QMessageBox* m : owner.findChildren<QMessageBox*>("saveSitesError"))
            said << m->text();
        QCOMPARE(said.size(), told.size());
        for (int i = 0; i < told.size(); ++i)
            QVERIFY2(said[i].startsWith(told[i]), qPrintable(said[i]));
        QCOMPARE(p.rec->lines.size(), lines.size());
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(p.rec->lines[i].startsWith(lines[i]), qPrintable(p.rec->lines[i]));
        if (file == "<dir>") {
            QVERIFY(QFileInfo(path).isDir());
        } else if (written == "<same>") {
            QCOMPARE(readFile(path), file == "<none>" ? QByteArray("<missing>") : file);
            if (file != "<none>")
                QCOMPARE(QFileInfo(path).lastModified(), kOld);
        } else {
            QCOMPARE(readFile(path), written);
            const QFileDevice::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther |
                                                    QFile::WriteOther;
            QVERIFY(written == "<missing>" || !(QFileInfo(path).permissions() & others)); // passwords inside
        }
    }

    // What can be typed into each box, and the file ports that follow the port.
    void keyFilters_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("port digits only") << "PortTExt" << "2a1b0-0 " << "2100";
        QTest::newRow("port backspace") << "PortTExt" << "20009\b" << "2000";
        QTest::newRow("port five digits") << "PortTExt" << "6553377" << "65533";
        QTest::newRow("password drops ;") << "PasswordText" << "p;a;ss" << "pass";
        QTest::newRow("address drops ;") << "IpText" << "10.0.0.1;" << "10.0.0.1";
        QTest::newRow("address Windows-1252 only")
            << "IpText" << QString::fromUtf8("h\u20ac\u0141\u00e9") << QString::fromUtf8("h\u20ac\u00e9");
        QTest::newRow("address no field marker") << "IpText" << "xPort=1" << "xPort1";
        QTest::newRow("password no field marker") << "PasswordText" << "Parent=" << "Parent";
    }
    void keyFilters()
    {
        QFETCH(QString, box);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        TestPeer p;
        QVERIFY(writeFile(sitesPath(p), kFile));
        SvrList l(*p.ctx, nullptr);
        l.LoadSites();
        l.show();
        QCOMPARE(l.FilePortText->text(), QString("####"));
        l.Tree->setCurrentItem(item(&l, "S"));
        QCOMPARE(l.shownSite(), l.sites().find("S"));
        QCOMPARE(l.FilePortText->text(), QString("2001 & 2002"));
        auto* edit = l.findChild<QLineEdit*>(box);
        QVERIFY(edit->isEnabled());
        typeInto(edit, typed);
        QCOMPARE(edit->text(), shown);
        if (box == "PortTExt")
            QCOMPARE(l.FilePortText->text(), dlgConnectDialog::filePortsFor(shown));
        // Focus selects the whole text.
        l.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&l));
        l.NameText->setFocus();
        edit->setFocus();
        QTRY_COMPARE(edit->selectedText(), shown);
    }

    // Connect starts a client session to the shown site with its boxes' values, without
    // changing an option, and closes the window; the site list opens from the menus, the
    // toolbar and the quick-connect dialog, one window at a time, sized from the options.
    void connectAndOpen_data()
    {
        QTest::addColumn<QString>("command");
        for (const char* c : {"mnu_svrlist", "pop_svrlist", "ServerList", "quick connect"})
            QTest::newRow(c) << QString::fromLatin1(c);
    }
    void connectAndOpen()
    {
        QFETCH(QString, command);
        TestPeer p;
        QTcpServer listener;
        const quint16 port = freePortTriple();
        QVERIFY(listener.listen(QHostAddress::LocalHost, port));
        const QByteArray file = "Folder=F;Expanded;Parent=Sites;\r\nSite=Peer;IP=127.0.0.1;Port=" + QByteArray::number(port) +
                                ";Password=secret;Parent=F;\r\n";
        QVERIFY(writeFile(sitesPath(p), file));
        p.ctx->options.SitesWidth = "9000";
        p.ctx->options.SitesHeight = "100"; // below the minimum
        const Options before = p.ctx->options;
        MainWindow w(*p.peer);
        InstallSiteList(w);
        auto open = [&] {
            if (command != "quick connect")
                return w.findChild<QAction*>(command)->trigger();
            w.findChild<QAction*>("mnu_Connect")->trigger();
            auto* quick = w.findChild<dlgConnectDialog*>();
            quick->ServerListButton->click();
            QVERIFY(!quick->isVisible());
        };
        open();
        open();
        QCOMPARE(w.findChildren<SvrList*>().size(), 1);
        SvrList* l = w.findChild<SvrList*>();
        QVERIFY(l->isVisible());
        QCOMPARE(l->width(), twipsToPixelsX(9000));
        QCOMPARE(l->height(), twipsToPixelsY(SvrList::minHeightTwips)); // raised to the minimum

        QSignalSpy seen(&listener, &QTcpServer::newConnection);
        l->Tree->setCurrentItem(item(l, "Peer"));
        QCOMPARE(l->NameText->text(), QString("Peer"));
        QPointer<SvrList> gone = l;
        l->ConnectButton->click();
        QVERIFY(seen.count() || seen.wait(5000));
        QCOMPARE(QStringList({p.ctx->ConnMode, p.ctx->ConnHost, p.ctx->ConnPort, p.ctx->ConnPassword}),
                 QStringList({"Client", "127.0.0.1", QString::number(port), "secret"}));
        QTRY_VERIFY(!gone);
        Options expected = before;
        expected.SitesHeight = QString::number(SvrList::minHeightTwips);
        QCOMPARE(p.ctx->options, expected); // only the size was stored
        QCOMPARE(readFile(sitesPath(p)), file);
    }
};

QTEST_MAIN(TestSvrList)
#include "tst_svrlist.moc"
