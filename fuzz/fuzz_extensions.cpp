// What the extension messages carry, read by the code that reads them: "uinfo:" records,
// "caps:" words, "ftoken:" tokens, "hashq:" and "hasha:" checksum messages, "file:" offers,
// and the "TOKEN_ID_" proof a transfer connection must open with (a real loopback
// connection through the token gate, cut into TCP segments where the input says).
//
// The first byte chooses the reader; the rest is the text after the message's prefix
// (Windows-1252 for odd choices, UTF-8 for even ones) or, for the gate, the bytes the
// connection sends. What must hold: what a reader accepts is within what it claims (lengths,
// hex digits, non-negative sizes, known words once each), and what the program writes reads
// back as what it wrote.
#include "FuzzSupport.h"
#include "platform/EventSocket.h"
#include "platform/Windows1252.h"
#include "session/ControlMessages.h"
#include "session/Offer.h"
#include "session/Session.h"
#include "transfer/TokenGate.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// How long one step (a connection, the taking of a segment, an end) may take. Far more than
// it needs, even on a loaded machine where loopback delivery can lag; the bound is a time,
// not a number of turns, since turns cost next to nothing while nothing arrives.
constexpr int kStepMs = 5000;

struct Bound {
    QDeadlineTimer deadline{kStepMs};
    bool open() const { return !deadline.hasExpired(); }
};

void pump()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool lowerHex(const QString& text)
{
    for (QChar c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

void userInfo(const QString& text)
{
    QStringList f;
    const bool ok = ControlMessages::parseUserInfo(text, f);
    FUZZ_CHECK(ok == (text.count(';') >= 3), "a record is read when it has four fields");
    if (!ok)
        return;
    FUZZ_CHECK(f.size() == 4, "a record has four fields");
    FUZZ_CHECK(!f[0].contains(';') && !f[1].contains(';') && !f[2].contains(';'), "only the home page holds \";\"");
    FUZZ_CHECK(f.join(';') == text, "the fields are the record's text");
    // Written back (a ";" of the first fields becomes ","), the record reads as written.
    const QString written = ControlMessages::userInfo(f[0], f[1], f[2], f[3]);
    FUZZ_CHECK(written.startsWith(QLatin1String("uinfo:")), "a record is a \"uinfo:\" message");
    QStringList back;
    FUZZ_CHECK(ControlMessages::parseUserInfo(written.mid(6), back) && back == f, "a written record reads back");
    // Any fields, written, read back with their ";" made ",".
    QStringList shifted;
    FUZZ_CHECK(ControlMessages::parseUserInfo(ControlMessages::userInfo(text, text, text, text).mid(6), shifted),
               "a written record reads");
    QString plain = text;
    plain.replace(';', ',');
    FUZZ_CHECK(shifted == QStringList({plain, plain, plain, text}), "a written record keeps its fields apart");
}

void capabilities(const QString& text)
{
    const QStringList known = Session::ownExtensions();
    const qsizetype limit = SessionLimits().maxCapsChars;
    const QStringList words = ControlMessages::knownWords(text, known, limit);
    const QStringList read = text.left(limit).split(',');
    for (const QString& word : words) {
        FUZZ_CHECK(known.contains(word), "only known words are taken");
        FUZZ_CHECK(words.count(word) == 1, "each word once");
        FUZZ_CHECK(read.contains(word), "a word taken is a whole word of the part read");
    }
    for (const QString& word : known)
        FUZZ_CHECK(words.contains(word) == read.contains(word), "every known word of the part read is taken");
    FUZZ_CHECK(ControlMessages::knownWords(known.join(','), known, limit) == known, "our own announcement reads back");
    // Unknown words in front take no room from known ones.
    FUZZ_CHECK(ControlMessages::knownWords(text.left(64).remove(',') + ',' + known.join(','), known, limit).size()
                   == known.size(),
               "a known word after an unknown one is taken");
}

void token(const QString& text)
{
    const bool ok = ControlMessages::isHexDigits(text, 32);
    FUZZ_CHECK(ok == (text.size() == 32 && lowerHex(text)), "a token is 32 lowercase hex digits");
    if (ok)
        FUZZ_CHECK(QByteArray::fromHex(text.toLatin1()).toHex() == text.toLatin1(), "a token is 16 bytes in hex");
    // A token as the sender makes it: 16 bytes written in hex.
    const QByteArray made = text.toUtf8().leftJustified(16, '\0', true).toHex();
    FUZZ_CHECK(ControlMessages::isHexDigits(QString::fromLatin1(made), 32), "a made token is accepted");
}

void checksumMessages(const QString& text)
{
    QString name;
    qint64 length = -2;
    if (ControlMessages::parseChecksumQuestion(text, name, length)) {
        FUZZ_CHECK(length >= 0, "a question's length is a number of bytes");
        FUZZ_CHECK(text.startsWith(name + '|'), "a question's name is its text before the last \"|\"");
        FUZZ_CHECK(!text.mid(name.size() + 1).contains('|'), "the length follows the last \"|\"");
    }
    QString sum;
    if (ControlMessages::parseChecksumAnswer(text, name, length, sum)) {
        FUZZ_CHECK(length >= 0, "an answer's length is a number of bytes");
        FUZZ_CHECK(sum.isEmpty() || (sum.size() == 32 && lowerHex(sum)), "a checksum is empty or 32 hex digits");
        FUZZ_CHECK(text.startsWith(name + '|') && text.endsWith('|' + sum), "the fields are the answer's text");
    }
    // Whatever name and length the program writes read back as they were, even a name that
    // holds "|".
    const qint64 written = static_cast<qint64>(qHash(text) & 0x7FFFFFFFFFFF);
    const QString checksum = QString::fromLatin1(text.toUtf8().leftJustified(16, '\0', true).toHex());
    QString backName;
    qint64 backLength = -1;
    const QString question = ControlMessages::checksumQuestion(text, written);
    FUZZ_CHECK(question.startsWith(QLatin1String("hashq:")), "a question is a \"hashq:\" message");
    FUZZ_CHECK(ControlMessages::parseChecksumQuestion(question.mid(6), backName, backLength) && backName == text
                   && backLength == written,
               "a written question reads back");
    for (const QString& s : {checksum, QString()}) {
        QString backSum = QStringLiteral("x");
        const QString answer = ControlMessages::checksumAnswer(text, written, s);
        FUZZ_CHECK(answer.startsWith(QLatin1String("hasha:")), "an answer is a \"hasha:\" message");
        FUZZ_CHECK(ControlMessages::parseChecksumAnswer(answer.mid(6), backName, backLength, backSum)
                       && backName == text && backLength == written && backSum == s,
                   "a written answer reads back");
    }
}

void offer(const QString& text)
{
    Offer o;
    if (!Offer::parse(text, o)) {
        FUZZ_CHECK(text.count('|') < 3, "an offer with four fields is read");
        return;
    }
    FUZZ_CHECK(!o.port.contains('|') && !o.name.contains('|') && !o.block.contains('|'), "fields end at \"|\"");
    FUZZ_CHECK(o.message() == QStringLiteral("file:") + text, "an offer read writes back as it came");
    Offer back;
    FUZZ_CHECK(Offer::parse(o.message().mid(5), back) && back.port == o.port && back.name == o.name
                   && back.block == o.block && back.size == o.size,
               "a written offer reads back");
}

// The proof on a real connection: the gate passes the connection exactly when its first
// bytes are the proof, and hands on every byte after it.
class GateRig {
public:
    // A listener of its own for each input: a connection of an earlier input that the
    // listener had not yet taken must not reach this input's gate and count as turned away.
    bool listen()
    {
        listener = std::make_unique<EventSocket>();
        listener->setListenAddress(QHostAddress::LocalHost);
        listener->setLocalPort(0);
        if (!listener->listen())
            return false;
        QObject::connect(listener.get(), &EventSocket::connectionRequest, [this](int id) {
            if (gate)
                gate->admit(*listener, id);
            else
                listener->refuse(id);
        });
        return true;
    }

    void run(const QByteArray& input)
    {
        if (input.size() < 2)
            return;
        if (!listen())
            return; // no port to be had just now: nothing to check
        const int maxSegment = static_cast<unsigned char>(input[0]);
        // "@" in the input stands for the proof, so that inputs reach it and what follows.
        const QByteArray proof = QByteArrayLiteral("TOKEN_ID_0123456789abcdef0123456789abcdef");
        const QByteArray bytes = input.mid(1).replace("@", proof);
        target.close();
        gate = std::make_unique<TokenGate>(target, proof);
        bool proven = false;
        QObject::connect(gate.get(), &TokenGate::proven, [&proven] { proven = true; });

        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(listener->localPort());
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // Closed with a reset, so that no connection of the run lingers in TIME_WAIT: at
        // thousands a second those would use up the loopback's ephemeral ports.
        const linger reset{1, 0};
        if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset) != 0
            || ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
            if (fd >= 0)
                ::close(fd);
            gate.reset();
            return; // no connection to be had just now: nothing to check
        }
        qsizetype at = 0;
        quint32 state = static_cast<quint32>(bytes.size()) | 1u;
        while (at < bytes.size() && gate->turnedAway() == 0) {
            state = state * 1103515245u + 12345u;
            const qsizetype n = maxSegment == 0
                                    ? bytes.size() - at
                                    : std::min<qsizetype>(bytes.size() - at, 1 + (state >> 16) % maxSegment);
            if (::send(fd, bytes.constData() + at, static_cast<size_t>(n), MSG_NOSIGNAL) != n)
                break;
            at += n;
            for (int i = 0; i < 4; ++i)
                pump();
        }
        const bool opens = bytes.startsWith(proof);
        const bool shortOfIt = !opens && proof.startsWith(bytes); // the gate waits for the rest
        if (shortOfIt) {
            for (int i = 0; i < 4; ++i)
                pump();
        } else {
            for (const Bound bound; bound.open() && !proven && gate->turnedAway() == 0;)
                pump();
        }
        FUZZ_CHECK(proven == opens && gate->passed() == opens, "a connection passes exactly with the proof");
        if (opens) {
            const QByteArray rest = bytes.mid(proof.size());
            QByteArray got;
            for (const Bound bound; bound.open() && got.size() < rest.size();) {
                got += target.takeAll();
                if (got.size() < rest.size())
                    pump();
            }
            FUZZ_CHECK(got == rest, "what follows the proof is handed on whole");
        } else {
            FUZZ_CHECK(target.state() != EventSocket::Connected, "a connection without the proof is not handed on");
            FUZZ_CHECK(gate->turnedAway() == (shortOfIt ? 0 : 1), "a wrong proof is turned away, a short one waits");
        }
        ::close(fd);
        target.close();
        gate.reset();
        listener.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

private:
    std::unique_ptr<EventSocket> listener;
    EventSocket target;
    std::unique_ptr<TokenGate> gate;
};

GateRig* gateRig = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Fuzz::startApplication();
    static GateRig rig;
    gateRig = &rig;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 || size > 64 * 1024)
        return 0;
    const QByteArray body = Fuzz::bytes(data + 1, size - 1);
    const QString text = data[0] & 1 ? Windows1252::decode(body) : QString::fromUtf8(body);
    switch ((data[0] >> 1) % 6) {
    case 0:
        userInfo(text);
        break;
    case 1:
        capabilities(text);
        break;
    case 2:
        token(text);
        break;
    case 3:
        checksumMessages(text);
        break;
    case 4:
        offer(text);
        break;
    default:
        gateRig->run(body);
        break;
    }
    return 0;
}
