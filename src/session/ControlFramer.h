#pragma once
#include <QByteArray>
#include <QString>

// The framing of the control connection, apart from any socket: every message travels
// scrambled and ends with Terminator. Bytes are appended as they arrive, however the
// connection cuts them, and taken off the front one message at a time. A message may be at
// most maxMessageBytes long; a peer that sends more without a terminator is too long.
class ControlFramer {
public:
    // The terminator that ends every control message on the wire.
    static inline const QByteArray Terminator = QByteArrayLiteral("{\xBF}");

    enum class Step {
        Message,  // a whole message was taken
        NeedMore, // no terminator yet: more bytes are needed
        TooLong,  // the message runs past maxMessageBytes
    };

    qsizetype maxMessageBytes = 1 << 20;

    void append(const QByteArray& bytes) { inbox += bytes; }
    // Takes the next message off the front: on Step::Message, `plain` is its unscrambled
    // bytes and `used` how many bytes it took on the wire, terminator included.
    Step next(QByteArray& plain, qsizetype& used);
    // Forgets whatever arrived and was not taken (the connection ended).
    void clear();
    qsizetype buffered() const { return inbox.size(); }

    // Wire form of one message: scrambled text and terminator; the text in Windows-1252
    // (characters it cannot carry become "?"), or in UTF-8 once "enc:utf8" switched the
    // direction.
    static QByteArray frame(const QString& text, bool utf8 = false);
    // The text of an unscrambled message, read as Windows-1252 or as UTF-8.
    static QString decode(const QByteArray& plain, bool utf8 = false);

private:
    QByteArray inbox;       // received bytes not yet framed
    qsizetype scanFrom = 0; // where the next terminator search starts
};
