#include "session/Session.h"
#include "support/Harness.h"
#include "ui/MainWindow.h"
#include "ui/RemoteUserInfoDialog.h"
#include "ui/SendMessageDialog.h"
#include "ui/WindowTestTools.h"

#include <QClipboard>
#include <QPushButton>

// The remote user's information window and the Send A Message dialog, between two real peers.
class TestUserInfoDialogs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void remoteRecord()
    {
        TestPeer server(QStringLiteral("<b>Ann</b>")), client(QStringLiteral("Bob"));
        server.ctx->options.myEmail = QString::fromUtf8("ann@\u202eexample.org"); // shown with the control written out
        server.ctx->options.myAge = QStringLiteral("42");
        server.ctx->options.myHomePage = QStringLiteral("<a href=\"http://x\">x</a>");
        QVERIFY(connectPeers(server, client, freePortTriple()));
        QTRY_COMPARE_WITH_TIMEOUT(client.ctx->remoteEmail, server.ctx->options.myEmail, 5000);
        MainWindow w(*client.peer);
        act(&w, "pop_remui")->trigger();
        RemoteUserInfoDialog* u = w.findChild<RemoteUserInfoDialog*>();
        QVERIFY(u && u->isVisible());
        const QStringList shown = {"<b>Ann</b>", "ann@\\u202eexample.org", "<a href=\"http://x\">x</a>", "42"};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(u->fieldLabels[i]->text(), shown[i]);
            QCOMPARE(u->fieldLabels[i]->textFormat(), Qt::PlainText); // the markup shows as written
        }
        QClipboard* clip = QApplication::clipboard();
        clip->setText(QStringLiteral("before"));
        u->copyButton->click(); // nothing selected: the clipboard is emptied
        QCOMPARE(clip->text(), QString());
        for (int i = 0; i < 4; ++i) {
            u->fieldChoices[i]->click();
            u->copyButton->click();
            QCOMPARE(clip->text(), shown[i]);
        }
        // A window already open keeps what it showed.
        client.ctx->remoteName = QStringLiteral("Other");
        act(&w, "mnu_remui")->trigger();
        QCOMPARE(w.findChildren<RemoteUserInfoDialog*>().size(), 1);
        QCOMPARE(u->fieldLabels[0]->text(), shown[0]);
        u->closeButton->click();
        QTRY_VERIFY(!w.findChild<RemoteUserInfoDialog*>());

        // Send A Message: an empty text sends nothing, a text is echoed and reaches the peer.
        for (const QString& text : {QString(), QStringLiteral("hello <there>")}) {
            act(&w, "Msg")->trigger();
            SendMessageDialog* d = w.findChild<SendMessageDialog*>();
            QVERIFY(d && d->isVisible());
            d->messageEdit->setText(text);
            d->sendButton->click();
            QVERIFY(!d->isVisible());
        }
        QTRY_COMPARE_WITH_TIMEOUT(server.rec->lines.filter(QStringLiteral("> ")), QStringList{"<Bob> hello <there>"},
                                  5000);
        QCOMPARE(client.rec->lines.filter(QStringLiteral("> ")), QStringList{"<Bob> hello <there>"});
    }

    void homePageLink_data()
    {
        stringRows({"homepage", "link"}, {{"http", "http://example.org/a", "http://example.org/a"},
                                          {"https", " HTTPS://example.org ", "https://example.org"},
                                          {"file", "file:///etc/passwd", ""},
                                          {"javascript", "javascript:alert(1)", ""},
                                          {"no scheme", "www.example.org/a?b=1", "http://www.example.org/a?b=1"},
                                          {"no scheme, port", "example.org:8080", "http://example.org:8080"},
                                          {"mailto", "mailto:ann@example.org", ""},
                                          {"start value", "<No Homepage Specified>", ""}});
    }
    void homePageLink()
    {
        auto [homepage, link] = fetch<QString, QString>("homepage", "link");
        QCOMPARE(RemoteUserInfoDialog::webLink(homepage), link);
    }
};

QTEST_MAIN(TestUserInfoDialogs)
#include "tst_userinfodialogs.moc"
