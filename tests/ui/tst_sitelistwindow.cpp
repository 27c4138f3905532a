#include "identity/KnownPeers.h"
#include "support/Harness.h"

#include "ui/MainWindow.h"
#include "ui/QuickConnectDialog.h"
#include "ui/SiteDetailsPanel.h"
#include "ui/SiteListWindow.h"
#include "ui/Twips.h"
#include "ui/WindowTestTools.h"

#include <QDir>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTreeWidget>

namespace {

const QByteArray kFile = "Folder=A;Expanded;Parent=Sites;\r\n"
                         "Folder=B;Parent=Sites;\r\n"
                         "Site=S;IP=1.2.3.4;Port=2000;Password=pw;Parent=A;\r\n";
const QDateTime kOld = QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);

QString sitesPath(const TestPeer& p)
{
    return QDir(p.ctx->programFolder).filePath("qvsites.cfg");
}

QTreeWidgetItem* item(SiteListWindow* l, const QString& name)
{
    const auto found = l->treeWidget->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
    return found.size() == 1 ? found.front() : nullptr;
}

// Types over a box key by key.
void typeInto(QLineEdit* box, const QString& text)
{
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    typeKeys(box, text);
}

// Runs one step "verb:argument" on the window and collects the texts of questions and refusals.
void step(SiteListWindow* l, const QString& op, QStringList& told)
{
    const QString verb = op.section(':', 0, 0), arg = op.section(':', 1);
    auto trigger = [l](const char* name) { act(l, name)->trigger(); };
    if (verb == "select") {
        l->treeWidget->setCurrentItem(item(l, arg));
    } else if (verb == "rename" && !act(l, "mnu_renametree")->isEnabled()) {
        told << "no Rename";
    } else if (verb == "folder" || verb == "site" || verb == "rename") { // answered in the input box
        verb == "site" ? l->details->newSiteButton->click()
                       : trigger(verb == "folder" ? "mnu_NewFolder" : "mnu_renametree");
        QInputDialog* box = nullptr; // answered ones linger until deleted
        for (QInputDialog* b : l->findChildren<QInputDialog*>("InputBox"))
            box = b->isVisible() ? b : box;
        if (box) {
            typeInto(box->findChild<QLineEdit*>(), arg);
            if (box->labelText() != box->windowTitle() && box->labelText().contains('\n')) // what was not taken
                told << box->labelText().section('\n', 2);
            box->accept();
        }
    } else if (verb == "delete" && !act(l, "mnu_delnode")->isEnabled()) {
        told << "no Delete";
    } else if (verb == "delete") {
        trigger("mnu_delnode");
        if (auto* q = l->findChild<QMessageBox*>("deleteQuestion")) {
            told << q->text();
            q->button(arg == "yes" ? QMessageBox::Yes : QMessageBox::No)->click();
        }
    } else if (verb == "drag") {
        QWidget* port = l->treeWidget->viewport();
        const QPoint from = l->treeWidget->visualItemRect(item(l, arg.section('>', 0, 0))).center();
        const QPoint to = l->treeWidget->visualItemRect(item(l, arg.section('>', 1))).center();
        QTest::mousePress(port, Qt::LeftButton, {}, from);
        QTest::mouseMove(port, to);
        QTest::mouseRelease(port, Qt::LeftButton, {}, to);
    } else if (verb == "collapse") {
        item(l, arg)->setExpanded(false);
    } else if (verb == "escape") {
        QTest::keyClick(l->treeWidget, Qt::Key_Escape);
        told << (l->isOpen() ? "open" : "closed");
    } else if (verb == "details") {
        told << "details:" + l->details->nameEdit->text() + "|" + l->details->addressEdit->text();
    } else if (verb == "name") { // renames when the box is left by Enter
        typeInto(l->details->nameEdit, arg);
        QTest::keyClick(l->details->nameEdit, Qt::Key_Return);
    } else {
        typeInto(verb == "ip"     ? l->details->addressEdit
                 : verb == "port" ? l->details->portEdit
                                  : l->details->passwordEdit,
                 arg);
    }
    if (!l->details->noticeLabel->text().isEmpty())
        told << l->details->noticeLabel->text(), l->details->noticeLabel->clear();
    for (QMessageBox* m : l->findChildren<QMessageBox*>("refusedMessage")) {
        told << m->text();
        delete m;
    }
}

} // namespace

class TestSiteListWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Commands change the tree; closing (also by Escape) writes the file only when something
    // changed, and the bytes are those of the tree as built. What a box did not take is named.
    void commands_data()
    {
        // file: "<none>": no file; "<dir>": a folder in its place; written: "<same>": not rewritten; told: questions,
        // refusals, then pane lines, by their start
        columns<QByteArray, QStringList, QByteArray, QStringList>("file", "ops", "written", "told");
        auto row = [](const char* name, const QByteArray& file, const QStringList& ops, const QByteArray& written,
                      const QStringList& told = {}) { QTest::newRow(name) << file << ops << written << told; };
        const QByteArray same = "<same>", none = "<none>", t = "Site=T;IP=h;Port=1;Password=;Parent=Sites;\r\n";
        const QByteArray s = "Site=S;IP=1.2.3.4;Port=2000;Password=pw;Parent=";
        row("build from nothing", none,
            {"folder:Work", "site:Off;ice", "ip:127.0.0.1", "port:2a1b0", "pw:p;w", "folder:a;b;c"},
            "Folder=Work;Expanded;Parent=Sites;\r\nFolder=abc;Parent=Work;\r\n"
            "Site=Office;IP=127.0.0.1;Port=210;Password=pw;Parent=Work;\r\n",
            {"Not taken: \";\". The sites file", "Not taken: \"a\" \"b\". A port", "Not taken: \";\"",
             "Not taken: \";\""});
        row("Windows-1252 names", none, {QString::fromUtf8("site:\u20ac\u0141\u00f3d\u017a \u65e5\u672c")},
            "Site=\x80\xf3"
            "d ;IP=xxx.xxx.xxx.xxx;Port=2000;Password=;Parent=Sites;\r\n",
            {QString::fromUtf8("Not taken: \"\u0141\" \"\u017a\" \"\u65e5\" \"\u672c\". The sites file holds "
                               "Windows-1252 text without \";\".")});
        row("boxes keep out what the file cannot hold", kFile,
            {"select:S", QString::fromUtf8("ip:h\u20ac\u0141;Port=1"), "port:6553377",
             QString::fromUtf8("pw:Parent=;x\u00ff")},
            "Folder=A;Expanded;Parent=Sites;\r\nFolder=B;Parent=Sites;\r\n"
            "Site=S;IP=h\x80Port1;Port=65533;Password=Parentx;Parent=A;\r\n",
            {"The address may not hold \"Port=\".", "A port has at most five digits.",
             QString::fromUtf8("Not taken: \";\" \"\u00ff\"")});
        row("name box renames", kFile + t, {"select:S", "name:Office", "select:T", "select:Office", "details"},
            "Folder=A;Expanded;Parent=Sites;\r\nFolder=B;Parent=Sites;\r\n"
            "Site=Office;IP=1.2.3.4;Port=2000;Password=pw;Parent=A;\r\n"
                + t,
            {"details:Office|1.2.3.4"});
        row("name box refuses a taken name", kFile + t, {"select:S", "name:T", "details"}, same,
            {"Entry T Already Exists!", "details:S|1.2.3.4"});
        row("escape closes and saves", kFile, {"select:S", "ip:9.9.9.9", "escape"},
            "Folder=A;Expanded;Parent=Sites;\r\nFolder=B;Parent=Sites;\r\n"
            "Site=S;IP=9.9.9.9;Port=2000;Password=pw;Parent=A;\r\n",
            {"closed"});
        row("delete the shown site clears the details", kFile + t, {"select:S", "delete:yes", "details"},
            "Folder=A;Expanded;Parent=Sites;\r\nFolder=B;Parent=Sites;\r\n" + t, {"Delete Site S?", "details:|"});
        row("rename keeps references", kFile, {"select:A", "rename:Home", "select:S", "rename:T"},
            "Folder=B;Parent=Sites;\r\nFolder=Home;Expanded;Parent=Sites;\r\n"
            "Site=T;IP=1.2.3.4;Port=2000;Password=pw;Parent=Home;\r\n");
        row("drag a site onto a folder", kFile, {"drag:S>B"},
            "Folder=A;Expanded;Parent=Sites;\r\nFolder=B;Expanded;Parent=Sites;\r\n" + s + "B;\r\n");
        row("drag onto a site: its folder", kFile + t, {"drag:S>T"},
            "Folder=A;Expanded;Parent=Sites;\r\nFolder=B;Parent=Sites;\r\n" + s + "Sites;\r\n" + t);
        row("drag into itself, drag the root", kFile + "Folder=C;Parent=A;\r\n", {"drag:A>C", "drag:Sites>B"}, same);
        // The model's own refusals (names taken, nesting) reach the user as a message.
        row("names taken", kFile, {"site:S", "select:A", "rename:B"}, same,
            {"Entry S Already Exists!", "Entry B Already Exists!"});
        row("the root stays", kFile, {"select:S", "select:Sites", "delete:yes", "rename:X"}, same,
            {"no Delete", "no Rename"});
        QByteArray chain = "Folder=X;Expanded;Parent=Sites;\r\nFolder=Y;Parent=X;\r\n";
        for (int i = 1; i <= 9; ++i) // nine folders deep, all open
            chain += "Folder=L" + QByteArray::number(i)
                     + ";Expanded;Parent=" + (i == 1 ? QByteArray("Sites") : "L" + QByteArray::number(i - 1)) + ";\r\n";
        row("drag too deep", chain, {"drag:X>L8"}, same, {"Folders nest at most 9 levels deep"});
        row("delete answered No", kFile, {"select:S", "delete:no"}, same, {"Delete Site S?"});
        row("delete the last entry: file emptied", "Site=S;IP=h;Port=1;Password=secret;Parent=Sites;\r\n",
            {"select:S", "delete:yes"}, "", {"Delete Site S?"});
        row("malformed line kept",
            "Folder=A;Expanded;Parent=Sites;\r\nbroken\r\nSite=S;IP=h;Port=1;Password=;Parent=A;\r\n",
            {"collapse:Sites", "select:S"}, same, {"*** Sites File Line 2 Skipped : no \";\""});
        row("collapse is a change", kFile, {"collapse:A"},
            "Folder=A;Parent=Sites;\r\nFolder=B;Parent=Sites;\r\n" + s + "A;\r\n");
        row("unreadable file not replaced", "<dir>", {"folder:F"}, "<missing>",
            {"Save Sites Error : 0 - ", "Open Sites Error : "});
        row("save error shown", kFile, {"folder:F", "rmhome"}, "<missing>", {"Save Sites Error : "});
    }
    void commands()
    {
        auto [file, ops, written, told] =
            fetch<QByteArray, QStringList, QByteArray, QStringList>("file", "ops", "written", "told");
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
        auto* l = new SiteListWindow(*p.ctx, &owner);
        l->setAttribute(Qt::WA_DeleteOnClose);
        l->loadSites();
        l->resize(600, 600); // room for every row
        l->show();
        QStringList said;
        QPointer<SiteListWindow> gone = l;
        for (const QString& op : ops)
            op == "rmhome" ? void(QDir(p.ctx->programFolder).removeRecursively()) : step(l, op, said);
        if (gone)
            l->details->closeButton->click();
        QTRY_VERIFY(!gone);
        for (QMessageBox* m : owner.findChildren<QMessageBox*>("saveSitesError"))
            said << m->text();
        said += p.rec->lines;
        for (int i = 0; i < said.size() && i < told.size(); ++i)
            said[i].truncate(told[i].size());
        QCOMPARE(said, told);
        const bool same = written == "<same>";
        QCOMPARE(readFile(path), same ? (file == "<none>" ? QByteArray("<missing>") : file) : written);
        if (same)
            QVERIFY(file == "<none>" || QFileInfo(path).lastModified() == kOld);
    }

    // The quick-connect dialog's "Server List" opens the site list, sized from the options.
    // Connect starts a client session to the shown site with its boxes' values, closes the
    // window and changes no option but its size, nor the sites file.
    void openAndConnect()
    {
        TestPeer p;
        QTcpServer listener;
        const quint16 port = freePortTriple();
        QVERIFY(listener.listen(QHostAddress::LocalHost, port));
        const QByteArray file = "Folder=F;Expanded;Parent=Sites;\r\nSite=Peer;IP=127.0.0.1;Port="
                                + QByteArray::number(port) + ";Password=secret;Parent=F;\r\n";
        QVERIFY(writeFile(sitesPath(p), file));
        p.ctx->options.sitesWidth = "9000";
        p.ctx->options.sitesHeight = "100"; // below the minimum
        Options expected = p.ctx->options;
        expected.sitesHeight = QString::number(SiteListWindow::minHeightTwips);
        MainWindow w(*p.peer);
        installSiteList(w);
        act(&w, "mnu_Connect")->trigger();
        auto* quick = w.findChild<QuickConnectDialog*>();
        quick->siteListButton->click();
        QVERIFY(!quick->isVisible());
        SiteListWindow* l = w.findChild<SiteListWindow*>();
        QVERIFY(l && l->isVisible());
        QCOMPARE(l->size(), QSize(twipsToPixelsX(9000), twipsToPixelsY(SiteListWindow::minHeightTwips)));

        l->treeWidget->setCurrentItem(item(l, "Peer"));
        QSignalSpy seen(&listener, &QTcpServer::newConnection);
        QPointer<SiteListWindow> gone = l;
        l->details->connectButton->click();
        QVERIFY(seen.count() || seen.wait(5000));
        QCOMPARE(QStringList({connectionModeName(p.ctx->connectionMode), p.ctx->connectionHost, p.ctx->connectionPort,
                              p.ctx->connectionPassword}),
                 QStringList({"Client", "127.0.0.1", QString::number(port), "secret"}));
        QTRY_VERIFY(!gone);
        QCOMPARE(p.ctx->options, expected);
        QCOMPARE(readFile(sitesPath(p)), file);
    }

    // The shown site's identity, by the address and port its boxes hold: remembered or not.
    // Forget Identity asks; No keeps the key, Yes removes it from the file and nothing else.
    void forgetIdentity()
    {
        TestPeer p;
        QVERIFY(writeFile(sitesPath(p), kFile + "Site=T;IP=1.2.3.4;Port=2001;Password=;Parent=Sites;\r\n"));
        KnownPeers stored(p.ctx->programFolder);
        QVERIFY(stored.rememberSite("1.2.3.4", 2000, "key of S", "Ann") && stored.rememberSite("h", 2000, "k2", ""));
        QVERIFY(stored.save());
        QWidget owner;
        SiteListWindow l(*p.ctx, &owner);
        l.loadSites();
        l.show();
        SiteDetailsPanel* d = l.details;
        auto state = [d] { return d->identityLabel->text() + (d->forgetIdentityButton->isEnabled() ? "|forget" : ""); };
        QCOMPARE(state(), "");
        const QList<std::pair<QString, QString>> steps = {{"select:T", "Identity : not yet known"},
                                                          {"select:S", "Identity : remembered|forget"},
                                                          {"port:2001", "Identity : not yet known"},
                                                          {"port:2000", "Identity : remembered|forget"}};
        QStringList told;
        for (const auto& [op, shows] : steps) {
            step(&l, op, told);
            QCOMPARE(state(), shows);
        }
        for (auto answer : {QMessageBox::No, QMessageBox::Yes}) {
            d->forgetIdentityButton->click();
            auto* q = l.findChild<QMessageBox*>("forgetIdentityQuestion");
            QVERIFY(q && q->isVisible()
                    && q->text().startsWith("Forget the identity remembered for 1.2.3.4 port 2000?"));
            q->button(answer)->click();
            delete q;
            KnownPeers read(p.ctx->programFolder);
            QVERIFY(read.load());
            QCOMPARE(read.siteKey("1.2.3.4", 2000), answer == QMessageBox::Yes ? QByteArray() : "key of S");
            QCOMPARE(read.siteKey("h", 2000), "k2");
        }
        QCOMPARE(state(), "Identity : not yet known");
    }
};

QTEST_MAIN(TestSiteListWindow)
#include "tst_sitelistwindow.moc"
