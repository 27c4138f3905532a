// A file offer from the peer and the rules that decide whether and where its file lands.
// Byte 0 of the input says how the rest is read (bits 0-1: UTF-8, Latin-1 or raw UTF-16, as
// text after "file:") and how an existing file is met (bits 2-3: none, overwrite, resume or a
// numbered name). The offer is split, its fields checked as the receiver checks them, handed
// to a real peer as the control connection would, and its name opened as a target in a
// download folder that holds files, a folder and links leading out of it.
// Properties: the split gives back the text; an offer made by the sender splits back into its
// fields; accepted numbers are in range; an accepted name stays inside the download folder and
// never names a parent; every line shown is one line; a target opened lies inside the download
// folder, nothing is ever written outside it, and an offer that never gets its data leaves
// nothing behind.
#include "FuzzSupport.h"
#include "core/LineText.h"
#include "core/PeerState.h"
#include "session/Offer.h"
#include "session/Session.h"
#include "transfer/TargetFile.h"
#include "transfer/TransferManager.h"
#include "transfer/TransferRules.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <limits>
#include <memory>
#include <unistd.h>

namespace {

struct World {
    QString root;    // the download folder, canonical, without a trailing "/"
    QString outside; // a folder beside it that links lead to
    // The receiving side as a peer builds it, without the transcript log (its lines would
    // pile up between inputs, as no event loop runs to write them).
    std::unique_ptr<PeerState> state;
    std::unique_ptr<Session> session;
    std::unique_ptr<TransferManager> transfers;
    QStringList lines; // what the peer showed for the current input
};

World* world = nullptr;

const QByteArray kFileBytes(3000, 'f');
const QByteArray kInnerBytes(40, 'i');
const QByteArray kOutsideBytes("outside");

void writeIfChanged(const QString& path, const QByteArray& bytes)
{
    const QFileInfo info(path);
    if (info.isFile() && !info.isSymLink() && info.size() == bytes.size())
        return;
    QFile::remove(path);
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size(), "the fixtures can be written");
}

void linkIfMissing(const QString& target, const QString& link)
{
    if (!QFileInfo(link).isSymLink()) {
        QFile::remove(link);
        FUZZ_CHECK(QFile::link(target, link), "the fixture links can be made");
    }
}

// The download folder's fixtures as they were at the start (a resume or an overwrite may have
// changed a file; that is theirs to do).
void restoreFixtures()
{
    QDir().mkpath(world->root + "/sub");
    writeIfChanged(world->root + "/file.txt", kFileBytes);
    writeIfChanged(world->root + "/sub/inner.bin", kInnerBytes);
    linkIfMissing(world->outside, world->root + "/out");
    linkIfMissing(world->outside + "/target.txt", world->root + "/outfile");
    linkIfMissing(world->outside + "/nothing", world->root + "/gone");
    linkIfMissing(world->root + "/sub", world->root + "/sublink");
}

QStringList entries(const QString& folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next().mid(folder.size());
    found.sort();
    return found;
}

QStringList fixtureEntries()
{
    static const QStringList expected = [] {
        QStringList e{"/file.txt", "/sub", "/sub/inner.bin", "/out", "/outfile", "/gone", "/sublink"};
        e.sort();
        return e;
    }();
    return expected;
}

bool inside(const QString& path)
{
    return path == world->root || path.startsWith(world->root + '/');
}

// No C0, DEL or C1 control character.
bool noControl(const QString& text)
{
    for (QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            return false;
    }
    return true;
}

// One shown line: nothing that breaks it or drives a terminal.
bool oneLine(const QString& text)
{
    for (QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029 || u == 0x85)
            return false;
    }
    return true;
}

QString decode(const QByteArray& bytes, int how)
{
    switch (how) {
    case 1:
        return QString::fromLatin1(bytes);
    case 2: // any UTF-16 units, lone surrogates too
        return QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2);
    default:
        return QString::fromUtf8(bytes);
    }
}

void checkSplit(const QString& body, bool parsed, const Offer& offer)
{
    FUZZ_CHECK(parsed == (body.count('|') >= 3), "an offer splits when it has three \"|\"");
    if (!parsed)
        return;
    FUZZ_CHECK(!offer.port.contains('|') && !offer.name.contains('|') && !offer.block.contains('|'),
               "the first three fields end at the first three \"|\"");
    FUZZ_CHECK(offer.message() == QStringLiteral("file:") + body, "an offer's message is the text it came from");
}

void checkNumbers(const Offer& offer)
{
    qint64 value = -1;
    if (TransferRules::parseSize(offer.size, value)) {
        FUZZ_CHECK(value >= 0 && offer.size.size() <= 19, "a size is 0 to 2^63-1 in at most 19 digits");
        bool ok = false;
        FUZZ_CHECK(offer.size.toLongLong(&ok) == value && ok, "a size is the number its digits say");
        for (QChar c : offer.size)
            FUZZ_CHECK(c >= '0' && c <= '9', "a size is digits only");
    }
    if (TransferRules::parseSize(offer.block, value))
        FUZZ_CHECK(value >= 0, "a block size is not negative");
    quint16 port = 0;
    if (TransferRules::parsePort(offer.port, port)) {
        FUZZ_CHECK(port >= 1 && port <= 65534, "a transfer port leaves room for the data port");
        FUZZ_CHECK(offer.port.toInt() == port, "a port is the number its digits say");
    }
}

// What the sender makes of a local name must split back into the same fields on the other
// side, and carry nothing that breaks an offer or a line.
void checkSenderSide(const QString& local, quint16 port, qint64 size)
{
    bool replaced = false;
    for (bool utf8 : {false, true}) {
        const QString wire = TransferRules::wireName(local, &replaced, utf8);
        FUZZ_CHECK(!wire.contains('|') && noControl(wire), "a wire name keeps the offer whole and holds no control");
        const QString numbered = TransferRules::numberedWireName(wire, 2);
        FUZZ_CHECK(!numbered.contains('|'), "a numbered wire name keeps the offer whole");
    }
    const Offer made = TransferRules::makeOffer(port, local, size);
    Offer back;
    FUZZ_CHECK(made.message().startsWith(QStringLiteral("file:")), "an offer starts with \"file:\"");
    FUZZ_CHECK(Offer::parse(made.message().mid(5), back), "an offer made splits");
    FUZZ_CHECK(back.port == made.port && back.name == made.name && back.block == made.block && back.size == made.size,
               "an offer made splits back into its fields");
    qint64 sizeBack = -1;
    quint16 portBack = 0;
    FUZZ_CHECK(TransferRules::parseSize(back.size, sizeBack) && sizeBack == size,
               "the size of an offer made reads back");
    FUZZ_CHECK(port == 0 || port == 65535 || (TransferRules::parsePort(back.port, portBack) && portBack == port),
               "the port of an offer made reads back");
}

// The accepted components of a name: none may lead out of the download folder.
void checkComponents(const QString& name, const QStringList& parts)
{
    FUZZ_CHECK(!parts.isEmpty(), "an accepted name has a component");
    for (const QString& part : parts) {
        FUZZ_CHECK(!part.isEmpty() && part != QLatin1String(".") && part != QLatin1String(".."),
                   "no component is empty or names a folder or its parent");
        FUZZ_CHECK(!part.contains('/') && !part.contains('\\'), "a component is one name");
        FUZZ_CHECK(noControl(part), "a component holds no control character");
    }
    const QString joined = world->root + '/' + parts.join('/');
    const QString clean = QDir::cleanPath(joined);
    FUZZ_CHECK(clean == joined && clean.startsWith(world->root + '/'), "an accepted name stays where it says");
    if (TransferRules::checkPlainName(name).isEmpty())
        FUZZ_CHECK(parts.size() == 1 && parts.first() == name, "a plain name is one component, itself");
}

// Opens the name as the receiver would, with the choice the input made, and checks where the
// file is; then lets the target go as after an offer that got no data.
void checkTarget(const QStringList& parts, ExistingFileChoice choice, qint64 size, qint64 block)
{
    TargetFile target;
    TargetFile::Request request;
    request.root = world->root + '/';
    request.folder = request.root;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i)
        request.folder += parts[i] + '/';
    request.name = parts.last();
    request.choice = choice;
    request.size = size;
    request.block = block;
    FileSystem::RegularFile file;
    QString problem;
    if (target.open(file, request, problem)) {
        const QString real =
            QFileInfo(QStringLiteral("/proc/self/fd/") + QString::number(file.handle())).symLinkTarget();
        FUZZ_CHECK(inside(real), "an opened target lies inside the download folder");
        FUZZ_CHECK(::lseek(file.handle(), 0, SEEK_CUR) == target.resumeAt() && target.resumeAt() >= 0
                       && target.resumeAt() <= size,
                   "writing starts inside the offered file");
        FUZZ_CHECK(oneLine(LineText::visible(target.name())), "the name saved under shows as one line");
        file.close();
    } else {
        FUZZ_CHECK(!problem.isEmpty(), "a refused target says why");
        FUZZ_CHECK(oneLine(LineText::visible(problem)), "the reason shows as one line");
    }
    target.discardUnused();
    restoreFixtures();
    FUZZ_CHECK(entries(world->root) == fixtureEntries(), "an offer without data leaves nothing behind");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Fuzz::startApplication();
    world = new World;
    QDir().mkpath(Fuzz::folder() + "/down");
    QDir().mkpath(Fuzz::folder() + "/outside");
    QDir().mkpath(Fuzz::folder() + "/home");
    world->root = QFileInfo(Fuzz::folder() + "/down").canonicalFilePath();
    world->outside = QFileInfo(Fuzz::folder() + "/outside").canonicalFilePath();
    writeIfChanged(world->outside + "/target.txt", kOutsideBytes);
    restoreFixtures();
    world->state = std::make_unique<PeerState>(Fuzz::folder() + "/home");
    world->session = std::make_unique<Session>(*world->state);
    world->transfers = std::make_unique<TransferManager>(*world->state, *world->session);
    PeerState& state = *world->state;
    state.options.downloadFolder = world->root;
    // Every refusal shows its lines here, however fast the inputs come.
    world->session->limits.answerRate = world->session->limits.answerBurst = 1e12;
    state.options.autoAccept = false; // the headless prompts decline: the offer ends at once
    QObject::connect(&state, &PeerState::lineAdded, [](const QString& text, LineKind) { world->lines << text; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const QString body = decode(Fuzz::bytes(data + 1, size - 1), data[0] & 3);
    static const ExistingFileChoice kChoices[] = {ExistingFileChoice::None, ExistingFileChoice::Overwrite,
                                                  ExistingFileChoice::Resume, ExistingFileChoice::NumberedName};
    const ExistingFileChoice choice = kChoices[(data[0] >> 2) & 3];

    Offer offer;
    const bool parsed = Offer::parse(body, offer);
    checkSplit(body, parsed, offer);
    const QString name = parsed ? offer.name : body;
    FUZZ_CHECK(oneLine(LineText::visible(name)), "a name shows as one line");

    qint64 offeredSize = 0, block = 512;
    quint16 port = 0;
    if (parsed) {
        checkNumbers(offer);
        TransferRules::parseSize(offer.size, offeredSize);
        if (!TransferRules::parseSize(offer.block, block) || block <= 0)
            block = 512;
        TransferRules::parsePort(offer.port, port);
    }
    checkSenderSide(name, port, offeredSize);

    QString problem;
    const QStringList parts = TransferRules::offeredComponents(name, &problem);
    FUZZ_CHECK(parts.isEmpty() == !problem.isEmpty(), "a name is either split or refused with a reason");
    if (problem.isEmpty()) {
        checkComponents(name, parts);
        checkTarget(parts, choice, offeredSize, block);
    }

    if (parsed) {
        // The offer as the control connection hands it over; declined at once, it ends there.
        world->lines.clear();
        TransferManager& transfers = *world->transfers;
        transfers.receiveOffer(offer.name, offer.size, offer.block, QStringLiteral("127.0.0.1"), offer.port);
        transfers.cancelAll();
        FUZZ_CHECK(!transfers.busy(), "a declined offer leaves no transfer behind");
        for (const QString& line : world->lines)
            FUZZ_CHECK(oneLine(line), "every line shown is one line");
        restoreFixtures();
    }
    // What the peer left for its event loop (deferred deletes, posted calls) runs now, as it
    // would between two messages; held over, it would pile up from input to input.
    QCoreApplication::processEvents();
    return 0;
}
