// Private connections between two peers of this program (docs/protocol.md): a server offers
// with "tls:offer" as soon as it accepts a connection; a client that waited for the offer
// answers "tls:start" and begins the TLS handshake right after that message's terminator,
// before the login. Both present self-signed certificates and trust them by their keys: the
// client remembers the key per site, the server per key. A peer that knows only the plain
// protocol ignores the offer and sends nothing of this.
#include "session/SessionPrivacy.h"

#include "core/PeerState.h"
#include "platform/EventSocket.h"
#include "session/ControlFramer.h"
#include "session/SessionLimits.h"

#include <QSslCipher>

#include <utility>

namespace {

const QString kCannotAlways = QStringLiteral("*** This side cannot make a private connection now and private "
                                             "connections are set to always - not connected");

} // namespace

SessionPrivacy::SessionPrivacy(PeerState& state, Host& sessionHost, EventSocket& controlSocket,
                               ControlFramer& controlFramer, const SessionLimits& sessionLimits, const bool& on,
                               bool& trustNew)
    : ctx(state), session(sessionHost), socket(controlSocket), framer(controlFramer), limits(sessionLimits),
      extensionsOn(on), trustNewIdentity(trustNew)
{
    connect(&socket, &EventSocket::encrypted, this, &SessionPrivacy::onEncrypted);
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, [this] {
        if (step == Step::AwaitingOffer)
            onNoOffer();
        else if (step == Step::Handshake)
            onHandshakeTimeOut();
    });
}

SessionPrivacy::~SessionPrivacy() = default;

bool SessionPrivacy::allowed()
{
    return extensionsOn && ctx.settings.privateMode != PrivateMode::Never && ctx.identity().isValid();
}

QSslConfiguration SessionPrivacy::tlsConfiguration()
{
    if (ownTls.isNull() && ctx.identity().isValid()) {
        QSslConfiguration c = QSslConfiguration::defaultConfiguration();
        c.setLocalCertificate(ctx.identity().certificate());
        c.setPrivateKey(ctx.identity().privateKey());
        c.setProtocol(QSsl::TlsV1_3OrLater);
        // Both sides present a certificate; it is trusted by its key, so no authorities.
        c.setPeerVerifyMode(QSslSocket::VerifyPeer);
        c.setCaCertificates({});
        QList<QSslCipher> ciphers;
        for (const char* name : {"TLS_AES_128_GCM_SHA256", "TLS_CHACHA20_POLY1305_SHA256", "TLS_AES_256_GCM_SHA384"}) {
            const QSslCipher cipher(QString::fromLatin1(name));
            if (!cipher.isNull())
                ciphers << cipher;
        }
        if (!ciphers.isEmpty())
            c.setCiphers(ciphers);
        ownTls = c;
    }
    return ownTls;
}

void SessionPrivacy::beginClientSide()
{
    const bool remembered =
        extensionsOn && !ctx.knownPeers().siteKey(socket.remoteHost(), socket.remotePort()).isEmpty();
    if (!socket.tlsConfigured()) {
        // This side cannot go private now (no identity, or the plain protocol only): a site that
        // went private before is not logged in to in the clear, unless private connections were
        // turned off, and with "always" nothing is.
        if (remembered && ctx.settings.privateMode != PrivateMode::Never) {
            session.refuseConnection(
                QStringLiteral("*** This peer connected privately before and this side cannot now - "
                               "not connected"));
            return;
        }
        if (ctx.settings.privateMode == PrivateMode::Always) {
            session.refuseConnection(kCannotAlways);
            return;
        }
        session.authenticate();
        return;
    }
    step = Step::AwaitingOffer;
    // A site that went private before must offer again; it is given time on a slow link.
    timer.start(remembered ? limits.rememberedOfferWaitMs : limits.privateOfferWaitMs);
}

void SessionPrivacy::startAsServer()
{
    if (!socket.tlsConfigured()) {
        if (ctx.settings.privateMode == PrivateMode::Always)
            session.refuseConnection(kCannotAlways);
        return;
    }
    session.sendMessage(QStringLiteral("tls:offer"));
    step = Step::AwaitingRequest;
    requestGot.clear();
}

void SessionPrivacy::onOffer()
{
    if (step != Step::AwaitingOffer)
        return; // only the offer that comes before the login counts
    timer.stop();
    // A server sends nothing after its offer until it heard the client: bytes that came with
    // it were put there by someone else, and must not pass for what the private connection said.
    if (framer.buffered() > 0 || socket.bytesAvailable() > 0) {
        session.refuseConnection(
            QStringLiteral("*** Error : The other side sent more after its offer to go private - not "
                           "connected"));
        return;
    }
    socket.send(ControlFramer::frame(QStringLiteral("tls:start")));
    if (!socket.startTls(false)) {
        session.refuseConnection(
            QStringLiteral("*** Error : The private connection could not be started - not connected"));
        return;
    }
    step = Step::Handshake;
    timer.start(limits.handshakeTimeoutMs);
}

void SessionPrivacy::onNoOffer()
{
    step = Step::None;
    // Someone between the two could delete the offer: a site that went private before must
    // go private again.
    if (!ctx.knownPeers().siteKey(socket.remoteHost(), socket.remotePort()).isEmpty()) {
        session.refuseConnection(
            QStringLiteral("*** This peer connected privately before and does not now - not connected"));
        return;
    }
    if (ctx.settings.privateMode == PrivateMode::Always) {
        session.refuseConnection(QStringLiteral("*** The other side cannot make a private connection and private "
                                                "connections are set to always - not connected"));
        return;
    }
    session.authenticate();
    session.releaseHeld();
}

bool SessionPrivacy::readSwitchRequest()
{
    // The client's handshake follows its request without a pause, so the request is read to
    // its last byte and not one byte further: the rest belongs to TLS.
    const QByteArray want = ControlFramer::frame(QStringLiteral("tls:start"));
    const QByteArray more = socket.take(want.size() - requestGot.size());
    if (more.isEmpty())
        return false;
    requestGot += more;
    if (!want.startsWith(requestGot)) {
        // Any other first message: a peer that logs in as plain peers do.
        step = Step::None;
        framer.append(std::exchange(requestGot, {}));
        if (ctx.settings.privateMode == PrivateMode::Always) {
            session.refuseConnection(QStringLiteral("*** The other side cannot make a private connection and private "
                                                    "connections are set to always - not connected"));
            return false;
        }
        session.releaseHeld();
        return true;
    }
    if (requestGot.size() < want.size())
        return true;
    requestGot.clear();
    step = Step::Handshake;
    if (!socket.startTls(true)) {
        session.refuseConnection(
            QStringLiteral("*** Error : The private connection could not be started - not connected"));
        return false;
    }
    timer.start(limits.handshakeTimeoutMs);
    return false;
}

void SessionPrivacy::onHandshakeTimeOut()
{
    session.refuseConnection(QStringLiteral("*** Error : The private connection was not made in time - not connected"));
}

void SessionPrivacy::onEncrypted()
{
    if (step != Step::Handshake)
        return;
    timer.stop();
    peerKeyDer = socket.peerPublicKey();
    code = Identity::connectionCode(ctx.identity().publicKey(), peerKeyDer);
    const QString proto = socket.tlsProtocolName();
    KnownPeers& known = ctx.knownPeers();
    if (session.servesPeer()) {
        // Remembered with its record once it logged in, so that strangers fill no entries.
        newIdentity = !known.knowsPeer(peerKeyDer);
    } else {
        const QString host = socket.remoteHost();
        const quint16 port = socket.remotePort();
        const QByteArray remembered = known.siteKey(host, port);
        newIdentity = remembered != peerKeyDer;
        if (!remembered.isEmpty() && newIdentity && !trustNewIdentity) {
            refusedKey = peerKeyDer;
            refusedHost = host;
            refusedPort = port;
            const QString refusedCode = code;
            session.refuseConnection(
                QStringLiteral("*** The other side's identity changed since the last connection - not "
                               "connected"));
            ctx.addText(QStringLiteral("*** Its connection code now : ") + refusedCode
                            + QStringLiteral(" - compare it with your friend before you accept the new identity"),
                        LineKind::Error);
            Q_EMIT identityRefused(host, port, refusedCode);
            return;
        }
        if (newIdentity) {
            known.rememberSite(host, port, peerKeyDer, known.siteName(host, port));
            known.save();
            // A changed key is accepted once; the next change is refused again.
            if (!remembered.isEmpty())
                trustNewIdentity = false;
        }
    }
    step = Step::Private;
    if (newIdentity)
        ctx.addText(QStringLiteral("*** Private connection (%1) - connection code %2 - new identity, compare this "
                                   "code with your friend")
                        .arg(proto, code),
                    LineKind::Connect);
    else
        ctx.addText(QStringLiteral("*** Private connection (%1) - known identity").arg(proto), LineKind::Connect);
    Q_EMIT changed();
    if (!session.servesPeer())
        session.authenticate();
    session.releaseHeld();
    if (session.servesPeer() && socket.bytesAvailable() > 0)
        session.readArrived(); // a login that came with the end of the handshake
}

bool SessionPrivacy::acceptChangedIdentity()
{
    if (refusedKey.isEmpty())
        return false;
    KnownPeers& known = ctx.knownPeers();
    known.rememberSite(refusedHost, refusedPort, std::exchange(refusedKey, {}),
                       known.siteName(refusedHost, refusedPort));
    known.save();
    return true;
}

void SessionPrivacy::forget()
{
    const bool was = step == Step::Private;
    step = Step::None;
    timer.stop();
    requestGot.clear();
    peerKeyDer.clear();
    code.clear();
    newIdentity = false;
    peerNameRemembered = false;
    if (was)
        Q_EMIT changed();
}

void SessionPrivacy::recordArrived()
{
    if (!std::exchange(peerNameRemembered, true))
        rememberPeer(); // the first record of a connection: a name that changes is not written again
}

void SessionPrivacy::rememberPeer()
{
    if (!isPrivate())
        return;
    KnownPeers& known = ctx.knownPeers();
    const QString name = ctx.remoteName.left(KnownPeers::MaxNameLength);
    const QString host = socket.remoteHost();
    const quint16 port = socket.remotePort();
    if (session.servesPeer() ? known.knowsPeer(peerKeyDer) && known.peerName(peerKeyDer) == name
                             : known.siteName(host, port) == name)
        return;
    if (session.servesPeer())
        known.rememberPeer(peerKeyDer, name);
    else
        known.rememberSite(host, port, peerKeyDer, name);
    known.save();
}
