// The control connection's framing and its table of messages, without a socket.
#include "config/Scramble.h"
#include "session/ControlFramer.h"
#include "session/ControlMessages.h"
#include "support/Harness.h"

#include <QTest>

using Step = ControlFramer::Step;
using Kind = ControlMessages::Kind;

namespace {

// Feeds the segments in turn and takes every message as soon as it is whole.
QStringList framed(const QList<QByteArray>& segments, Step& last, qsizetype maxMessageBytes = 1 << 20)
{
    ControlFramer framer;
    framer.maxMessageBytes = maxMessageBytes;
    QStringList out;
    last = Step::NeedMore;
    for (const QByteArray& segment : segments) {
        framer.append(segment);
        QByteArray plain;
        qsizetype used = 0;
        while ((last = framer.next(plain, used)) == Step::Message)
            out << ControlFramer::decode(plain);
        if (last == Step::TooLong)
            break;
    }
    return out;
}

QList<QByteArray> bytesOf(const QByteArray& wire)
{
    QList<QByteArray> one;
    for (char c : wire)
        one << QByteArray(1, c);
    return one;
}

} // namespace

class TestFramer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void segments_data()
    {
        columns<QList<QByteArray>, QStringList, int>("segments", "messages", "last");
        const QByteArray a = ControlFramer::frame("msg:one"), b = ControlFramer::frame("ping");
        const QByteArray t = ControlFramer::Terminator;
        const int more = int(Step::NeedMore), tooLong = int(Step::TooLong);
        QTest::newRow("one") << QList<QByteArray>{a} << QStringList{"msg:one"} << more;
        QTest::newRow("joined, with an empty one")
            << QList<QByteArray>{a + t + b} << QStringList{"msg:one", "", "ping"} << more;
        // Every place a segment can end, the terminator's bytes among them.
        QTest::newRow("byte by byte") << bytesOf(a + b) << QStringList{"msg:one", "ping"} << more;
        QTest::newRow("end still missing") << QList<QByteArray>{a + b.chopped(1)} << QStringList{"msg:one"} << more;
        QTest::newRow("no terminator across segments") << QList<QByteArray>{"{x}{", "\xBF"
                                                                                    "y}"}
                                                       << QStringList{} << more;
        // The bound is 8 bytes of message.
        QTest::newRow("at the bound") << QList<QByteArray>{ControlFramer::frame("12345678")} << QStringList{"12345678"}
                                      << more;
        QTest::newRow("past the bound") << QList<QByteArray>{ControlFramer::frame("123456789")} << QStringList{}
                                        << tooLong;
        QTest::newRow("no end, within the bound") << QList<QByteArray>{QByteArray(10, 'a')} << QStringList{} << more;
        QTest::newRow("no end, past the bound") << QList<QByteArray>{QByteArray(11, 'a')} << QStringList{} << tooLong;
        QTest::newRow("past the bound after a message")
            << QList<QByteArray>{a, QByteArray(6, 'a'), QByteArray(5, 'a')} << QStringList{"msg:one"} << tooLong;
    }
    void segments()
    {
        auto [segments, messages, last] = fetch<QList<QByteArray>, QStringList, int>("segments", "messages", "last");
        Step step = Step::Message;
        QCOMPARE(framed(segments, step, 8), messages);
        QCOMPARE(int(step), last);
    }

    void usedAndCleared()
    {
        ControlFramer framer;
        const QByteArray a = ControlFramer::frame("msg:x");
        framer.append(a + "rest");
        QByteArray plain;
        qsizetype used = 0;
        QVERIFY(framer.next(plain, used) == Step::Message);
        QCOMPARE(used, a.size());
        QCOMPARE(plain, QByteArray("msg:x"));
        QCOMPARE(framer.buffered(), 4);
        framer.clear();
        framer.append(ControlFramer::Terminator);
        QVERIFY(framer.next(plain, used) == Step::Message); // the old rest is gone
        QCOMPARE(plain, QByteArray());
    }

    void wireForm_data()
    {
        columns<QString, bool>("text", "utf8");
        QTest::addColumn<QByteArray>("plain"); // before scrambling
        QTest::addColumn<QString>("readBack"); // by a peer reading the same encoding
        const QString euro = QString::fromUtf8("caf\u00e9 5 \u20ac");
        QTest::newRow("Windows-1252") << euro << false << QByteArray("caf\xE9 5 \x80") << euro;
        QTest::newRow("UTF-8") << euro << true << euro.toUtf8() << euro;
        const QString polish = QString::fromUtf8("\u017c\u00ff");
        QTest::newRow("not in Windows-1252, and y-diaeresis") << polish << false << QByteArray("??") << "??";
        QTest::newRow("UTF-8 carries them") << polish << true << polish.toUtf8() << polish;
    }
    void wireForm()
    {
        auto [text, utf8, plain, readBack] =
            fetch<QString, bool, QByteArray, QString>("text", "utf8", "plain", "readBack");
        const QByteArray wire = ControlFramer::frame(text, utf8);
        QCOMPARE(wire, scramble(plain) + ControlFramer::Terminator);
        QCOMPARE(ControlFramer::decode(unscramble(wire.chopped(ControlFramer::Terminator.size())), utf8), readBack);
    }

    // Bytes that are no valid text still give one message each, never more or fewer.
    void badBytes()
    {
        QCOMPARE(ControlFramer::decode(QByteArray("a\xC3(b", 4), true), QString::fromUtf8("a\uFFFD(b"));
        QCOMPARE(ControlFramer::decode(QByteArray("a\0b", 3)).size(), 3);
        Step step = Step::Message;
        QCOMPARE(framed({QByteArray("\0\xFF\x01", 3) + ControlFramer::Terminator}, step).size(), 1);
    }

    // Where a message's kind is told by more than its exact text, and which kinds count before
    // the login or as extensions. Each kind's handling: tst_session's framing, tst_extensions.
    void table_data()
    {
        columns<QString, int, bool, bool>("text", "kind", "beforeLogin", "extension");
        const auto row = [](const char* text, Kind kind, bool beforeLogin = false, bool extension = false) {
            QTest::newRow(text) << QString(text) << int(kind) << beforeLogin << extension;
        };
        row("HaveFile2", Kind::Unknown);
        row("PSOK ", Kind::Unknown);
        row("PAuth:", Kind::Login, true);
        row("Msg:hi", Kind::Unknown);
        row("pingpong", Kind::Ping, true);
        row("gotping", Kind::PingReply);
        row("caps:utf8", Kind::Capabilities, false, true);
        row("enc:utf16", Kind::Unknown);
        row("hasha:a|1|", Kind::ChecksumAnswer, false, true);
        row("byebye", Kind::Bye, true);
        row("", Kind::Unknown);
    }
    void table()
    {
        auto [text, kind, beforeLogin, extension] =
            fetch<QString, int, bool, bool>("text", "kind", "beforeLogin", "extension");
        const Kind k = ControlMessages::classify(text);
        QCOMPARE(int(k), kind);
        QCOMPARE(ControlMessages::answeredBeforeLogin(k), beforeLogin);
        QCOMPARE(ControlMessages::isExtension(k), extension);
    }
};

QTEST_GUILESS_MAIN(TestFramer)
#include "tst_framer.moc"
