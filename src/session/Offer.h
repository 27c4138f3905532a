#pragma once
#include <QString>

// The four fields of a file offer, "file:" + port + "|" + name + "|" + block + "|" + size,
// as text: the session only carries them; the transfer side checks what they hold.
struct Offer {
    QString port;
    QString name;
    QString block;
    QString size;
    // The message text (with the "file:" prefix).
    QString message() const;
    // Splits the text after "file:" at the first three "|"; false when there are fewer.
    static bool parse(const QString& body, Offer& offer);
};
