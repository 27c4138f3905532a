// Private connections between two peers of this program (docs/protocol.md): a server offers
// with "tls:offer" as soon as it accepts a connection; a client that waited for the offer
// answers "tls:start" and begins the TLS handshake right after that message's terminator,
// before the login. Both present self-signed certificates and trust them by their keys: the
// client remembers the key per site, the server per key. A peer that knows only the plain
// protocol ignores the offer and sends nothing of this.
#include "session/Session.h"

#include "core/PeerState.h"

#include <QSslCipher>

#include <utility>

namespace {

const QString kCannotAlways = QStringLiteral("*** This side cannot make a private connection now and private "
                                             "connections are set to always - not connected");

} // namespace

bool Session::privacyAllowed()
{
    return extensionsOn && ctx.settings.privateMode != PrivateMode::Never && ctx.identity().isValid();
}

QSslConfiguration Session::tlsConfiguration()
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

void Session::beginClientSide()
{
    const bool remembered =
        extensionsOn && !ctx.knownPeers().siteKey(controlSocket.remoteHost(), controlSocket.remotePort()).isEmpty();
    if (!controlSocket.tlsConfigured()) {
        // This side cannot go private now (no identity, or the plain protocol only): a site that
        // went private before is not logged in to in the clear, unless private connections were
        // turned off, and with "always" nothing is.
        if (remembered && ctx.settings.privateMode != PrivateMode::Never) {
            refuseConnection(QStringLiteral("*** This peer connected privately before and this side cannot now - "
                                            "not connected"));
            return;
        }
        if (ctx.settings.privateMode == PrivateMode::Always) {
            refuseConnection(kCannotAlways);
            return;
        }
        authenticate();
        return;
    }
    privacyStep = PrivacyStep::AwaitingOffer;
    // A site that went private before must offer again; it is given time on a slow link.
    privacyTimer.start(remembered ? limits.rememberedOfferWaitMs : limits.privateOfferWaitMs);
}

void Session::startPrivacyAsServer()
{
    if (!controlSocket.tlsConfigured()) {
        if (ctx.settings.privateMode == PrivateMode::Always)
            refuseConnection(kCannotAlways);
        return;
    }
    sendControlMessage(QStringLiteral("tls:offer"));
    privacyStep = PrivacyStep::AwaitingRequest;
    requestGot.clear();
}

void Session::onPrivateOffer()
{
    if (privacyStep != PrivacyStep::AwaitingOffer)
        return; // only the offer that comes before the login counts
    privacyTimer.stop();
    // A server sends nothing after its offer until it heard the client: bytes that came with
    // it were put there by someone else, and must not pass for what the private connection said.
    if (framer.buffered() > 0 || controlSocket.bytesAvailable() > 0) {
        refuseConnection(QStringLiteral("*** Error : The other side sent more after its offer to go private - not "
                                        "connected"));
        return;
    }
    controlSocket.send(frame(QStringLiteral("tls:start")));
    if (!controlSocket.startTls(false)) {
        refuseConnection(QStringLiteral("*** Error : The private connection could not be started - not connected"));
        return;
    }
    privacyStep = PrivacyStep::Handshake;
    privacyTimer.start(limits.handshakeTimeoutMs);
}

void Session::onNoPrivateOffer()
{
    privacyStep = PrivacyStep::None;
    // Someone between the two could delete the offer: a site that went private before must
    // go private again.
    if (!ctx.knownPeers().siteKey(controlSocket.remoteHost(), controlSocket.remotePort()).isEmpty()) {
        refuseConnection(QStringLiteral("*** This peer connected privately before and does not now - not connected"));
        return;
    }
    if (ctx.settings.privateMode == PrivateMode::Always) {
        refuseConnection(QStringLiteral("*** The other side cannot make a private connection and private "
                                        "connections are set to always - not connected"));
        return;
    }
    authenticate();
    releaseHeld();
}

void Session::releaseHeld()
{
    heldChatBytes = 0;
    for (const QString& line : std::exchange(heldChat, {}))
        sendControlMessage(line);
}

bool Session::readSwitchRequest()
{
    // The client's handshake follows its request without a pause, so the request is read to
    // its last byte and not one byte further: the rest belongs to TLS.
    const QByteArray want = frame(QStringLiteral("tls:start"));
    const QByteArray more = controlSocket.take(want.size() - requestGot.size());
    if (more.isEmpty())
        return false;
    requestGot += more;
    if (!want.startsWith(requestGot)) {
        // Any other first message: a peer that logs in as plain peers do.
        privacyStep = PrivacyStep::None;
        framer.append(std::exchange(requestGot, {}));
        if (ctx.settings.privateMode == PrivateMode::Always) {
            refuseConnection(QStringLiteral("*** The other side cannot make a private connection and private "
                                            "connections are set to always - not connected"));
            return false;
        }
        releaseHeld();
        return true;
    }
    if (requestGot.size() < want.size())
        return true;
    requestGot.clear();
    privacyStep = PrivacyStep::Handshake;
    if (!controlSocket.startTls(true)) {
        refuseConnection(QStringLiteral("*** Error : The private connection could not be started - not connected"));
        return false;
    }
    privacyTimer.start(limits.handshakeTimeoutMs);
    return false;
}

void Session::onHandshakeTimeOut()
{
    refuseConnection(QStringLiteral("*** Error : The private connection was not made in time - not connected"));
}

void Session::onEncrypted()
{
    if (privacyStep != PrivacyStep::Handshake)
        return;
    privacyTimer.stop();
    peerKeyDer = controlSocket.peerPublicKey();
    code = Identity::connectionCode(ctx.identity().publicKey(), peerKeyDer);
    const QString proto = controlSocket.tlsProtocolName();
    KnownPeers& known = ctx.knownPeers();
    if (servingPeer) {
        // Remembered with its record once it logged in, so that strangers fill no entries.
        newIdentity = !known.knowsPeer(peerKeyDer);
    } else {
        const QString host = controlSocket.remoteHost();
        const quint16 port = controlSocket.remotePort();
        const QByteArray remembered = known.siteKey(host, port);
        newIdentity = remembered != peerKeyDer;
        if (!remembered.isEmpty() && newIdentity && !trustNewIdentity) {
            refusedKey = peerKeyDer;
            refusedHost = host;
            refusedPort = port;
            const QString refusedCode = code;
            refuseConnection(QStringLiteral("*** The other side's identity changed since the last connection - not "
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
    privacyStep = PrivacyStep::Private;
    if (newIdentity)
        ctx.addText(QStringLiteral("*** Private connection (%1) - connection code %2 - new identity, compare this "
                                   "code with your friend")
                        .arg(proto, code),
                    LineKind::Connect);
    else
        ctx.addText(QStringLiteral("*** Private connection (%1) - known identity").arg(proto), LineKind::Connect);
    Q_EMIT privacyChanged();
    if (!servingPeer)
        authenticate();
    releaseHeld();
    if (servingPeer && controlSocket.bytesAvailable() > 0)
        readMessages(); // a login that came with the end of the handshake
}

void Session::acceptChangedIdentity()
{
    if (refusedKey.isEmpty())
        return;
    KnownPeers& known = ctx.knownPeers();
    known.rememberSite(refusedHost, refusedPort, std::exchange(refusedKey, {}),
                       known.siteName(refusedHost, refusedPort));
    known.save();
    openConnection();
}

void Session::refuseConnection(const QString& line)
{
    ctx.addText(line, LineKind::Error);
    const bool wasServing = servingPeer;
    closeSocket();
    // A server goes on waiting for the next client; a client waits for its user.
    if (wasServing && !userDisconnected)
        open(true);
}

void Session::forgetPrivacy()
{
    const bool was = privacyStep == PrivacyStep::Private;
    privacyStep = PrivacyStep::None;
    privacyTimer.stop();
    requestGot.clear();
    peerKeyDer.clear();
    code.clear();
    newIdentity = false;
    peerNameRemembered = false;
    if (was)
        Q_EMIT privacyChanged();
}

void Session::rememberPeer()
{
    if (!isPrivate())
        return;
    KnownPeers& known = ctx.knownPeers();
    const QString name = ctx.remoteName.left(KnownPeers::MaxNameLength);
    const QString host = controlSocket.remoteHost();
    const quint16 port = controlSocket.remotePort();
    if (servingPeer ? known.knowsPeer(peerKeyDer) && known.peerName(peerKeyDer) == name
                    : known.siteName(host, port) == name)
        return;
    if (servingPeer)
        known.rememberPeer(peerKeyDer, name);
    else
        known.rememberSite(host, port, peerKeyDer, name);
    known.save();
}
