#include "session/Session.h"

#include "core/LineText.h"
#include "core/PeerState.h"
#include "core/SocketErrorReport.h"
#include "session/Offer.h"

#include <QTime>

#include <cmath>
#include <utility>

namespace {

float secondsSinceMidnight()
{
    return static_cast<float>(QTime::currentTime().msecsSinceStartOfDay()) / 1000.0f;
}

// 0.05, 0.5, 1: two decimals at most, no trailing zeros.
QString shortNumber(float value)
{
    QString s = QString::number(std::round(static_cast<double>(value) * 100.0) / 100.0, 'f', 2);
    while (s.endsWith('0'))
        s.chop(1);
    if (s.endsWith('.'))
        s.chop(1);
    return s == QLatin1String("-0") ? QStringLiteral("0") : s;
}

} // namespace

bool Session::parseControlPort(const QString& text, quint16& port)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (QChar c : text)
        if (c < '0' || c > '9')
            return false;
    const int value = text.toInt();
    if (value < 1 || value > 65533)
        return false;
    port = static_cast<quint16>(value);
    return true;
}

Session::Session(PeerState& context)
    : ctx(context), answers(context, limits, controlSocket), extensions(context, *this, limits, extensionsOn),
      privacy(context, *this, controlSocket, framer, limits, extensionsOn, trustNewIdentity),
      logins(context, *this, limits, passwordThrottle, controlSocket)
{
    connect(&extensions, &SessionExtensions::changed, this, &Session::extensionsChanged);
    connect(&extensions, &SessionExtensions::checksumAsked, this, &Session::checksumAsked);
    connect(&extensions, &SessionExtensions::checksumAnswered, this, &Session::checksumAnswered);
    connect(&privacy, &SessionPrivacy::changed, this, &Session::privacyChanged);
    connect(&privacy, &SessionPrivacy::identityRefused, this, &Session::identityRefused);
    loginTimer.setSingleShot(true);
    reconnectTimer.setSingleShot(true);
    pauseTimer.setSingleShot(true);
    byeCloseTimer.setSingleShot(true);
    admitTimer.setSingleShot(true);
    readTimer.setSingleShot(true);
    readTimer.setInterval(0);
    connect(&readTimer, &QTimer::timeout, this, [this] { readMessages(); });
    connect(&loginTimer, &QTimer::timeout, this, &Session::finishLogin);
    connect(&reconnectTimer, &QTimer::timeout, this, &Session::onReconnectTick);
    connect(&pauseTimer, &QTimer::timeout, this, &Session::onPauseOver);
    connect(&byeCloseTimer, &QTimer::timeout, this, &Session::onByeCloseOver);
    connect(&admitTimer, &QTimer::timeout, this, &Session::onAdmitTimeOut);

    connect(&controlSocket, &EventSocket::connected, this, &Session::onConnected);
    connect(&controlSocket, &EventSocket::connectionRequest, this, &Session::onConnectionRequest);
    connect(&controlSocket, &EventSocket::dataArrived, this, &Session::onDataArrived);
    connect(&controlSocket, &EventSocket::closed, this, &Session::onClosed);
    connect(&controlSocket, &EventSocket::error, this, &Session::onSocketError);
}

Session::~Session() = default;

Session::State Session::connectionState() const
{
    switch (controlSocket.state()) {
    case EventSocket::Listening:
    case EventSocket::ConnectionPending:
        return State::Listening;
    case EventSocket::ResolvingHost:
    case EventSocket::HostResolved:
    case EventSocket::Connecting:
        return State::Connecting;
    case EventSocket::Connected:
        return byeCloseTimer.isActive() ? State::Closing : State::Connected;
    case EventSocket::PeerClosing:
        return State::Closing;
    default:
        return State::Idle;
    }
}

bool Session::peerAuthorised() const
{
    return !servingPeer || clientAuthorised || !ctx.options.requirePassword;
}

void Session::closeSocket()
{
    controlSocket.close();
    loginTimer.stop();
    byeCloseTimer.stop();
    admitTimer.stop();
    dropHeldChat();
    framer.clear();
    readTimer.stop();
    answers.reset();
    clientAuthorised = false;
    servingPeer = false;
    // Answers still waiting belong to this connection; the failures stay with the address.
    logins.forget();
    extensions.forget();
    privacy.forget();
    ++generation;
    Q_EMIT connectionStateChanged(State::Idle);
}

void Session::openConnection()
{
    open(false);
}

void Session::open(bool retrying)
{
    quint16 port = 0;
    if (!parseControlPort(ctx.connectionPort, port)) {
        ctx.addText(QStringLiteral("*** Error : Invalid Port \"%1\" - the port must be a number from 1 to 65533 "
                                   "(the two ports above it carry file transfers)")
                        .arg(ctx.connectionPort),
                    LineKind::Error);
        return;
    }
    const bool client = ctx.connectionMode == ConnectionMode::Client;
    if (!client && ctx.connectionMode != ConnectionMode::Server) {
        ctx.addText(QStringLiteral("*** Error : Unknown Connection Type \"%1\" - choose Client or Server")
                        .arg(connectionModeName(ctx.connectionMode)),
                    LineKind::Error);
        return;
    }
    reconnectTimer.stop();
    pauseTimer.stop();
    if (controlSocket.state() != EventSocket::Closed)
        closeSocket();
    controlSocket.readBufferSize = limits.readChunk;

    // Streams that may switch to TLS before the login; none when this side never goes private.
    controlSocket.setTls(privacy.allowed() ? privacy.tlsConfiguration() : QSslConfiguration());
    controlSocket.exactReads = true;
    if (client) {
        controlSocket.setRemoteHost(ctx.connectionHost);
        controlSocket.setRemotePort(port);
        ctx.addText(QStringLiteral("*** Connecting on Port : ") + ctx.connectionPort, LineKind::Connect);
        controlSocket.connectToPeer();
    } else {
        controlSocket.setListenAddress(ctx.listenAddress);
        controlSocket.setLocalPort(port);
        ctx.addText(QStringLiteral("*** Waiting on Port : ") + ctx.connectionPort, LineKind::Connect);
        if (!controlSocket.listen()) {
            // Retries report a lasting failure (another program holds the port) once.
            if (!retrying || !listenErrorShown)
                reportSocketError(ctx, controlSocket.lastErrorNumber(), controlSocket.lastErrorText(), {}, {},
                                  QStringLiteral("FN: base.connectit()"));
            listenErrorShown = true;
            closeSocket();
            if (retrying)
                armReconnect();
            return;
        }
        listenErrorShown = false;
    }
    userDisconnected = false;
}

void Session::onConnectionRequest(int requestId)
{
    closeSocket(); // stops listening: the server serves exactly one peer
    controlSocket.readBufferSize = limits.readChunk;
    controlSocket.accept(requestId);
    servingPeer = true;
    if (controlSocket.state() == EventSocket::Connected) {
        ctx.addText(QStringLiteral("*** User Connected."), LineKind::Connect);
        Q_EMIT connectionStateChanged(State::Connected);
        // A client that never logs in must not hold the only connection for good.
        if (ctx.options.requirePassword)
            admitTimer.start(limits.loginTimeoutMs);
        privacy.startAsServer();
    }
}

void Session::onConnected()
{
    Q_EMIT connectionStateChanged(State::Connected);
    ctx.addText(QStringLiteral("*** Connected"), LineKind::Connect);
    privacy.beginClientSide();
}

void Session::authenticate()
{
    ctx.loginAnswer = LoginAnswer::None;
    sendControlMessage(QStringLiteral("PAuth:") + ctx.connectionPassword);
    loginTimer.start(limits.loginTimeoutMs);
}

void Session::finishLogin()
{
    loginTimer.stop();
    switch (ctx.loginAnswer) {
    case LoginAnswer::Accepted:
        ctx.addText(QStringLiteral("*** Login Authenticated"), LineKind::Connect);
        sendUserInfo();
        extensions.announce();
        for (const QString& line : std::exchange(heldChat, {}))
            sendControlMessage(line);
        heldChatBytes = 0;
        Q_EMIT loggedIn();
        return;
    case LoginAnswer::Refused:
        ctx.addText(QStringLiteral("*** Login Failed (Bad Password)"), LineKind::Connect);
        break;
    default:
        ctx.addText(QStringLiteral("*** Login Failed (Timed Out)"), LineKind::Connect);
        break;
    }
    dropHeldChat();
    if (!isConnected())
        return;
    // The server closes on "bye"; one that does not is not waited for long, and nothing
    // more goes out meanwhile.
    sendControlMessage(QStringLiteral("bye"));
    byeCloseTimer.start(limits.byeCloseMs);
}

void Session::onByeCloseOver()
{
    ctx.addText(QStringLiteral("*** Disconnected"), LineKind::Connect);
    closeSocket();
    armReconnect();
}

void Session::holdChat(const QString& text)
{
    if (heldChat.size() >= limits.maxHeldChatLines || heldChatBytes + text.size() > limits.maxHeldChatBytes) {
        ctx.addText(QStringLiteral("*** Not Sent (Waiting For Login) : 1 chat line(s)"), LineKind::Status);
        return;
    }
    heldChat.append(text);
    heldChatBytes += text.size();
}

void Session::dropHeldChat()
{
    if (heldChat.isEmpty())
        return;
    const qsizetype n = heldChat.size();
    heldChat.clear();
    heldChatBytes = 0;
    ctx.addText(QStringLiteral("*** Not Sent (Login Failed) : %1 chat line(s)").arg(n), LineKind::Status);
}

void Session::releaseHeld()
{
    heldChatBytes = 0;
    for (const QString& line : std::exchange(heldChat, {}))
        sendControlMessage(line);
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

void Session::onAdmitTimeOut()
{
    if (!visitorOnly() || peerAuthorised())
        return;
    ctx.addText(QStringLiteral("*** User Did Not Log In (Timed Out)"), LineKind::Connect);
    sendControlMessage(QStringLiteral("bye"));
    closeSocket();
    afterLoss(true);
}

void Session::onDataArrived()
{
    if (!readTimer.isActive()) // else the work in progress gets to it
        readMessages();
}

void Session::readMessages(bool unbounded)
{
    const quint64 gen = generation;
    framer.maxMessageBytes = limits.maxMessageBytes;
    qsizetype done = 0;
    while (unbounded || done < limits.turnBytes) {
        QByteArray plain;
        qsizetype used = 0;
        switch (framer.next(plain, used)) {
        case ControlFramer::Step::TooLong:
            cutOff();
            return;
        case ControlFramer::Step::NeedMore: {
            if (privacy.awaitingRequest()) {
                if (!privacy.readSwitchRequest())
                    return;
                break;
            }
            const QByteArray more = controlSocket.take(limits.readChunk);
            if (more.isEmpty())
                return; // the next dataArrived goes on
            framer.append(more);
            done += more.size();
            break;
        }
        case ControlFramer::Step::Message:
            done += used;
            handleControlMessage(ControlFramer::decode(plain, extensions.readsUtf8()));
            if (gen != generation)
                return; // the message closed the connection; what is left belongs to it
            if (privacy.inHandshake())
                return; // what follows is TLS, read once the handshake is done
            break;
        }
    }
    readTimer.start(); // the rest after whatever else waits
}

void Session::cutOff()
{
    ctx.addText(QStringLiteral("*** Error : The other side sent more than %1 bytes without ending "
                               "its message - connection closed")
                    .arg(limits.maxMessageBytes),
                LineKind::Error);
    const bool visitor = visitorOnly();
    closeSocket();
    afterLoss(visitor);
}

void Session::sendControlMessage(const QString& text)
{
    if (!isConnected())
        return;
    // Nothing goes out in the clear while the connection may still go private; the lines wait
    // for the decision.
    if (privacy.undecided() && text != QLatin1String("tls:offer") && text != QLatin1String("bye")) {
        holdChat(text);
        return;
    }
    if (loginPending() && text.startsWith(QLatin1String("msg:"))) {
        holdChat(text);
        return;
    }
    if (!extensions.sendsUtf8() && text.startsWith(QLatin1String("msg:")))
        extensions.noteUnsendable(text);
    controlSocket.send(frame(text, extensions.sendsUtf8()));
}

void Session::sendChat(const QString& line)
{
    ctx.addText(QStringLiteral("<") + ctx.options.myName + QStringLiteral("> ") + line, LineKind::Message);
    sendControlMessage(QStringLiteral("msg:") + line);
}

void Session::sendUserInfo()
{
    // An older option file may still hold a ";" in a field; the record is written so that
    // the peer reads the fields as they are meant.
    const Options& o = ctx.options;
    sendControlMessage(ControlMessages::userInfo(o.myName, o.myEmail, o.myAge, o.myHomePage));
}

void Session::handleControlMessage(const QString& text)
{
    using Kind = ControlMessages::Kind;
    const Kind kind = ControlMessages::classify(text);
    if (privacy.awaitingOffer() && kind != Kind::PrivateOffer) {
        // A server that speaks before it offers to go private never will: it is a plain one.
        const quint64 gen = generation;
        privacy.onNoOffer();
        if (gen != generation)
            return;
    }
    // Until a server that requires a password has accepted the client's, it answers only
    // the login, a ping and a goodbye.
    if (!peerAuthorised() && !ControlMessages::answeredBeforeLogin(kind))
        return;
    if (ControlMessages::isExtension(kind)) {
        if (!extensionsOn)
            return;
        if (kind == Kind::PrivateOffer)
            privacy.onOffer();
        else
            extensions.handle(kind, text);
        return;
    }
    switch (kind) {
    case Kind::TransferNotice:
        Q_EMIT transferMessage(text);
        break;
    case Kind::LoginAnswer:
        onLoginAnswer(text == QLatin1String("PSOK"));
        break;
    case Kind::Login:
        if (admitAnswer())
            logins.take(text.mid(6));
        break;
    case Kind::Chat:
        ctx.addText(QStringLiteral("<") + ctx.remoteName + QStringLiteral("> ") + text.mid(4), LineKind::Message);
        break;
    case Kind::Ping:
        onPing();
        break;
    case Kind::PingReply:
        onPingReply();
        break;
    case Kind::PeerStatus:
        if (admitAnswer())
            ctx.addText(LineText::peerStatus(text.mid(5)), LineKind::Status);
        break;
    case Kind::UserInfo:
        onUserInfo(text.mid(6));
        break;
    case Kind::Bye:
        onBye();
        break;
    case Kind::FileOffer:
        onFileOffer(text.mid(5));
        break;
    default:
        break;
    }
}

void Session::onLoginAnswer(bool accepted)
{
    ctx.loginAnswer = accepted ? LoginAnswer::Accepted : LoginAnswer::Refused;
    if (loginTimer.isActive())
        finishLogin();
}

void Session::onPing()
{
    if (!admitAnswer())
        return;
    ctx.addText(QStringLiteral("*** Received Ping"), LineKind::Connect);
    sendControlMessage(QStringLiteral("gotping"));
}

void Session::onPingReply()
{
    if (!admitAnswer())
        return;
    float elapsed = secondsSinceMidnight() - pingSeconds;
    if (elapsed < 0)
        elapsed += 86400.0f; // the reply came after midnight
    pingSeconds = elapsed / 2.0f;
    ctx.addText(QStringLiteral("*** Ping Reply  : ") + shortNumber(pingSeconds) + QStringLiteral(" Sec"),
                LineKind::Connect);
}

void Session::onUserInfo(const QString& record)
{
    QStringList f;
    if (!ControlMessages::parseUserInfo(record, f))
        return; // not a well-formed record
    ctx.remoteName = f[0];
    ctx.remoteEmail = f[1];
    ctx.remoteAge = f[2];
    ctx.remoteHomepage = f[3];
    Q_EMIT remoteInfoChanged();
    privacy.recordArrived();
    if (admitAnswer())
        ctx.addText(QStringLiteral("*** Remote User Info Change (") + ctx.remoteName + ')', LineKind::Connect);
}

void Session::onBye()
{
    ctx.addText(QStringLiteral("*** User Disconnected"), LineKind::Connect);
    const bool visitor = visitorOnly();
    closeSocket();
    afterLoss(visitor);
}

void Session::onFileOffer(const QString& body)
{
    Offer offer;
    extensions.offerArrived();
    if (userDisconnected)
        return; // our "bye" is out: no transfer starts on a connection that is going away
    if (!Offer::parse(body, offer))
        return; // not a well-formed offer
    Q_EMIT fileOffered(offer.name, offer.size, offer.block, controlSocket.remoteHostIP(), offer.port);
}

void Session::letClientIn()
{
    // Every login is answered, but only the first of a connection brings the peers together:
    // a peer that logs in again cannot restart a queue the user stopped.
    const bool firstLogin = !std::exchange(clientAuthorised, true);
    admitTimer.stop();
    sendControlMessage(QStringLiteral("PSOK"));
    ctx.addText(QStringLiteral("*** User Authenticated"), LineKind::Connect);
    sendUserInfo();
    extensions.announce();
    if (firstLogin)
        Q_EMIT loggedIn();
}

void Session::onClosed()
{
    // What the peer sent before it closed comes first; the socket holds at most limits.readChunk
    // of it.
    const quint64 gen = generation;
    readMessages(true);
    if (gen != generation)
        return;
    if (controlSocket.closedByReset()) {
        onSocketError(10054, QStringLiteral("Connection reset by peer"));
        return;
    }
    ctx.addText(QStringLiteral("*** Disconnected"), LineKind::Connect);
    const bool visitor = visitorOnly();
    closeSocket();
    afterLoss(visitor);
}

void Session::onSocketError(int number, const QString& description)
{
    const bool visitor = visitorOnly();
    closeSocket();
    reportSocketError(ctx, number, description, {}, {}, QStringLiteral("FN: base.Sock_Error"));
    afterLoss(visitor);
}

void Session::afterLoss(bool visitor)
{
    if (visitor && !userDisconnected)
        open(true); // no session took place: wait for the next client at once
    else
        armReconnect();
}

void Session::armReconnect()
{
    if (ctx.options.autoReconnect && !userDisconnected)
        reconnectTimer.start(limits.reconnectDelayMs);
}

void Session::onReconnectTick()
{
    if (controlSocket.state() != EventSocket::Closed || userDisconnected || !ctx.options.autoReconnect)
        return;
    ctx.addText(QStringLiteral("*** Attempting To Reconnect In 5 Seconds."), LineKind::Connect);
    pauseTimer.start(limits.reconnectPauseMs);
}

void Session::onPauseOver()
{
    // A Disconnect or a new connection made during the pause wins over the reconnection.
    if (controlSocket.state() == EventSocket::Closed && !userDisconnected)
        open(true);
}

void Session::disconnectFromPeer()
{
    ctx.setTransferEndCode(TransferEndCode::Disconnected);
    reconnectTimer.stop();
    pauseTimer.stop();
    if (isConnected()) {
        sendControlMessage(QStringLiteral("bye"));
    } else {
        closeSocket();
    }
    userDisconnected = true;
}

void Session::dropForConnect()
{
    reconnectTimer.stop();
    pauseTimer.stop();
    closeSocket();
}

void Session::sendPing()
{
    if (!isConnected()) {
        ctx.addText(QStringLiteral("*** Not Connected"), LineKind::Status);
        return;
    }
    pingSeconds = secondsSinceMidnight();
    ctx.addText(QStringLiteral("*** Pinging Other User"), LineKind::Connect);
    sendControlMessage(QStringLiteral("ping"));
}

void Session::acceptChangedIdentity()
{
    if (privacy.acceptChangedIdentity())
        openConnection();
}
