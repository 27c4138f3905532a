// The extensions between two peers of this program (UTF-8 text, checksums, transfer tokens),
// and that a peer which knows only the plain protocol sees nothing of them but "caps:".
#include "support/RawPeer.h"
#include "support/TransferPair.h"

#include "queue/FileQueue.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

namespace {

const QString kText = QString::fromUtf8("日本語 😀 é €");

using Pair = TransferPair;

// Only plain messages, and "caps:" once.
bool plainOnly(const QStringList& said)
{
    const QStringList plain{"PAuth:", "uinfo:", "msg:",    "file:",    "HaveFile", "CANC_TRAN",
                            "bye",    "ping",   "gotping", "FTIMEOUT", "PSOK",     "PSBAD"};
    int caps = 0;
    for (const QString& m : said) {
        // A Zantiro server offers to go private first thing; a plain peer ignores it.
        if (m == QLatin1String("tls:offer") && &m == &said.first())
            continue;
        caps += m == QLatin1String("caps:utf8,verify,token,run");
        if (m.startsWith(QLatin1String("caps:")))
            continue;
        if (std::none_of(plain.begin(), plain.end(), [&](const QString& p) { return m.startsWith(p); }))
            return false;
    }
    return caps == 1;
}

} // namespace

class TestExtensions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Text and file names in any language, between two peers of this program; with one of
    // them speaking only the plain protocol, Windows-1252, and names that only differ in
    // characters Windows-1252 cannot hold still arrive as two files. (Chat either way: tst_ext_cli
    // and plainPeer below.)
    void text_data()
    {
        columns<bool, bool>("aOn", "bOn");
        QTest::newRow("both with extensions") << true << true;
        QTest::newRow("sender without") << false << true;
        QTest::newRow("receiver without") << true << false;
    }
    void text()
    {
        auto [aOn, bOn] = fetch<bool, bool>("aOn", "bOn");
        Pair p;
        p.a.peer->session().extensionsOn = aOn;
        p.b.peer->session().extensionsOn = bOn;
        const QString jp = QString::fromUtf8("d/日本.txt"), cn = QString::fromUtf8("d/中国.txt");
        QVERIFY(writeFile(p.at(p.src, jp), "first") && writeFile(p.at(p.src, cn), "second"));
        p.a.ctx->options.myEmail = QString::fromUtf8("ÿ@x"); // the scrambling cannot carry "ÿ"
        p.b.ctx->options.existingFileDefault = 1;            // overwrite: a second "__.txt" would replace the first
        QVERIFY(p.connect());
        const bool on = aOn && bOn;
        QTRY_VERIFY_WITH_TIMEOUT(p.a.peer->session().sendsUtf8() == on && p.b.peer->session().sendsUtf8() == on, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(p.b.ctx->remoteEmail, on ? QString::fromUtf8("ÿ@x") : QString("?@x"), 5000);
        QCOMPARE(p.a.peer->session().sharedExtensions(), on ? Session::ownExtensions() : QStringList());
        p.a.peer->queue().addPath(p.at(p.src, "d"));
        QTRY_VERIFY_WITH_TIMEOUT(p.a.peer->queue().completed() == 2, 10000);
        QStringList names = on ? QStringList{QString::fromUtf8("中国.txt"), QString::fromUtf8("日本.txt")}
                               : QStringList{"__ (2).txt", "__.txt"};
        QStringList files = QDir(p.at(p.down, "d")).entryList(QDir::Files), contents;
        files.sort(), names.sort();
        QCOMPARE(files, names);
        // Two files, none written over the other, the sender naming each as it went.
        for (const QString& f : files)
            contents << readFile(p.at(p.down, "d/" + f));
        contents.sort();
        QCOMPARE(contents, (QStringList{"first", "second"}));
        QCOMPARE(p.a.rec->indexStarting("*** File Transfer Complete : d\\__ (2).txt") >= 0, !on);
    }

    // Between two peers that share "verify", "Complete" and "HaveFile" mean the same content.
    void verify_data()
    {
        columns<QString, bool>("how", "on");
        QTest::addColumn<int>("questions");   // existing-file questions at the receiver
        QTest::addColumn<QString>("outcome"); // the sender's first outcome
        QTest::newRow("same size, other content") << "other" << true << 1 << "Complete : f.bin (300000 bytes)";
        QTest::newRow("same size, other content, plain")
            << "other" << false << 0 << "Canceled (Receiver Has Complete File) : f.bin";
        QTest::newRow("same file") << "same" << true << 0 << "Canceled (Receiver Has Complete File) : f.bin";
        QTest::newRow("resume onto a foreign prefix") << "foreign" << true << 0 << "Complete : f.bin (300000 bytes)";
        QTest::newRow("a byte spoiled on the way") << "flip" << true << 0 << "Stopped By Error : f.bin";
    }
    void verify()
    {
        auto [how, on, questions, outcome] = fetch<QString, bool, int, QString>("how", "on", "questions", "outcome");
#ifndef ZANTIRO_TEST_HOOKS
        if (how == "flip")
            QSKIP("built without ZANTIRO_TEST_HOOKS");
#endif
        Pair p;
        p.b.peer->session().extensionsOn = on;
        const QByteArray bytes = randomBytes(300000, 3);
        QVERIFY(writeFile(p.srcPath("f.bin"), bytes));
        QByteArray there = randomBytes(300000, 4); // "other"
        if (how == "same")
            there = bytes;
        else if (how == "foreign")
            there = there.left(200000);
        if (how != "flip")
            QVERIFY(writeFile(p.downPath("f.bin"), there));
        p.b.ctx->options.existingFileDefault = how == "other" ? 0 : 2;
        p.askB->existsReplies = {{ExistingFileChoice::Overwrite, false, {}}};
#ifdef ZANTIRO_TEST_HOOKS
        p.b.peer->transfers().testFlipReceivedByte = how == "flip" ? 1000 : -1;
#endif
        QVERIFY(p.connect());
        p.a.peer->queue().addPath(p.srcPath("f.bin"));
        QTRY_VERIFY_WITH_TIMEOUT(p.a.peer->queue().ended() == 1, 10000);
        const QString log = p.a.rec->text() + "\n--\n" + p.b.rec->text();
        QVERIFY2(p.a.rec->lines.filter("*** File Transfer ").value(0) == "*** File Transfer " + outcome,
                 qPrintable(log));
        QCOMPARE(p.askB->existsNames.size(), questions);
        QCOMPARE(readFile(p.downPath("f.bin")), on || how != "other" ? bytes : there);
        QCOMPARE(p.b.rec->indexStarting("*** The partial file differs") >= 0, how == "foreign");
        if (how == "flip") { // refused, not kept, offered again and received whole
            QVERIFY2(p.b.rec->indexStarting("*** Error : The received content of f.bin differed") >= 0,
                     qPrintable(log));
            QCOMPARE(p.a.rec->count("*** File Transfer Complete : f.bin (300000 bytes)"), 1);
        }
    }

    // A stranger that reaches a transfer port first is closed; the offer's own connections,
    // which prove the token, carry the file. (A stranger speaking on the command port:
    // tst_private strangersOnTransferPort.)
    void token_data()
    {
        QTest::addColumn<int>("port");   // above the control port
        QTest::addColumn<int>("silent"); // connections from the peer's address that never speak
        QTest::newRow("data port") << 2 << 0;
        QTest::newRow("nine silent ones first") << 1 << 9;
    }
    void token()
    {
        QFETCH(int, port); // plain variables: lambdas below use them
        QFETCH(int, silent);
        Pair p;
        const QByteArray bytes = randomBytes(100000, 7);
        QVERIFY(writeFile(p.srcPath("f.bin"), bytes));
        const quint16 control = freePortTriple();
        QVERIFY(connectPeers(p.a, p.b, control));
        QTRY_VERIFY_WITH_TIMEOUT(p.a.peer->session().shares("token"), 5000);
        QTcpSocket s;
        // The data port listens once the receiver answers; the stranger's connection leaves
        // before the sender has even read that answer.
        QObject::connect(&p.b.peer->transfers(), &TransferManager::transferStarted, [&](FileTransfer* t) {
            QObject::connect(t, &FileTransfer::viewChanged, [&, t] {
                if (port == 2 && s.state() == QAbstractSocket::UnconnectedState
                    && t->view().stateText == "Receiving File...") {
                    s.connectToHost(QHostAddress::LocalHost, control + port);
                    s.write(QByteArray(200000, 'J'));
                }
            });
        });
        QVERIFY(p.a.peer->transfers().offerFile(p.srcPath("f.bin"), "f.bin"));
        std::vector<std::unique_ptr<QTcpSocket>> quiet;
        for (int i = 0; i < silent; ++i) {
            quiet.push_back(std::make_unique<QTcpSocket>());
            quiet.back()->connectToHost(QHostAddress::LocalHost, control + port);
            QVERIFY(quiet.back()->waitForConnected(5000));
        }
        QVERIFY(p.waitEnded(0, 0));
        QCOMPARE(readFile(p.downPath("f.bin")), bytes);
        QVERIFY(p.a.rec->contains("*** File Transfer Complete : f.bin (100000 bytes)"));
        if (silent == 0)
            QTRY_COMPARE_WITH_TIMEOUT(s.state(), QAbstractSocket::UnconnectedState, 5000);
        QCOMPARE(p.a.rec->indexStarting("*** Error") + p.b.rec->indexStarting("*** Error"), -2);
    }

    // A receiver that confirms every byte and cancels before the sender's checksum went out:
    // with "verify" that is no success, as no checksum was compared; without, it is.
    void verdictFirst_data()
    {
        stringRows({"caps", "outcome"}, {{"verify", "caps:verify", "Canceled By Receiver : v.bin"},
                                         {"plain", "", "Complete : v.bin (3000 bytes)"}});
    }
    void verdictFirst()
    {
        auto [caps, outcome] = fetch<QString, QString>("caps", "outcome");
        StrictPeer l;
        QVERIFY(l.start());
        if (!caps.isEmpty())
            l.say(caps);
        QTRY_COMPARE_WITH_TIMEOUT(l.me.peer->session().shares("verify"), !caps.isEmpty(), 5000);
        QList<TransferOutcome> ended;
        QObject::connect(&l.me.peer->transfers(), &TransferManager::transferEnded,
                         [&](const TransferOutcome& o) { ended << o; });
        QVERIFY(l.me.peer->transfers().offerFile(l.sendPath("v.bin", randomBytes(3000, 3)), "v.bin"));
        QTcpSocket cmd;
        cmd.connectToHost(QHostAddress::LocalHost, l.port + 1);
        QVERIFY(cmd.waitForConnected(5000));
        // Nothing left to send past the resume offset: "Got All" and the cancel come at once.
        cmd.write("RESUME_TR3000Got AllCANC_TRAN");
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 5000);
        QVERIFY2(l.me.rec->contains("*** File Transfer " + outcome), qPrintable(l.log()));
        QCOMPARE(ended.first().complete, outcome.startsWith("Complete"));
    }

    // "caps:" counts only after the login, and unknown words take no room from known ones.
    void caps_data()
    {
        // before: sent before the login; after: sent once the server's own "caps:" came
        columns<QString, QString, QStringList>("before", "after", "shared");
        QStringList future;
        for (int i = 0; i < 100; ++i)
            future << QStringLiteral("future%1").arg(i);
        const QStringList all = Session::ownExtensions();
        QTest::newRow("before the login only") << QString("caps:utf8,verify,token,run") << QString() << QStringList{};
        QTest::newRow("before and after") << QString("caps:utf8") << QString("caps:utf8,verify,token,run") << all;
        QTest::newRow("100 unknown words first")
            << QString() << "caps:" + future.join(',') + ",utf8,verify,token,run" << all;
        QTest::newRow("unknown and repeated")
            << QString() << "caps:x,verify,,verify," + QString(5000, 'u') << QStringList{"verify"};
    }
    void caps()
    {
        auto [before, after, shared] = fetch<QString, QString, QStringList>("before", "after", "shared");
        TestPeer server;
        RawClient client;
        QVERIFY(client.open(server));
        if (!before.isEmpty())
            client.send(before);
        client.send("PAuth:");
        QTRY_VERIFY_WITH_TIMEOUT(client.received().contains("caps:utf8,verify,token,run"), 5000);
        if (!after.isEmpty())
            client.send(after);
        QSignalSpy changed(&server.peer->session(), &Session::extensionsChanged);
        QVERIFY(changed.wait(5000)); // the client's "caps:", or the end of the wait for it
        QCOMPARE(server.peer->session().sharedExtensions(), shared);
        // The server switches to UTF-8 only after its own announcement.
        const qsizetype ours = client.received().indexOf("caps:utf8,verify,token,run");
        QTRY_COMPARE_WITH_TIMEOUT(client.received().indexOf("enc:utf8"), shared.contains("utf8") ? ours + 1 : -1, 5000);
    }

    // A raw peer written to the plain protocol, as server and as client: it logs in, chats,
    // offers and is offered, and hears nothing of the extensions but "caps:".
    void plainPeer_data()
    {
        rowsOf<bool>("rawServes", {{"raw server", true}, {"raw client", false}});
    }
    void plainPeer()
    {
        QFETCH(bool, rawServes);
        StrictPeer l; // our peer as the raw server's client
        TestPeer server(QStringLiteral("Me"));
        RawClient client;
        TestPeer& me = rawServes ? l.me : server;
        auto say = [&](const QString& text) { (rawServes ? l.ctl : &client.sock)->write(Session::frame(text)); };
        if (rawServes) {
            QVERIFY(l.start());
        } else {
            server.ctx->options.autoAccept = true;
            QDir().mkpath(server.ctx->options.downloadFolder);
            l.port = freePortTriple();
            server.listen(l.port);
            QVERIFY(client.open(l.port));
            say("PAuth:");
            QTRY_VERIFY_WITH_TIMEOUT(server.rec->contains("*** User Authenticated"), 5000);
        }
        const QByteArray& wire = rawServes ? l.said : client.all;
        say("uinfo:Raw;r@x;9;h");
        QTRY_VERIFY_WITH_TIMEOUT(messagesIn(wire).filter("caps:").size() == 1, 5000);
        QVERIFY(writeFile(me.ctx->options.downloadFolder + "/have.bin", "12345"));
        say(QStringLiteral("file:%1|have.bin|512|5").arg(l.port + 1));
        // "ÿ" is in Windows-1252, but the scrambling cannot carry it.
        const QString y = QString::fromUtf8("ÿ");
        me.peer->session().sendChat(kText + y);
        QVERIFY(me.rec->contains(QString::fromUtf8("*** The other side cannot receive these characters, they arrive "
                                                   "as \"?\" : 日 本 語 😀 ÿ")));
        QVERIFY(writeFile(me.home.filePath(y + "out.bin"), "abc"));
        QVERIFY(me.peer->transfers().offerFile(me.home.filePath(y + "out.bin"), y + "out.bin"));
        QTRY_VERIFY_WITH_TIMEOUT(messagesIn(wire).filter("file:").size() == 1, 5000);
        QVERIFY(messagesIn(wire).filter("file:").first().contains("|_out.bin|"));
        say("CANC_TRAN");
        QTRY_VERIFY2_WITH_TIMEOUT(me.rec->contains("*** File Transfer Canceled By Receiver : _out.bin"),
                                  qPrintable(me.rec->text()), 5000);
        // The answers may still be on their way to the raw side.
        QTRY_VERIFY2_WITH_TIMEOUT(messagesIn(wire).contains("HaveFile")
                                      && messagesIn(wire).contains(QString::fromUtf8("msg:??? ?? é €?")),
                                  qPrintable(messagesIn(wire).join('\n')), 5000);
        const QStringList got = messagesIn(wire);
        QVERIFY2(plainOnly(got), qPrintable(got.join('\n')));
        QVERIFY(me.peer->session().sharedExtensions().isEmpty() && !me.peer->session().sendsUtf8());
    }
};

QTEST_GUILESS_MAIN(TestExtensions)
#include "tst_extensions.moc"
