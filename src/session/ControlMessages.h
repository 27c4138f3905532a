#pragma once
#include <QString>

// The table of control messages this program knows. Each is named by its whole text or by
// a prefix; the table says which a server that requires a password answers before the
// client has logged in, and which belong to the extensions two peers of this program agree
// on (docs/protocol.md), which a side with extensions off leaves alone.
class ControlMessages {
public:
    enum class Kind {
        Unknown,          // none of the below: ignored
        TransferNotice,   // "FTIMEOUT", "CANC_TRAN", "HaveFile": for the transfer side
        LoginAnswer,      // "PSOK", "PSBAD"
        Login,            // "PAuth:" + password
        Chat,             // "msg:" + line
        Ping,             // "ping"
        PingReply,        // "gotping"
        PeerStatus,       // "stat:" + text
        UserInfo,         // "uinfo:" + name;email;age;homepage
        Capabilities,     // "caps:" + words (extension)
        Utf8Switch,       // "enc:utf8" (extension)
        FileToken,        // "ftoken:" + 32 hex digits (extension)
        ChecksumQuestion, // "hashq:" + name|length (extension)
        ChecksumAnswer,   // "hasha:" + name|length|checksum (extension)
        Bye,              // "bye"
        FileOffer,        // "file:" + port|name|block|size
    };

    // The kind of a message by its text; Unknown when no entry matches.
    static Kind classify(const QString& text);
    // Answered by a server that requires a password before the client has logged in.
    static bool answeredBeforeLogin(Kind kind);
    // One of the extensions.
    static bool isExtension(Kind kind);
};
