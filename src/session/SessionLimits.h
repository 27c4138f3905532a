#pragma once
#include <QtGlobal>

// The bounds of the session's waits and of what a peer may send, shortened by tests.
struct SessionLimits {
    int loginTimeoutMs = 61000;
    int reconnectDelayMs = 500;
    int reconnectPauseMs = 5000;
    // After a failed login the client says "bye" and gives the server this long to close
    // before it closes the connection itself.
    int byeCloseMs = 2000;
    // Chat lines sent while the login is pending wait for its answer, within these bounds.
    int maxHeldChatLines = 100;
    qsizetype maxHeldChatBytes = 1 << 20;
    // A peer that sends more than this without a message end is cut off.
    qsizetype maxMessageBytes = 1 << 20;
    // The control connection is read this much at a time, and at most about turnBytes are
    // read and handled per turn of the event loop; the rest waits in the system, whose
    // window then slows the sender down. Applies to connections made afterwards.
    qint64 readChunk = qint64(64) * 1024;
    qsizetype turnBytes = qsizetype(256) * 1024;
    // Answers to pings and logins, ping replies, "stat:" and "uinfo:" lines and file offers:
    // at most answerRate a second, in bursts of up to answerBurst. What comes faster is left
    // out, as is all of it while more than maxUnsentBytes wait to go out (a peer that does
    // not read). Chat lines are never left out.
    double answerRate = 200;
    double answerBurst = 200;
    qint64 maxUnsentBytes = 1 << 20;
    // Server: logins sent while earlier answers wait are answered in turn, at most this many
    // waiting.
    int maxWaitingLogins = 16;
    // After the login the peer's "caps:" is awaited this long before offers go out without
    // knowing it (a plain peer sends none).
    int capsWaitMs = 1000;
    // Of a "caps:" only the first this many characters are read for words.
    qsizetype maxCapsChars = qsizetype(16) * 1024;
    // Client: how long it waits for a server's offer to go private before it logs in as
    // with a plain peer; either side: how long the TLS handshake may take.
    int privateOfferWaitMs = 1000;
    int handshakeTimeoutMs = 20000;
    // Client: the wait for the offer of a site that went private before, which must offer.
    int rememberedOfferWaitMs = 10000;
};
