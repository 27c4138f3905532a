// The transfer command stream of either side, however TCP cuts it. The input is a header
// and a stream:
//   byte 0: bit 0 picks the side (1: the sender, which judges resume offsets as they come),
//           bit 1 makes the stream a well-formed one built from the rest (see buildClean),
//           bit 2 plays the other side of a real transfer instead (see playReceiver and
//           playSender below);
//   byte 1: how many cut bytes follow (0 to 15); each gives the length of the next segment
//           (low 7 bits + 1) and, with bit 7, a quiet pause after it; they repeat in turn.
// The same bytes are fed in those cuts to one reader and in whole quiet-to-quiet pieces to
// another: both must yield the same commands, skip the same bytes and keep the same rest.
// Every byte must be accounted for exactly once, no command may be unknown or carry an
// argument it cannot have, and the buffer kept between segments must stay small.
#include "FuzzSupport.h"
#include "core/PeerState.h"
#include "session/Session.h"
#include "transfer/CommandReader.h"
#include "transfer/FileReceiver.h"
#include "transfer/FileSender.h"
#include "transfer/HeadlessPrompts.h"
#include "util/FileHasher.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <iterator>
#include <memory>
#include <vector>

namespace {

using Fuzz::Script;
using Fuzz::waitUntil;

constexpr qsizetype kMaxDigits = 19;
constexpr qsizetype kChecksumDigits = 32;
// The longest start of a command a reader may hold: a command's text and its whole argument.
constexpr qsizetype kMaxUnread = 9 + kChecksumDigits;

const CommandReader::Kind kKinds[] = {
    CommandReader::AcceptTransfer, CommandReader::Resume,     CommandReader::GotAll,   CommandReader::EndTransfer,
    CommandReader::Cancel,         CommandReader::CancelOkay, CommandReader::Checksum, CommandReader::SumMatch,
    CommandReader::SumDiffers,     CommandReader::RunReady,
};

struct Segment {
    QByteArray bytes;
    bool quietAfter = false;
};

struct Run {
    std::vector<CommandReader::Command> commands;
    qint64 skipped = 0;
    QByteArray unread;
};

bool allDigits(const QByteArray& bytes)
{
    for (char c : bytes)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// The reader sits on "RESUME_TR" and digits that may go on: only a quiet pause ends them.
bool waitingForDigits(const QByteArray& unread)
{
    const QByteArray resume = CommandReader::text(CommandReader::Resume);
    return unread.startsWith(resume) && unread.size() - resume.size() < kMaxDigits
           && allDigits(unread.mid(resume.size()));
}

// Lets the reader's quiet timer (0 ms here) fire; bounded, and a timer that never fires is a
// fault of its own.
void letQuietPass(const CommandReader& reader)
{
    for (int i = 0; i < 1000 && waitingForDigits(reader.unread()); ++i)
        QCoreApplication::processEvents();
    FUZZ_CHECK(!waitingForDigits(reader.unread()), "a quiet pause ends the digits of a resume");
}

void checkCommand(const CommandReader::Command& c)
{
    bool known = false;
    for (CommandReader::Kind k : kKinds)
        known = known || c.kind == k;
    FUZZ_CHECK(known, "every command is of a known kind");
    FUZZ_CHECK(!CommandReader::text(c.kind).isEmpty(), "every kind has its text");
    if (c.kind == CommandReader::Resume) {
        FUZZ_CHECK(c.argument.size() <= kMaxDigits, "a resume offset has at most 19 digits");
        FUZZ_CHECK(allDigits(c.argument), "a resume offset is digits only");
    } else if (c.kind == CommandReader::Checksum) {
        FUZZ_CHECK(c.argument.size() == kChecksumDigits, "a checksum has its 32 characters");
    } else {
        FUZZ_CHECK(c.argument.isEmpty(), "only a resume and a checksum carry an argument");
    }
}

// Feeds the segments, letting the quiet pass where a segment asks for it and at the end.
Run feed(CommandReader& reader, const std::vector<Segment>& segments, qint64 total)
{
    Run run;
    qint64 fed = 0;
    auto collect = [&] {
        for (CommandReader::Command& c : reader.take()) {
            checkCommand(c);
            run.commands.push_back(std::move(c));
        }
        qint64 accounted = reader.skipped() + reader.unread().size();
        for (const CommandReader::Command& c : run.commands)
            accounted += CommandReader::text(c.kind).size() + c.argument.size();
        FUZZ_CHECK(accounted == fed, "each byte is taken, skipped or waiting, exactly once");
        FUZZ_CHECK(reader.unread().size() <= kMaxUnread, "the reader holds no more than one command");
    };
    for (const Segment& s : segments) {
        reader.feed(s.bytes);
        fed += s.bytes.size();
        collect();
        if (s.quietAfter) {
            letQuietPass(reader);
            collect();
        }
    }
    letQuietPass(reader);
    collect();
    FUZZ_CHECK(fed == total, "every byte was fed");
    run.skipped = reader.skipped();
    run.unread = reader.unread();
    return run;
}

// The same bytes as one piece from one quiet pause to the next.
std::vector<Segment> wholePieces(const std::vector<Segment>& segments)
{
    std::vector<Segment> pieces(1);
    for (const Segment& s : segments) {
        pieces.back().bytes += s.bytes;
        if (s.quietAfter)
            pieces.push_back({{}, false});
    }
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i)
        pieces[i].quietAfter = true;
    return pieces;
}

// A well-formed stream: each byte picks a command; a resume takes as many digits as the next
// byte says (mod 20), a checksum 32 hexadecimal digits made from the next byte.
QByteArray buildClean(const QByteArray& program, std::vector<CommandReader::Command>& expected)
{
    QByteArray stream;
    for (qsizetype i = 0; i < program.size(); ++i) {
        const auto b = static_cast<unsigned char>(program[i]);
        const CommandReader::Kind kind = kKinds[b % std::size(kKinds)];
        QByteArray argument;
        if (kind == CommandReader::Resume && i + 1 < program.size()) {
            const auto n = static_cast<unsigned char>(program[++i]) % (kMaxDigits + 1);
            for (int d = 0; d < n; ++d)
                argument += static_cast<char>('0' + (b + d * 7) % 10);
        } else if (kind == CommandReader::Checksum) {
            const auto seed = i + 1 < program.size() ? static_cast<unsigned char>(program[++i]) : 0;
            for (int d = 0; d < kChecksumDigits; ++d)
                argument += "0123456789abcdef"[(seed + d * 5) % 16];
        }
        stream += CommandReader::text(kind) + argument;
        expected.push_back({kind, argument});
    }
    return stream;
}

bool same(const std::vector<CommandReader::Command>& a, const std::vector<CommandReader::Command>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].kind != b[i].kind || a[i].argument != b[i].argument)
            return false;
    return true;
}

std::unique_ptr<CommandReader> makeReader(bool sender)
{
    auto reader = std::make_unique<CommandReader>();
    reader->quietMs = 0;
    reader->longQuietMs = 0;
    if (sender) // which digits count as plausible only changes how long they wait
        reader->offsetPlausible = [](const QByteArray& digits) { return digits.size() % 3 != 1; };
    return reader;
}

// ---- a real transfer whose other side the input plays ----

// What stays from one input to the next: a peer's state and session (never connected: a
// transfer takes only its lines and settings from them), and loopback ports of its own.
struct Live {
    std::unique_ptr<PeerState> state;
    std::unique_ptr<Session> session;
    std::unique_ptr<HeadlessPrompts> prompts;
    TransferTimeouts timeouts;
    quint16 receiverPort = 0; // the sender played here listens on it, the real receiver on + 1
    quint16 senderPort = 0;   // the real sender listens on it, the receiver played here on + 1
    QTcpServer fakeSender;
    QTcpServer fakeReceiver;
    QString folder;
};

Live* live = nullptr;

void startLive()
{
    live = new Live;
    live->folder = Fuzz::folder() + "/live";
    QDir().mkpath(live->folder + "/home");
    QDir().mkpath(live->folder + "/down");
    live->state = std::make_unique<PeerState>(live->folder + "/home");
    live->state->listenAddress = QHostAddress::LocalHost;
    live->session = std::make_unique<Session>(*live->state);
    live->prompts = std::make_unique<HeadlessPrompts>(*live->state, *live->session);
    // Every wait short: an input ends in milliseconds whatever it leaves undone.
    TransferTimeouts& t = live->timeouts;
    t.acceptMs = t.blockMs = t.gotAllMs = t.cancelAckMs = t.closeMs = t.idleMs = t.tokenMs = 300;
    t.quietMs = 2;
    t.offsetWaitMs = 5;
    t.commandGapMs = 0;
    t.dataGoneMs = 50;
    t.byeMs = 50;
    const quint16 base = Fuzz::freePorts(4, 7);
    live->receiverPort = base;
    live->senderPort = static_cast<quint16>(base + 2);
    FUZZ_CHECK(live->fakeSender.listen(QHostAddress::LocalHost, live->receiverPort)
                   && live->fakeReceiver.listen(QHostAddress::LocalHost, static_cast<quint16>(live->senderPort + 1)),
               "the loopback ports can be taken");
}

// The proof both transfer connections carry between two peers of this program.
const QByteArray kToken = QByteArrayLiteral("11cd69aecc168cabaa70d34d21755fb8");

// The two extensions a transfer may use, as the first byte of its script says.
struct Extensions {
    bool token;
    bool verify;
};

Extensions extensions(Script& in)
{
    const int flags = in.byte();
    return {(flags & 1) != 0, (flags & 2) != 0};
}

// A file's content: every offset its own byte, so that a piece from the wrong place shows.
QByteArray content(qint64 n, int seed)
{
    QByteArray out(n, Qt::Uninitialized);
    for (qint64 i = 0; i < n; ++i)
        out[i] = static_cast<char>(i * 31 + (i >> 8) + seed);
    return out;
}

void dropPending(QTcpServer& server)
{
    while (server.hasPendingConnections())
        delete server.nextPendingConnection();
}

// The real receiver takes an offer; the input plays the sender: pieces of the file (always
// the right bytes, from where the receiver asked, maybe too few), bytes past its end, raw
// bytes and commands on the command connection, closes. The receiver may end any way it likes, but
// reports success only when its file holds exactly the file sent.
void playReceiver(Script& in)
{
    const Extensions ext = extensions(in);
    const qint64 size = in.byte() * 13 + in.byte() % 13;
    const bool resume = in.byte() & 1;
    const qint64 partial = (in.byte() * 16) % (size + 65); // past the offer at times
    const QByteArray longer = content(partial, 0);
    const QByteArray bytes = content(size, in.byte());
    const QString down = live->folder + "/down/";
    QFile::remove(down + "f.bin");
    if (resume) {
        QFile f(down + "f.bin");
        FUZZ_CHECK(f.open(QIODevice::WriteOnly) && f.write(bytes.left(partial) + longer.mid(size)) == partial,
                   "the partial file");
    }
    dropPending(live->fakeSender);

    FileTransfer::Setup setup;
    setup.name = QStringLiteral("f.bin");
    setup.path = setup.root = down;
    setup.hostIP = QStringLiteral("127.0.0.1");
    setup.port = live->receiverPort;
    setup.userName = QStringLiteral("fuzz");
    setup.size = size;
    setup.existsChoice = resume ? ExistingFileChoice::Resume : ExistingFileChoice::None;
    setup.token = ext.token ? kToken : QByteArray();
    setup.verify = ext.verify;
    live->state->setTransferEndCode(TransferEndCode::None);
    FileReceiver receiver(*live->state, *live->session, *live->prompts, setup, live->timeouts);
    receiver.start();

    std::unique_ptr<QTcpSocket> command;
    waitUntil([&] { return live->fakeSender.hasPendingConnections() || receiver.isFinished(); }, 1000);
    if (live->fakeSender.hasPendingConnections())
        command.reset(live->fakeSender.nextPendingConnection());
    // Its answer: "ACCE_TRAN", or "RESUME_TR" and where it wants the data from.
    CommandReader answer;
    answer.quietMs = 2;
    std::vector<CommandReader::Command> got;
    if (command)
        waitUntil(
            [&] {
                answer.feed(command->readAll());
                for (CommandReader::Command& c : answer.take())
                    got.push_back(std::move(c));
                return !got.empty() || receiver.isFinished();
            },
            1000);
    // A receiver that could not start (its data port taken, say) cancels instead.
    const bool answered = !got.empty() && got.front().kind != CommandReader::Cancel;
    qint64 from = 0;
    if (answered) {
        FUZZ_CHECK(got.front().kind == CommandReader::AcceptTransfer || got.front().kind == CommandReader::Resume,
                   "a receiver answers with acceptance, a resume or a cancel");
        if (got.front().kind == CommandReader::Resume)
            from = got.front().argument.toLongLong();
        FUZZ_CHECK(from >= 0 && from <= size && from == receiver.resumeSize(), "a receiver resumes inside the offer");
        FUZZ_CHECK(!resume || from <= partial, "a receiver resumes inside what it has");
    }
    QTcpSocket data;
    if (answered) {
        data.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(live->receiverPort + 1));
        waitUntil([&] { return data.state() == QAbstractSocket::ConnectedState || receiver.isFinished(); }, 1000);
    }
    // With a token the data connection proves it first: rightly, or not at all when the
    // input says so (the file's bytes then stand where the proof should be).
    const bool proofWanted = in.byte() % 4 != 0;
    const bool dataProved = ext.token && proofWanted;
    if (dataProved)
        data.write(kToken);

    qint64 sent = from;
    while (command && in.more()) {
        switch (in.byte() % 7) {
        case 0: { // the next piece of the file, never past its end
            const QByteArray piece = bytes.mid(sent, in.byte() * 8 + 1);
            data.write(piece);
            sent += piece.size();
            break;
        }
        case 1:
            command->write(in.take(static_cast<std::size_t>(in.byte() % 32 + 1)));
            break;
        case 2:
            command->write(CommandReader::text(CommandReader::EndTransfer));
            break;
        case 3:
            command->write(CommandReader::text(CommandReader::Cancel));
            break;
        case 4:
            QCoreApplication::processEvents();
            break;
        case 5: // the checksum of the file, or of something else
            command->write(CommandReader::text(CommandReader::Checksum)
                           + FileHasher::checksumOf(in.byte() % 4 != 0 ? bytes : bytes + 'x').toLatin1());
            break;
        default:
            if (const int n = in.byte(); n % 2 == 0)
                data.disconnectFromHost();
            else
                data.write(QByteArray(n, 'x')); // bytes past the offered size
            break;
        }
    }
    // The sender goes away; whatever the receiver made of it, it ends.
    data.disconnectFromHost();
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    if (command)
        command->disconnectFromHost();
    waitUntil([&] { return receiver.isFinished(); }, 2000);
    if (!receiver.isFinished())
        receiver.abandon();
    FUZZ_CHECK(receiver.isFinished(), "a receiver ends once its sender is gone");
    if (ext.token && !dataProved) {
        // Before its answer the receiver has not touched the partial file; after it, the file
        // is cut back to the offset asked for.
        const qint64 untouched = answered ? from : resume ? partial : 0;
        FUZZ_CHECK(QFileInfo(down + "f.bin").size() <= untouched,
                   "a receiver writes no data that did not prove the token");
        FUZZ_CHECK(!receiver.complete() || from == size, "a receiver needs proven data for success");
    }
    if (receiver.complete()) {
        QFile f(down + "f.bin");
        FUZZ_CHECK(f.open(QIODevice::ReadOnly) && f.readAll() == bytes.left(size),
                   "a receiver reports success only with every byte of the file");
    }
    data.abort();
    command.reset();
}

// The digits of a resume offset the input picks: inside the file or not, at a block or not,
// past 64 bits.
QByteArray offsetDigits(int pick, qint64 size)
{
    switch (pick % 8) {
    case 0:
        return "0";
    case 1:
        return QByteArray::number(512 * (pick / 8));
    case 2:
        return QByteArray::number(32768 * (pick / 8));
    case 3:
        return QByteArray::number(size);
    case 4:
        return QByteArray::number(size + 1 + pick / 8);
    case 5:
        return QByteArray::number(pick * 97 % (size + 1));
    case 6:
        return "9223372036854775807";
    default:
        return "99999999999999999999";
    }
}

// The real sender offers a file; the input plays the receiver: answers, resume offsets, "Got
// All", raw bytes, cancels. The sender never resumes outside its file (an offset beyond it is
// refused before any data), sends only its file's bytes from the resume offset on, and reports
// success only once every byte went out.
void playSender(Script& in)
{
    const Extensions ext = extensions(in);
    const qint64 size = in.byte() * 13 + in.byte() % 13;
    const QByteArray bytes = content(size, in.byte());
    const QString path = live->folder + "/send.bin";
    {
        QFile f(path);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == size, "the file to send");
    }
    dropPending(live->fakeReceiver);

    FileTransfer::Setup setup;
    setup.name = QStringLiteral("send.bin");
    setup.path = path;
    setup.hostIP = QStringLiteral("127.0.0.1");
    setup.port = live->senderPort;
    setup.userName = QStringLiteral("fuzz");
    setup.token = ext.token ? kToken : QByteArray();
    setup.verify = ext.verify;
    live->state->setTransferEndCode(TransferEndCode::None);
    FileSender sender(*live->state, *live->session, *live->prompts, setup, live->timeouts);
    sender.start();

    QTcpSocket command;
    command.connectToHost(QHostAddress::LocalHost, live->senderPort);
    waitUntil([&] { return command.state() == QAbstractSocket::ConnectedState || sender.isFinished(); }, 1000);
    std::unique_ptr<QTcpSocket> data;
    QByteArray received;
    auto pump = [&] {
        if (!data && live->fakeReceiver.hasPendingConnections())
            data.reset(live->fakeReceiver.nextPendingConnection());
        if (data)
            received += data->readAll();
    };

    bool beyondFirst = false; // the first answer asks for an offset outside the file
    QByteArray commands;      // everything written on the command connection, in order
    auto write = [&](const QByteArray& bytes) {
        command.write(bytes);
        commands += bytes;
    };
    for (int step = 0; in.more(); ++step) {
        const int op = in.byte() % 7;
        if (step == 1 && op == 0)
            beyondFirst = false; // raw bytes may carry more digits
        switch (op) {
        case 0:
            write(in.take(static_cast<std::size_t>(in.byte() % 32 + 1)));
            break;
        case 1:
            write(CommandReader::text(CommandReader::AcceptTransfer));
            break;
        case 2: {
            const QByteArray digits = offsetDigits(in.byte(), size);
            bool ok = false;
            const qint64 at = digits.toLongLong(&ok);
            beyondFirst = beyondFirst || (step == 0 && (!ok || at > size));
            write(CommandReader::text(CommandReader::Resume) + digits);
            break;
        }
        case 3:
            write(CommandReader::text(CommandReader::GotAll));
            break;
        case 4:
            QCoreApplication::processEvents();
            pump();
            break;
        case 5:
            write(CommandReader::text(CommandReader::Cancel));
            break;
        default:
            switch (in.byte() % 4) {
            case 0:
                write("TOKEN_ID_" + kToken);
                break;
            case 1:
                write("TOKEN_ID_" + QByteArray(kToken.size(), '0'));
                break;
            case 2:
                write(CommandReader::text(CommandReader::SumMatch));
                break;
            default:
                write(CommandReader::text(CommandReader::SumDiffers));
                break;
            }
            break;
        }
    }
    // The receiver goes away once the data stops; whatever the sender made of it, it ends.
    waitUntil(
        [&] {
            pump();
            return sender.isFinished() || (data && received.size() >= size - sender.resumeSize());
        },
        20);
    command.disconnectFromHost();
    waitUntil([&] { return sender.isFinished(); }, 2000);
    if (!sender.isFinished())
        sender.abandon();
    FUZZ_CHECK(sender.isFinished(), "a sender ends once its receiver is gone");
    waitUntil(
        [&] {
            pump();
            return !data || data->state() != QAbstractSocket::ConnectedState;
        },
        500);
    pump();

    if (ext.token) {
        FUZZ_CHECK(commands.contains("TOKEN_ID_" + kToken) || (received.isEmpty() && !sender.complete()),
                   "a sender sends nothing before the token");
        FUZZ_CHECK(received.startsWith(kToken) || kToken.startsWith(received), "a sender's data starts with the token");
        received.remove(0, kToken.size());
    }
    if (ext.verify && size > 0 && sender.complete()) // an empty file is not checked
        FUZZ_CHECK(commands.contains(CommandReader::text(CommandReader::SumMatch)),
                   "a verifying sender reports success only on the receiver's match");
    const qint64 at = sender.resumeSize();
    FUZZ_CHECK(at >= 0 && at <= size, "a sender never resumes outside its file");
    FUZZ_CHECK(received.size() <= size - at && received == bytes.mid(at, received.size()),
               "a sender sends its file's bytes from the resume offset and nothing else");
    if (beyondFirst)
        FUZZ_CHECK(!sender.complete() && received.isEmpty(), "a resume offset outside the file is refused");
    if (sender.complete())
        FUZZ_CHECK(sender.sizeOfFileSent() == size, "a sender reports success only once every byte went out");
    if (data)
        data->abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Fuzz::startApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    if (data[0] & 4) {
        if (!live)
            startLive();
        Script script{data + 1, size - 1};
        if (data[0] & 1)
            playSender(script);
        else
            playReceiver(script);
        return 0;
    }
    const bool sender = data[0] & 1;
    const bool clean = data[0] & 2;
    const std::size_t cutCount = std::min<std::size_t>(data[1] % 16, size - 2);
    const std::uint8_t* cuts = data + 2;
    const QByteArray rest = Fuzz::bytes(data + 2 + cutCount, size - 2 - cutCount);

    std::vector<CommandReader::Command> expected;
    const QByteArray stream = clean ? buildClean(rest, expected) : rest;

    std::vector<Segment> segments;
    for (qsizetype at = 0, k = 0; at < stream.size(); ++k) {
        const std::uint8_t cut = cutCount == 0 ? 0x7F : cuts[k % cutCount];
        const qsizetype n = std::min<qsizetype>((cut & 0x7F) + 1, stream.size() - at);
        // A pause inside a well-formed stream could end a resume's digits early: none there.
        segments.push_back({stream.mid(at, n), !clean && (cut & 0x80)});
        at += n;
    }

    const auto cutReader = makeReader(sender);
    const Run cutRun = feed(*cutReader, segments, stream.size());
    const auto wholeReader = makeReader(sender);
    const Run wholeRun = feed(*wholeReader, wholePieces(segments), stream.size());
    FUZZ_CHECK(same(cutRun.commands, wholeRun.commands), "the cuts do not change the commands");
    FUZZ_CHECK(cutRun.skipped == wholeRun.skipped, "the cuts do not change what is skipped");
    FUZZ_CHECK(cutRun.unread == wholeRun.unread, "the cuts do not change what waits");

    if (clean) {
        FUZZ_CHECK(same(cutRun.commands, expected), "a well-formed stream gives exactly its commands");
        FUZZ_CHECK(cutRun.skipped == 0 && cutRun.unread.isEmpty(), "a well-formed stream leaves nothing over");
    }
    return 0;
}
