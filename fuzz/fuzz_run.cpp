// A run of files whose other side the input plays. A whole peer, logged in once to a control
// server played here that announces "run" (one peer) or "run" and "verify" (another), opens a
// run the proper way on each input (a first file offered with "frun", the single-file
// exchange, "RUN_READY"), receiving or sending; then the input speaks the run's lines and
// moves its bytes, cut anywhere, and goes away.
//   byte 0: bit 0: our peer sends (else it receives); bit 1: the peer that shares "verify";
//           bits 2-3: the standing existing-file choice of the receiving peer (0: ask);
//   then steps: a byte picks the step (mod 8), the next bytes are its arguments (see
//   receivingStep and sendingStep).
// What must hold: every line the peer writes is well formed, answers offers once each and in
// order, and ends only files that were there; a file is reported complete only when its bytes
// went over the data connection (sending) or are in the file as they came (receiving);
// nothing is written outside the download folder; the run ends once the input's side is gone,
// and leaves the peer idle and logged in.
#include "FuzzSupport.h"
#include "peer/Peer.h"
#include "queue/FileQueue.h"
#include "session/Session.h"
#include "transfer/RunLines.h"
#include "transfer/TransferManager.h"
#include "transfer/TransferRun.h"
#include "util/FileHasher.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

constexpr int kStepMs = 3000; // far more than any step needs, even on a loaded machine

using Fuzz::Script;

bool waitUntil(const std::function<bool()>& done, int ms = kStepMs)
{
    return Fuzz::waitUntil(done, ms);
}

void turn()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// A file's content: every offset and every seed its own bytes.
QByteArray content(qint64 n, int seed)
{
    QByteArray out(n, Qt::Uninitialized);
    for (qint64 i = 0; i < n; ++i)
        out[i] = static_cast<char>(i * 31 + (i >> 8) + seed * 7);
    return out;
}

// ---- the run's lines, read here on their own from the protocol's rules ----

QList<QByteArray> linesOf(const QByteArray& stream)
{
    QList<QByteArray> out;
    for (qsizetype from = 0, end; (end = stream.indexOf('\n', from)) >= 0; from = end + 1)
        out << stream.mid(from, end - from);
    return out;
}

// One file's bytes on the data connection: `length` bytes from `at` of the stream.
struct Segment {
    qint64 number, size, offset, at, length;
};

// Cuts a data stream by the accepted files, in order; stops at one it cannot place.
QList<Segment> segments(const QList<std::pair<qint64, qint64>>& accepted, const QMap<qint64, qint64>& sizes)
{
    QList<Segment> out;
    qint64 at = 0;
    for (const auto& [n, offset] : accepted) {
        if (!sizes.contains(n) || offset > sizes[n])
            break;
        out.push_back({n, sizes[n], offset, at, sizes[n] - offset});
        at += sizes[n] - offset;
    }
    return out;
}

// ---- a peer logged in to a control server played here ----

struct Side {
    explicit Side(bool verify);
    bool verify;
    QString root, down, src;
    std::unique_ptr<Peer> peer;
    QTcpServer control, dataIn, commandIn;
    QTcpSocket* ctl = nullptr;
    QByteArray said; // every control byte the peer sent
    quint16 port = 0;
    QList<TransferOutcome> outcomes;

    TransferManager& transfers() { return peer->transfers(); }
    bool heard(const QString& text) const { return said.contains(Session::frame(text)); }
    void say(const QString& text) { ctl->write(Session::frame(text)); }
};

// The files the sending peer offers, by their wire names; "first.bin" opens each run.
const QList<std::pair<QString, qint64>> kSendFiles = {{"first.bin", 3},   {"e.bin", 0},    {"one.bin", 1},
                                                      {"b.bin", 512},     {"b1.bin", 513}, {"d/k.bin", 5000},
                                                      {"big.bin", 300000}};

Side::Side(bool v) : verify(v)
{
    root = Fuzz::folder() + (v ? "/verify" : "/plain");
    down = root + "/x/y/down";
    src = root + "/src";
    QDir().mkpath(root + "/home");
    QDir().mkpath(down);
    for (int i = 0; i < kSendFiles.size(); ++i) {
        QDir().mkpath(QFileInfo(src + '/' + kSendFiles[i].first).path());
        QFile f(src + '/' + kSendFiles[i].first);
        const QByteArray bytes = i == 0 ? QByteArray("abc") : content(kSendFiles[i].second, i);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size(), "the files to send");
    }
    peer = std::make_unique<Peer>(root + "/home");
    PeerState& s = peer->state();
    s.listenAddress = QHostAddress::LocalHost;
    s.options.logMode = 4; // no log
    s.options.autoAccept = true;
    s.options.downloadFolder = down;
    s.options.myName = "fuzz";
    Session& session = peer->session();
    session.limits.privateOfferWaitMs = 1;
    session.limits.answerRate = session.limits.answerBurst = 1e6;
    TransferManager& t = transfers();
    TransferTimeouts& w = t.timeouts;
    w.acceptMs = w.blockMs = w.gotAllMs = w.cancelAckMs = w.closeMs = w.idleMs = w.tokenMs = 1000;
    w.quietMs = 2;
    w.offsetWaitMs = 5;
    w.commandGapMs = 0;
    w.dataGoneMs = 50;
    t.busyWaitMs = 300;
    t.staleGraceMs = 0;
    t.checkWaitMs = 5;
    t.runIdleMs = 500;
    peer->queue().stop(); // what a run puts back stays put: each input offers its own files
    QObject::connect(&t, &TransferManager::transferEnded, [this](const TransferOutcome& o) { outcomes << o; });

    port = Fuzz::freePorts(5, 11);
    FUZZ_CHECK(control.listen(QHostAddress::LocalHost, port)
                   && dataIn.listen(QHostAddress::LocalHost, static_cast<quint16>(port + 2))
                   && commandIn.listen(QHostAddress::LocalHost, static_cast<quint16>(port + 3)),
               "the loopback ports can be taken");
    QObject::connect(&control, &QTcpServer::newConnection, [this] {
        ctl = control.nextPendingConnection();
        QObject::connect(ctl, &QTcpSocket::readyRead, [this] { said += ctl->readAll(); });
        ctl->write(Session::frame(QStringLiteral("PSOK")));
    });
    s.connectionMode = ConnectionMode::Client;
    s.connectionHost = QStringLiteral("127.0.0.1");
    s.connectionPort = QString::number(port);
    session.openConnection();
    FUZZ_CHECK(waitUntil([&] { return heard(QStringLiteral("caps:utf8,verify,token,run")); }),
               "the peer logs in and announces its extensions");
    say(v ? QStringLiteral("caps:run,verify") : QStringLiteral("caps:run"));
    FUZZ_CHECK(waitUntil([&] { return session.shares("run") && session.shares("verify") == v; }),
               "the peer takes our extensions");
}

// One peer for each set of extensions, made on first use and kept for the whole run.
Side* sides[2] = {};

// The input's ends of the run's two connections and what went over them.
struct Wire {
    std::unique_ptr<QTcpSocket> cmd, data;
    QByteArray fromPeer; // command connection, after the opening file
    QByteArray toPeer;   // every command byte written
    QByteArray dataIn;   // data from the peer after the opening file
    QByteArray dataOut;  // data written after the opening file
    bool cmdClosedHere = false, dataClosedHere = false;
    QList<int> offered; // sending: the file (index in kSendFiles) of each offer of the run, in turn

    void attach(std::unique_ptr<QTcpSocket>& to, QTcpSocket* socket)
    {
        to.reset(socket);
        // Small writes go at once, without waiting for the peer's delayed acknowledgement (once
        // connected: a socket not yet connected forgets the option).
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QObject::connect(socket, &QTcpSocket::readyRead, [this] { read(); });
    }
    void read()
    {
        if (cmd)
            fromPeer += cmd->readAll();
        if (data)
            dataIn += data->readAll();
    }
    void write(const QByteArray& bytes, bool trickle = false)
    {
        toPeer += bytes;
        if (!trickle) {
            cmd->write(bytes);
            return;
        }
        for (const char c : bytes) {
            cmd->write(&c, 1);
            cmd->flush();
            turn();
        }
    }
    // Lets the peer answer: until it wrote something more, within `ms`.
    void await(int ms)
    {
        const qsizetype was = fromPeer.size() + dataIn.size();
        waitUntil([&] { return fromPeer.size() + dataIn.size() > was; }, ms);
    }
    static bool up(const std::unique_ptr<QTcpSocket>& s) { return s->state() == QAbstractSocket::ConnectedState; }
};

// ---- our peer receives; the input is the sender ----

const char* const kNames[] = {
    "a.bin",
    "b.bin",
    "a.bin",
    "sub\\c.bin",
    "sub\\deep\\d.bin",
    "..\\up.bin",
    "sub\\..\\..\\up.bin",
    "C:\\c.bin",
    "\\\\host\\s.bin",
    "sp ace.bin",
    "ctl\x01.bin",
    "trail\\",
    "first.bin",
    "sub",
    "f\xc3\xa9.bin",
    "x/y.bin",
};
const qint64 kSizes[] = {0, 1, 3, 511, 512, 513, 4096, 70000};

// The offers of a command stream as the receiver reads them: number to size.
QMap<qint64, qint64> offeredSizes(const QByteArray& stream)
{
    QMap<qint64, qint64> out;
    for (const QByteArray& line : linesOf(stream)) {
        const QList<QByteArray> f = RunLines::fieldsOf(line, 5);
        qint64 n = 0, block = 0, size = 0;
        if (f.size() == 5 && f[0] == "OFFER" && RunLines::parseNumber(f[1], n) && RunLines::parseNumber(f[2], block)
            && RunLines::parseNumber(f[3], size) && !out.contains(n))
            out[n] = size;
    }
    return out;
}

QList<std::pair<qint64, qint64>> acceptsIn(const QByteArray& stream)
{
    QList<std::pair<qint64, qint64>> out;
    for (const QByteArray& line : linesOf(stream)) {
        const QList<QByteArray> f = RunLines::fieldsOf(line, 3);
        qint64 n = 0, offset = 0;
        if (f[0] == "ACCEPT") {
            if (f.size() != 3 || !RunLines::parseNumber(f[1], n) || !RunLines::parseNumber(f[2], offset))
                break;
            out.push_back({n, offset});
        }
    }
    return out;
}

void receivingStep(int op, Script& in, Wire& w, qint64& next)
{
    const QMap<qint64, qint64> sizes = offeredSizes(w.toPeer);
    const QList<Segment> cut = segments(acceptsIn(w.fromPeer), sizes);
    switch (op % 8) {
    case 0:
        w.write(in.take(static_cast<std::size_t>(in.byte() % 48 + 1)));
        break;
    case 1:
        w.write(in.take(static_cast<std::size_t>(in.byte() % 12 + 1)), true);
        break;
    case 2: { // offers: the next one, a few at once, or one with a number out of turn
        const int pick = in.byte();
        const int count = pick % 4 == 0 ? in.byte() % 150 + 1 : 1;
        QByteArray lines;
        for (int i = 0; i < count; ++i) {
            const qint64 n = pick % 8 == 7 ? next + 1 + in.byte() % 3 : next++;
            const qint64 size = kSizes[in.byte() % std::size(kSizes)];
            lines += "OFFER " + QByteArray::number(n) + ' ' + (in.byte() % 5 ? "512 " : "32768 ")
                     + QByteArray::number(size) + ' ' + kNames[in.byte() % std::size(kNames)] + '\n';
        }
        w.write(lines);
        break;
    }
    case 3: { // the end of an accepted file (or of another number), with or without its checksum
        const int pick = in.byte();
        const int kind = in.byte() % 4;
        const Segment* s = cut.isEmpty() ? nullptr : &cut[pick % cut.size()];
        const qint64 n = s && pick % 8 ? s->number : pick % 5;
        QByteArray sum = "-";
        if (s && kind > 0)
            sum = FileHasher::checksumOf(content(s->size, static_cast<int>(s->number)) + (kind == 3 ? "x" : ""))
                      .toLatin1();
        w.write("SENT " + QByteArray::number(n) + ' ' + (kind == 2 ? sum.toUpper() : sum) + '\n');
        break;
    }
    case 4: { // the accepted files' bytes as they should be, from where the stream stands
        qint64 n = in.byte() * 97 + 1;
        QByteArray bytes;
        for (const Segment& s : cut) {
            const qint64 into = w.dataOut.size() + bytes.size() - s.at;
            if (n <= 0 || into >= s.length || into < 0)
                continue;
            const qint64 k = std::min(n, s.length - into);
            bytes += content(s.size, static_cast<int>(s.number)).mid(s.offset + into, k);
            n -= k;
        }
        w.data->write(bytes);
        w.dataOut += bytes;
        break;
    }
    case 5: { // bytes of no file, or the wrong bytes of one
        const QByteArray bytes(in.byte() % 64 + 1, 'x');
        w.data->write(bytes);
        w.dataOut += bytes;
        break;
    }
    case 6:
        w.write(in.byte() % 2 ? QByteArray("CANCEL\n") : QByteArray("DONE 1\nOFFER\nSENT 1\n"));
        break;
    default:
        w.await(in.byte() % 8 + 1);
        break;
    }
}

// The peer's lines and files after a run it received; `whole`: every line it wrote was read.
void checkReceived(Side& side, const Wire& w, bool whole)
{
    const QMap<qint64, qint64> sizes = offeredSizes(w.toPeer);
    const QList<Segment> cut = segments(acceptsIn(w.fromPeer), sizes);
    QMap<qint64, const Segment*> byNumber;
    for (const Segment& s : cut)
        byNumber[s.number] = &s;
    QList<qint64> sent; // numbers of the input's "SENT" lines
    for (const QByteArray& line : linesOf(w.toPeer)) {
        const QList<QByteArray> f = RunLines::fieldsOf(line, 3);
        qint64 n = 0;
        if (f.size() == 3 && f[0] == "SENT" && RunLines::parseNumber(f[1], n))
            sent << n;
    }
    qint64 answered = 0;
    QList<qint64> ended;
    for (const QByteArray& line : linesOf(w.fromPeer)) {
        const QList<QByteArray> f = RunLines::fieldsOf(line, 3);
        qint64 n = 0, offset = 0;
        if (f.size() == 1) {
            FUZZ_CHECK(f[0] == "CANCEL", "a line of one word is a cancel");
            continue;
        }
        FUZZ_CHECK(RunLines::parseNumber(f[1], n), "a receiver's line names a file by its number");
        if (f[0] == "ACCEPT" || f[0] == "HAVE" || f[0] == "REFUSE") {
            FUZZ_CHECK(n == ++answered && sizes.contains(n), "each offer is answered once, in order");
            FUZZ_CHECK(f.size() == (f[0] == "ACCEPT" ? 3 : 2), "an answer has its fields");
            if (f[0] == "ACCEPT")
                FUZZ_CHECK(RunLines::parseNumber(f[2], offset) && offset <= sizes[n],
                           "a file is accepted from inside it");
            continue;
        }
        FUZZ_CHECK((f[0] == "DONE" || f[0] == "DIFFERS") && f.size() == 2, "a receiver's lines are the run's");
        FUZZ_CHECK(byNumber.contains(n) && !ended.contains(n), "only an accepted file ends, once");
        FUZZ_CHECK(sent.contains(n), "a file ends only after its sender said it sent it");
        if (f[0] == "DONE") // an empty file needs none: it may end before the files ahead of it
            FUZZ_CHECK(byNumber[n]->length == 0 || byNumber[n]->at + byNumber[n]->length <= w.dataOut.size(),
                       "a file is done only with its bytes");
        ended << n;
    }
    // Complete means: the file holds what came for it on the data connection (known for sure
    // when every answer of the peer was read).
    for (const TransferOutcome& o : side.outcomes) {
        FUZZ_CHECK(o.path.isEmpty() || o.path.startsWith(side.down + '/'), "a received file is in the download folder");
        if (!o.complete || !whole)
            continue;
        QFile f(o.path);
        FUZZ_CHECK(f.open(QIODevice::ReadOnly), "a complete file is there");
        const QByteArray bytes = f.readAll();
        bool found = false;
        for (const Segment& s : cut)
            found = found
                    || (bytes.size() == s.size && (s.length == 0 || s.at + s.length <= w.dataOut.size())
                        && bytes.mid(s.offset) == w.dataOut.mid(s.at, s.length));
        FUZZ_CHECK(found, "a file reported complete holds the bytes that came for it");
    }
    // Nothing beside the download folder, at any depth.
    auto entries = [&](const QString& folder) {
        return QDir(side.root + folder)
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    };
    FUZZ_CHECK(entries("/x") == QStringList{"y"} && entries("/x/y") == QStringList{"down"}
                   && entries("").filter(".bin").isEmpty(),
               "nothing is written outside the download folder");
}

// Opens a run in which the peer receives: "first.bin" offered with "frun" and sent.
bool openReceiving(Side& side, Wire& w)
{
    side.say("frun");
    side.say(QStringLiteral("file:%1|first.bin|512|3").arg(side.port + 3));
    if (!waitUntil([&] { return side.commandIn.hasPendingConnections(); }))
        return false;
    w.attach(w.cmd, side.commandIn.nextPendingConnection());
    if (!waitUntil([&] { return w.fromPeer == "ACCE_TRAN"; }))
        return false;
    w.attach(w.data, new QTcpSocket);
    w.data->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(side.port + 4));
    if (!waitUntil([&] { return w.data->state() == QAbstractSocket::ConnectedState; }))
        return false;
    w.data->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    w.data->write("abc");
    if (!waitUntil([&] { return w.fromPeer == "ACCE_TRANGot All"; }))
        return false;
    w.cmd->write("END_TRANS");
    if (!waitUntil([&] { return w.fromPeer.endsWith("RUN_READY") && side.transfers().currentRun(); }))
        return false;
    w.fromPeer.clear();
    return true;
}

// ---- our peer sends; the input is the receiver ----

QString sendPath(const Side& side, int i)
{
    return side.src + '/' + kSendFiles[i].first;
}

bool openSending(Side& side, Wire& w)
{
    if (!side.transfers().offerFile(sendPath(side, 0), "first.bin")
        || !waitUntil([&] { return side.heard(QStringLiteral("file:%1|first.bin|512|3").arg(side.port + 1)); }))
        return false;
    w.attach(w.cmd, new QTcpSocket);
    w.cmd->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(side.port + 1));
    if (!waitUntil([&] { return w.cmd->state() == QAbstractSocket::ConnectedState; }))
        return false;
    w.cmd->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    w.cmd->write("ACCE_TRAN");
    if (!waitUntil([&] { return side.dataIn.hasPendingConnections(); }))
        return false;
    w.attach(w.data, side.dataIn.nextPendingConnection());
    if (!waitUntil([&] { return w.dataIn == "abc"; }))
        return false;
    w.cmd->write("Got All");
    if (!waitUntil([&] { return w.fromPeer.endsWith("END_TRANS"); }))
        return false;
    if (side.verify)
        w.cmd->write("SUM_MATCH");
    w.cmd->write("RUN_READY");
    if (!waitUntil([&] { return side.transfers().currentRun() != nullptr; }))
        return false;
    w.fromPeer.clear();
    w.dataIn.clear();
    return true;
}

// The wire name of a file of kSendFiles.
QByteArray wireName(int i)
{
    return QString(kSendFiles[i].first).replace('/', '\\').toUtf8();
}

void sendingStep(Side& side, int op, Script& in, Wire& w)
{
    // The first offer the input has not answered yet.
    qint64 answered = 0;
    for (const QByteArray& line : linesOf(w.toPeer))
        if (line.startsWith("ACCEPT ") || line.startsWith("HAVE ") || line.startsWith("REFUSE "))
            ++answered;
    const qint64 n = answered + 1;
    const qint64 size = n <= w.offered.size() ? kSendFiles[w.offered[n - 1]].second : 0;
    const QByteArray number = QByteArray::number(n);
    switch (op % 8) {
    case 0:
        w.write(in.take(static_cast<std::size_t>(in.byte() % 48 + 1)));
        break;
    case 1:
        w.write(in.take(static_cast<std::size_t>(in.byte() % 12 + 1)), true);
        break;
    case 2: { // an answer to the next offer
        const int pick = in.byte();
        const qint64 offsets[] = {0, size, size + 1, size / 2, 512, 1024};
        if (pick % 4 == 0)
            w.write("ACCEPT " + number + ' ' + QByteArray::number(offsets[pick / 4 % std::size(offsets)]) + '\n');
        else
            w.write((pick % 4 == 1 ? "HAVE " : pick % 4 == 2 ? "REFUSE " : "ACCEPT 0") + number + '\n');
        break;
    }
    case 3: { // a verdict on a file whose end came, or on any other number
        QList<QByteArray> lines;
        for (const QByteArray& line : linesOf(w.fromPeer))
            if (line.startsWith("SENT "))
                lines << line;
        const int pick = in.byte();
        const QByteArray which = !lines.isEmpty() && pick % 4 ? RunLines::fieldsOf(lines[pick % lines.size()], 3)[1]
                                                              : QByteArray::number(pick % 6);
        w.write((pick & 0x80 ? "DIFFERS " : "DONE ") + which + '\n');
        break;
    }
    case 4: // an answer and a verdict at once
        w.write("ACCEPT " + number + " 0\nDONE " + number + '\n');
        break;
    case 5: { // one more file, while the run is open (else it would go as a single file)
        const int i = in.byte() % (kSendFiles.size() - 1) + 1;
        const TransferRun* run = side.transfers().currentRun();
        if (run && !run->isFinished() && side.transfers().offerFile(sendPath(side, i), kSendFiles[i].first))
            w.offered << i;
        break;
    }
    case 6:
        if (in.byte() % 2)
            side.transfers().queueRanEmpty();
        else
            w.write("CANCEL\n");
        break;
    default:
        w.await(in.byte() % 8 + 1);
        break;
    }
}

// The peer's lines and data after a run it sent. `linesWhole`, `dataWhole`: every byte it
// wrote on that connection was read.
void checkSent(Side& side, const Wire& w, bool linesWhole, bool dataWhole)
{
    QMap<qint64, qint64> sizes;
    for (qsizetype i = 0; i < w.offered.size(); ++i)
        sizes[i + 1] = kSendFiles[w.offered[i]].second;
    const QList<Segment> cut = segments(acceptsIn(w.toPeer), sizes);
    // The data is the accepted files' bytes, from their offsets, in the order accepted.
    QByteArray expected;
    for (const Segment& s : cut)
        expected += content(s.size, w.offered[s.number - 1]).mid(s.offset);
    FUZZ_CHECK(w.dataIn.size() <= expected.size() && expected.startsWith(w.dataIn),
               "a sender sends the accepted files' bytes and nothing else");
    qint64 offers = 0;
    QList<qint64> sent;
    for (const QByteArray& line : linesOf(w.fromPeer)) {
        const QList<QByteArray> f = RunLines::fieldsOf(line, 5);
        qint64 n = 0;
        if (f.size() == 1) {
            FUZZ_CHECK(f[0] == "CANCEL", "a line of one word is a cancel");
            continue;
        }
        FUZZ_CHECK(RunLines::parseNumber(f[1], n) && n >= 1 && n <= w.offered.size(),
                   "a sender's line names a file it offered");
        const int file = w.offered[n - 1];
        if (f[0] == "OFFER") {
            FUZZ_CHECK(n == ++offers, "offers are numbered in turn");
            FUZZ_CHECK(f.size() == 5 && f[2] == (sizes[n] >= 32768 ? "32768" : "512")
                           && f[3] == QByteArray::number(sizes[n]) && f[4] == wireName(file),
                       "an offer has the file's block, size and name");
            continue;
        }
        FUZZ_CHECK(f[0] == "SENT" && f.size() == 3 && n <= offers && !sent.contains(n),
                   "a sender's lines are the run's");
        FUZZ_CHECK(f[2] == "-" || f[2] == FileHasher::checksumOf(content(sizes[n], file)).toLatin1(),
                   "the checksum is the file's");
        bool whole = false;
        for (const Segment& s : cut)
            whole = whole || (s.number == n && s.at + s.length <= w.dataIn.size());
        FUZZ_CHECK(!dataWhole || whole, "the end of a file is sent only after its bytes");
        sent << n;
    }
    // Complete means: the input said "DONE" for the file after its end came.
    QList<qint64> done;
    for (const QByteArray& line : linesOf(w.toPeer)) {
        const QList<QByteArray> f = RunLines::fieldsOf(line, 2);
        qint64 n = 0;
        if (f.size() == 2 && f[0] == "DONE" && RunLines::parseNumber(f[1], n) && sent.contains(n))
            done << n;
    }
    for (const TransferOutcome& o : side.outcomes) {
        if (!o.complete || !linesWhole)
            continue;
        bool found = false;
        for (const qint64 n : done)
            found = found || wireName(w.offered[n - 1]) == o.name.toUtf8();
        FUZZ_CHECK(found, "a file sent is complete only once the receiver said so after its end");
    }
}

void play(Side& side, Script& in, bool sending)
{
    TransferManager& t = side.transfers();
    FUZZ_CHECK(side.peer->session().isConnected() && !t.current() && !t.currentRun() && !t.offerPending(),
               "each input finds the peer idle and logged in");
    QDir(side.down).removeRecursively();
    QDir().mkpath(side.down);
    side.said.clear();
    Wire w;
    FUZZ_CHECK(sending ? openSending(side, w) : openReceiving(side, w), "a run opens");
    side.outcomes.clear(); // the opening file's
    qint64 next = 1;
    while (in.more() && Wire::up(w.cmd)) {
        const int op = in.byte();
        if (op % 16 == 15) { // the input's side goes away: orderly, or with a reset
            w.cmdClosedHere = true;
            w.dataClosedHere = (op & 0x40) != 0;
            if (w.dataClosedHere)
                op & 0x20 ? w.data->abort() : w.data->disconnectFromHost();
            op & 0x20 ? w.cmd->abort() : w.cmd->disconnectFromHost();
            break;
        }
        sending ? sendingStep(side, op, in, w) : receivingStep(op, in, w, next);
    }
    // The input is done: a cancel (after whatever line it left unfinished) ends the run, and
    // both connections are read to their ends.
    if (Wire::up(w.cmd))
        w.write("\nCANCEL\n");
    FUZZ_CHECK(waitUntil([&] { return !t.currentRun(); }), "a run ends once its peer cancels or is gone");
    FUZZ_CHECK(waitUntil([&] { return !Wire::up(w.cmd) && !Wire::up(w.data); }), "a run closes its connections");
    w.read();
    if (sending)
        checkSent(side, w, !w.cmdClosedHere, !w.dataClosedHere);
    else
        checkReceived(side, w, !w.cmdClosedHere);
    // What the run put back waits in the stopped queue; nothing is left running.
    side.peer->queue().clear();
    t.cancelAll();
    FUZZ_CHECK(waitUntil([&] { return !t.current() && !t.currentRun() && !t.offerPending(); }),
               "the peer is idle again");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Fuzz::startApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const bool verify = data[0] & 2;
    Side*& side = sides[verify];
    if (!side)
        side = new Side(verify);
    side->peer->state().options.existingFileDefault = (data[0] >> 2) & 3;
    Script script{data + 1, size - 1};
    play(*side, script, data[0] & 1);
    return 0;
}
