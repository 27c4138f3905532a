// The extensions two peers of this program agree on after the login (docs/protocol.md):
// "caps:" announces the words, "enc:utf8" switches one direction to UTF-8, "ftoken:" ties the
// next offer's transfer connections to it, "frun" lets them stay open for a run of files, "hashq:" and "hasha:" carry
// file checksums. A peer that knows only the plain protocol ignores "caps:" and is never sent anything else.
#include "session/SessionExtensions.h"

#include "config/Scramble.h"
#include "core/PeerState.h"
#include "session/SessionLimits.h"

#include <QSet>

#include <utility>

namespace {

const QString kUtf8 = QStringLiteral("utf8");

} // namespace

SessionExtensions::SessionExtensions(PeerState& state, Host& sessionHost, const SessionLimits& sessionLimits,
                                     const bool& extensionsOn)
    : ctx(state), host(sessionHost), limits(sessionLimits), on(extensionsOn)
{
    capsTimer.setSingleShot(true);
    connect(&capsTimer, &QTimer::timeout, this, &SessionExtensions::changed);
}

SessionExtensions::~SessionExtensions() = default;

QStringList SessionExtensions::ownExtensions()
{
    return {kUtf8, QStringLiteral("verify"), QStringLiteral("token"), QStringLiteral("run")};
}

QStringList SessionExtensions::shared() const
{
    QStringList out;
    if (!on || !peerAnnounced)
        return out;
    for (const QString& word : ownExtensions())
        if (peerExtensions.contains(word))
            out << word;
    return out;
}

bool SessionExtensions::shares(const QString& word) const
{
    return on && peerAnnounced && peerExtensions.contains(word) && ownExtensions().contains(word);
}

void SessionExtensions::announce()
{
    if (!on)
        return;
    host.sendMessage(QStringLiteral("caps:") + ownExtensions().join(','));
    ownAnnounced = true;
    if (!peerAnnounced)
        capsTimer.start(limits.capsWaitMs);
}

void SessionExtensions::forget()
{
    const bool had = peerAnnounced;
    capsTimer.stop();
    peerExtensions.clear();
    peerAnnounced = false;
    ownAnnounced = false;
    utf8Out = utf8In = false;
    pendingToken.clear();
    lastOfferToken.clear();
    pendingRun = lastOfferRun = false;
    if (had)
        Q_EMIT changed();
}

void SessionExtensions::offerArrived()
{
    lastOfferToken = std::exchange(pendingToken, {});
    lastOfferRun = std::exchange(pendingRun, false);
}

void SessionExtensions::noteUnsendable(const QString& text)
{
    QStringList missing;
    QSet<uint> seen;
    for (const uint code : text.toUcs4()) {
        const char32_t c = code;
        const QString one = QString::fromUcs4(&c, 1);
        if (!isScramblable(one) && !seen.contains(code)) {
            seen.insert(code);
            missing << one;
        }
    }
    if (!missing.isEmpty())
        ctx.addText(QStringLiteral("*** The other side cannot receive these characters, they arrive as \"?\" : ")
                        + missing.join(' '),
                    LineKind::Status);
}

void SessionExtensions::handle(ControlMessages::Kind kind, const QString& text)
{
    using Kind = ControlMessages::Kind;
    switch (kind) {
    case Kind::Capabilities:
        onCapabilities(text.mid(5));
        break;
    case Kind::Utf8Switch:
        if (ownAnnounced)
            utf8In = true; // the peer's next message is UTF-8
        break;
    case Kind::FileToken:
        onFileToken(text.mid(7));
        break;
    case Kind::RunMark:
        pendingRun = ownAnnounced;
        break;
    case Kind::ChecksumQuestion:
        onChecksumQuestion(text.mid(6));
        break;
    case Kind::ChecksumAnswer:
        onChecksumAnswer(text.mid(6));
        break;
    default:
        break;
    }
}

void SessionExtensions::onCapabilities(const QString& words)
{
    // Only the exchange after the login counts, and there the first announcement.
    if (peerAnnounced || !ownAnnounced)
        return;
    peerAnnounced = true;
    capsTimer.stop();
    // Words this side does not know are skipped; they take no room from known ones.
    // A further "caps:" adds to the words the peer announced before.
    for (const QString& word : ControlMessages::knownWords(words, ownExtensions(), limits.maxCapsChars))
        if (!peerExtensions.contains(word))
            peerExtensions << word;
    if (shares(kUtf8) && !utf8Out) {
        host.sendMessage(QStringLiteral("enc:utf8"));
        utf8Out = true;
        // Our record went out before the switch; one Windows-1252 could not hold goes again.
        const Options& o = ctx.options;
        if (!isScramblable(o.myName + o.myEmail + o.myAge + o.myHomePage))
            host.sendOwnRecord();
    }
    Q_EMIT changed();
}

void SessionExtensions::onFileToken(const QString& token)
{
    pendingToken = ControlMessages::isHexDigits(token, 32) ? token.toLatin1() : QByteArray();
}

void SessionExtensions::onChecksumQuestion(const QString& body)
{
    QString name;
    qint64 length = 0;
    // The transfer side bounds its answers (admitAnswer): a question about a file of an open
    // run is always answered, since the run's offers wait for it.
    if (ControlMessages::parseChecksumQuestion(body, name, length) && shares(QStringLiteral("verify")))
        Q_EMIT checksumAsked(name, length);
}

void SessionExtensions::onChecksumAnswer(const QString& body)
{
    QString name;
    QString sum;
    qint64 length = 0;
    if (ControlMessages::parseChecksumAnswer(body, name, length, sum) && shares(QStringLiteral("verify")))
        Q_EMIT checksumAnswered(name, length, sum);
}
