#include "support/RawPeer.h"
#include "support/TransferPair.h"

#include "queue/FileQueue.h"

#include <QSignalSpy>

#include <unistd.h>

namespace {

// Two logged-in peers (a sends, b receives) that also keep where b's transfer began.
struct Pair : TransferPair {
    qint64 resumeB = -1; // -1: b never received

    Pair()
    {
        QObject::connect(&b.peer->transfers(), &TransferManager::transferStarted, [this](FileTransfer* t) {
            QObject::connect(t, &FileTransfer::finished, [this, t] { resumeB = t->resumeSize(); });
        });
    }
};

struct Ending {
    QString how, senderLine, receiverLine;
    bool putBack, stopped;
};

struct Existing {
    QByteArray local, other;
    int always;
    QList<ExistingFileChoice> choices; // the answers to the questions, in order
    QString typed, savedAs;
    qint64 resume; // the receiver's resume offset
    QString senderLine, receiverLine;
};

} // namespace

Q_DECLARE_METATYPE(Ending)
Q_DECLARE_METATYPE(Existing)

class TestTransfer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void endings_data()
    {
        QTest::addColumn<Ending>("row");
        const QString byReceiver = "*** File Transfer Canceled By Receiver : f.bin",
                      canceled = "*** File Transfer Canceled : f.bin";
        const QString error = "*** File Transfer Stopped By Error : f.bin",
                      timedOut = "*** File Transfer Timed Out : f.bin";
        QTest::newRow("decline") << Ending{"decline", byReceiver, canceled, false, true};
        QTest::newRow("sender times out") << Ending{"timeout", timedOut, timedOut, true, false};
        QTest::newRow("sender cancels") << Ending{"sender", canceled, "*** File Transfer Canceled By Sender : f.bin",
                                                  true, true};
        QTest::newRow("receiver cancels") << Ending{"receiver", byReceiver, canceled, false, true};
        QTest::newRow("receiver folder read-only") << Ending{"readonly", byReceiver, error, false, true};
        QTest::newRow("source shrinks") << Ending{"shrink", error, "*** File Transfer Canceled By Sender : f.bin",
                                                  false, false};
        // A Disconnect ends the transfer once the peer has read the "bye": one line, and the
        // other side offers nothing again on the connection going away.
        QTest::newRow("disconnect") << Ending{"disconnect", "*** File Transfer Disconnected : f.bin", "", true, false};
        QTest::newRow("receiver disconnects")
            << Ending{"b disconnect", "", "*** File Transfer Disconnected : f.bin", true, false};
        // An offer nobody can answer any more ends at once, not a minute later.
        QTest::newRow("control lost while asking") << Ending{"lost", "*** File Transfer Disconnected : f.bin",
                                                             "*** File Transfer Disconnected : f.bin", true, false};
    }
    void endings()
    {
        QFETCH(Ending, row);
        const auto& [how, senderLine, receiverLine, putBack, stopped] = row;
        if (how == "readonly" && ::geteuid() == 0)
            QSKIP("permissions do not stop root from writing");
        Pair p;
        const QByteArray data(how == "readonly" ? 3 << 20 : 48 << 20, 'z');
        QVERIFY(writeFile(p.srcPath("f.bin"), data));
        QSignalSpy backs(&p.a.peer->transfers(), &TransferManager::putBack);
        QSignalSpy stops(&p.a.peer->transfers(), &TransferManager::stopQueue);
        p.b.ctx->options.autoAccept = how != "decline" && how != "timeout" && how != "lost";
        if (how == "lost")
            QObject::connect(p.askB, &ScriptedPrompts::asked, [&] { p.a.peer->session().dropForConnect(); });
        if (how == "decline")
            p.askB->acceptReplies.push_back({false, p.down, false});
        bool sentWhileAsked = false; // an offer being decided holds the one transfer slot
        if (how == "timeout") {
            p.a.peer->transfers().timeouts.acceptMs = 300;
            QObject::connect(p.askB, &ScriptedPrompts::asked,
                             [&] { sentWhileAsked = p.b.peer->transfers().offerFile(p.srcPath("f.bin"), "x"); });
        }
        if (how == "readonly")
            QVERIFY(QFile::setPermissions(p.down, QFile::ReadOwner | QFile::ExeOwner));
        // Act once the data connection is up (the sender's window shows).
        QObject::connect(&p.a.peer->transfers(), &TransferManager::transferStarted, [&, &how = how](FileTransfer* t) {
            QObject::connect(t, &FileTransfer::viewChanged, t, [&, t] {
                if (!t->view().visible)
                    return;
                if (how == "sender")
                    t->cancelConfirmed();
                else if (how == "shrink")
                    QFile::resize(p.srcPath("f.bin"), 1 << 20);
                else if (how == "disconnect")
                    p.a.peer->session().disconnectFromPeer();
            });
        });
        // The receiver cancels once it has answered.
        QObject::connect(&p.b.peer->transfers(), &TransferManager::transferStarted, [&, &how = how](FileTransfer* t) {
            QObject::connect(t, &FileTransfer::viewChanged, t, [&, t] {
                if (how == "receiver" && t->view().stateText == "Receiving File...")
                    t->requestCancel();
                if (how == "b disconnect" && t->view().stateText == "Receiving File..."
                    && p.b.peer->session().isConnected())
                    p.b.peer->session().disconnectFromPeer();
            });
        });
        p.askB->yesNoReplies.push_back(true);
        QVERIFY(p.connect());
        const int nb = p.endedB.size();
        if (how.endsWith("disconnect")) // through the queue, which offers a put-back file again
            p.a.peer->queue().addPath(p.srcPath("f.bin"));
        else
            QVERIFY(p.a.peer->transfers().offerFile(p.srcPath("f.bin"), "f.bin"));
        QVERIFY(p.waitEnded(0, nb));
        QFile::setPermissions(p.down, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QStringList& la = p.a.rec->lines;
        QVERIFY2(senderLine.isEmpty() ? la.indexOf(QRegularExpression(
                                            R"(^\*\*\* File Transfer (Incomplete|Stopped By Error) : f\.bin$)"))
                                            >= 0
                                      : la.contains(senderLine),
                 qPrintable(la.join('\n')));
        if (!receiverLine.isEmpty())
            QVERIFY2(p.b.rec->contains(receiverLine), qPrintable(p.b.rec->text()));
        if (how == "readonly")
            QVERIFY2(p.b.rec->indexStarting("*** Error : Cannot write ") >= 0, qPrintable(p.b.rec->text()));
        if (how == "shrink")
            QVERIFY(la.contains("*** Error : Cannot read " + p.srcPath("f.bin") + " - the file became shorter"));
        QCOMPARE(la.filter("Complete").size(), 0);
        if (how.endsWith("disconnect")) {
            QTRY_VERIFY_WITH_TIMEOUT(!p.a.peer->session().isConnected() && !p.b.peer->session().isConnected()
                                         && !p.a.peer->transfers().current() && !p.b.peer->transfers().current(),
                                     5000);
            QCOMPARE((how == "disconnect" ? la : p.b.rec->lines).filter("*** File Transfer Disconnected").size(), 1);
            QCOMPARE(la.filter("*** Sending File : f.bin").size(), 1);
        }
        QCOMPARE(!backs.isEmpty(), putBack);
        QCOMPARE(!stops.isEmpty(), stopped);
        QVERIFY(!p.a.ctx->transferBusy && !p.a.peer->transfers().current());
        if (how == "timeout" || how == "lost")
            QCOMPARE(p.askB->withdrawnCount(), 1); // the open question went away with the offer
        QVERIFY(!sentWhileAsked);
    }

    void hostileOffers_data()
    {
        // The offer, and a path outside that must stay untouched.
        stringRows({"offer", "escape"}, {{"parent", "file:%1|..\\evil.txt|512|10", "../evil.txt"},
                                         {"negative size", "file:%1|ok.txt|512|-5", ""},
                                         {"block zero", "file:%1|ok.txt|0|10", ""},
                                         {"port", "file:7%1|ok.txt|512|10", ""},
                                         {"link to folder", "file:%1|out\\evil.txt|512|10", "../outside/evil.txt"},
                                         {"link to file", "file:%1|l.txt|512|10", "../outside/target.txt"}});
    }
    void hostileOffers()
    {
        auto [offer, escape] = fetch<QString, QString>("offer", "escape");
        StrictPeer raw;
        TestPeer& b = raw.me;
        b.ctx->options.existingFileDefault = 1;
        const QString down = raw.down;
        const QString outside = QDir::cleanPath(down + "/../outside");
        QVERIFY(writeFile(outside + "/target.txt", "old"));
        QVERIFY(QFile::link(outside, down + "/out"));
        QVERIFY(QFile::link(outside + "/target.txt", down + "/l.txt"));
        QVERIFY(raw.start());
        raw.say(offer.arg(raw.port + 1));
        QTRY_VERIFY_WITH_TIMEOUT(raw.heard("CANC_TRAN"), 5000);
        QVERIFY2(b.rec->indexStarting("*** Error : Refused File") >= 0, qPrintable(b.rec->text()));
        QVERIFY(!b.ctx->transferBusy && !b.peer->transfers().current());
        if (!escape.isEmpty())
            QCOMPARE(readFile(QDir(down).filePath(escape)), escape.endsWith("target.txt") ? "old" : "<missing>");
    }

    // An unfinished file goes back to the front; a headless peer gives it up after a few tries.
    void queueRetries()
    {
        Pair p;
        p.b.ctx->options.autoAccept = false; // nobody answers: each offer times out
        p.a.peer->transfers().timeouts.acceptMs = 150;
        QVERIFY(writeFile(p.srcPath("f.bin"), "abc"));
        QVERIFY(writeFile(p.srcPath("g.bin"), "defg"));
        FileQueue& list = p.a.peer->queue();
        list.maxPutBacks = 2;
        list.addPath(p.srcPath("f.bin"));
        list.addPath(p.srcPath("g.bin"));
        QVERIFY(p.connect());
        QTRY_VERIFY2_WITH_TIMEOUT(list.remaining() == 0 && list.ended() == 2, qPrintable(p.a.rec->text()), 15000);
        QCOMPARE(p.a.rec->count("*** File Transfer Timed Out : f.bin"), 3); // then given up
        QCOMPARE(p.a.rec->count("*** File Given Up : f.bin did not go through 3 times in a row"), 1);
        QCOMPARE(p.a.rec->count("*** File Transfer Timed Out : g.bin"), 3);
        QCOMPARE(p.a.rec->indexStarting("*** Sending File : g.bin")
                     > p.a.rec->lines.lastIndexOf("*** File Transfer Timed Out : f.bin"),
                 true);
        QCOMPARE(list.completed(), 0);
    }

    // f.bin arrives where a file of that name (local) and maybe g.bin (other) already are.
    void existing_data()
    {
        QTest::addColumn<Existing>("row");
        using C = ExistingFileChoice;
        const QByteArray data = randomBytes(200000, 7), longer = randomBytes(300000, 8);
        const QString done = "*** File Transfer Complete : %1 (200000 bytes)", f = done.arg("f.bin");
        const QString byReceiver = "*** File Transfer Canceled By Receiver : f.bin",
                      canceled = "*** File Transfer Canceled : f.bin";
        QTest::newRow("resume short") << Existing{data.left(90000), {}, 2, {}, {}, "f.bin", 0, f, f};
        QTest::newRow("resume longer") << Existing{longer, {}, 0, {C::Resume}, {}, "f.bin", 0, f, f};
        QTest::newRow("overwrite") << Existing{
            longer, {}, 1, {}, {}, "f.bin", 0, f, "*** Overwriting File : f.bin (200000 bytes)"};
        QTest::newRow("rename") << Existing{longer, {}, 0, {C::NumberedName}, {}, "f1.bin", 0, f, done.arg("f1.bin")};
        // A typed name that exists is never written over unasked; the same name is refused.
        QTest::newRow("typed, exists, overwrite")
            << Existing{longer, longer, 0, {C::TypedName, C::Overwrite}, "g.bin", "g.bin", 0, f, done.arg("g.bin")};
        QTest::newRow("typed, exists, cancel")
            << Existing{longer, longer, 0, {C::TypedName, C::Cancel}, "g.bin", "", -1, byReceiver, canceled};
        QTest::newRow("typed, the same name")
            << Existing{longer, {}, 0, {C::TypedName}, "f.bin", "", -1, byReceiver, canceled};
        QTest::newRow("have file") << Existing{
            data, {}, 0, {}, {}, "f.bin", -1, "*** File Transfer Canceled (Receiver Has Complete File) : f.bin", ""};
        QTest::newRow("canceled") << Existing{longer, {}, 0, {C::Cancel}, {}, "", -1, byReceiver, canceled};
    }
    void existing()
    {
        QFETCH(Existing, row);
        const auto& [local, other, always, choices, typed, savedAs, resume, senderLine, receiverLine] = row;
        Pair p;
        const QByteArray data = randomBytes(200000, 7);
        QVERIFY(writeFile(p.srcPath("f.bin"), data));
        QVERIFY(writeFile(p.downPath("f.bin"), local));
        if (!other.isEmpty())
            QVERIFY(writeFile(p.downPath("g.bin"), other));
        p.b.ctx->options.existingFileDefault = always;
        for (ExistingFileChoice choice : choices)
            p.askB->existsReplies.push_back({choice, false, typed});
        QVERIFY(p.connect());
        QVERIFY(p.send("f.bin"));
        QVERIFY2(p.a.rec->contains(senderLine), qPrintable(p.a.rec->text()));
        if (!receiverLine.isEmpty())
            QVERIFY2(p.b.rec->contains(receiverLine), qPrintable(p.b.rec->text()));
        else
            QCOMPARE(p.b.rec->indexStarting("*** File Transfer"), -1);
        QCOMPARE(p.askB->questions.size(), choices.size());
        if (choices.size() > 1)
            QCOMPARE(p.askB->existsNames.last(), typed);
        if (!savedAs.isEmpty())
            QCOMPARE(readFile(p.downPath(savedAs)), data);
        if (savedAs != "f.bin")
            QCOMPARE(readFile(p.downPath("f.bin")), local); // left alone
        if (savedAs != "g.bin" && !other.isEmpty())
            QCOMPARE(readFile(p.downPath("g.bin")), other);
        QCOMPARE(p.resumeB, resume);
    }
};

QTEST_GUILESS_MAIN(TestTransfer)
#include "tst_transfer.moc"
