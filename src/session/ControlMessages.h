#pragma once
#include <QString>
#include <QStringList>

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
        RunMark,          // "frun": the next offer may open a run of files (extension)
        ChecksumQuestion, // "hashq:" + name|length (extension)
        ChecksumAnswer,   // "hasha:" + name|length|checksum (extension)
        PrivateOffer,     // "tls:offer": the server can go private (extension)
        PrivateStart,     // "tls:start": the client's TLS handshake follows (extension)
        Bye,              // "bye"
        FileOffer,        // "file:" + port|name|block|size
    };

    // The kind of a message by its text; Unknown when no entry matches.
    static Kind classify(const QString& text);
    // Answered by a server that requires a password before the client has logged in.
    static bool answeredBeforeLogin(Kind kind);
    // One of the extensions.
    static bool isExtension(Kind kind);

    // ---- what the messages carry, written and read in one place ----
    // The text after "uinfo:": name;email;age;homepage. A ";" in the first three fields
    // would shift the reading of the rest, so it becomes ","; the home page takes
    // everything after the third ";".
    static QString userInfo(const QString& name, const QString& email, const QString& age, const QString& homepage);
    // The four fields of a record; false when it has fewer.
    static bool parseUserInfo(const QString& record, QStringList& fields);
    // The words of a "caps:" that are among `known`, each once, in the order they came; only
    // the first maxChars characters are read, and unknown words take no room.
    static QStringList knownWords(const QString& words, const QStringList& known, qsizetype maxChars);
    // Exactly `count` lowercase hexadecimal digits: a token ("ftoken:") or a checksum.
    static bool isHexDigits(const QString& text, qsizetype count);
    // "hashq:" + name + "|" + length.
    static QString checksumQuestion(const QString& name, qint64 length);
    // The text after "hashq:"; false unless the length is a number of bytes.
    static bool parseChecksumQuestion(const QString& body, QString& name, qint64& length);
    // "hasha:" + name + "|" + length + "|" + checksum (empty when there is none).
    static QString checksumAnswer(const QString& name, qint64 length, const QString& checksum);
    // The text after "hasha:"; false unless the length is a number of bytes and the checksum
    // empty or 32 hexadecimal digits.
    static bool parseChecksumAnswer(const QString& body, QString& name, qint64& length, QString& checksum);
};
