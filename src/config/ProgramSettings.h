#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

// Whether connections to and from other Zantiro peers are made private: when the peer can
// (Auto), always (Always: no connection without), or never.
enum class PrivateMode { Auto, Always, Never };

// The program's own settings for what two Zantiro peers add to the plain protocol, in
// "zantiro.ini" beside the option file (which keeps its fixed layout). The file is UTF-8
// text, one "key=value" a line (spaces around key and value ignored); lines starting with
// "#" or ";" are comments. Known keys:
//
//   private-connections=auto|always|never
//
// Every other line (comments, unknown keys, sections) is kept and written back unchanged.
// A value that names no mode reads as the default and is written back as it was found
// while the setting stays at that default.
class ProgramSettings {
public:
    // At most this much of the file is read; a larger file is not written over.
    static constexpr qint64 MaxFileSize = qint64(1) << 20;

    explicit ProgramSettings(const QString& programFolder);
    static QString filePath(const QString& programFolder); // "zantiro.ini"

    // Reads the file; a missing file gives the defaults. False with `problem` set when it
    // cannot be read (the defaults are then used). True with `problem` set for a value it
    // does not understand or a file larger than MaxFileSize (its beginning was used).
    bool load(QString* problem = nullptr);
    // Writes the file atomically. Refused (false, `problem` set) when a file is there that
    // the last load() did not read completely, so nothing in it is lost.
    bool save(QString* problem = nullptr) const;

    PrivateMode privateMode = PrivateMode::Auto;

    static QString modeName(PrivateMode mode);                     // "auto" "always" "never"
    static bool parseMode(const QString& text, PrivateMode& mode); // false for another text

private:
    QString path;
    QList<QByteArray> lines;        // the file's lines as read, without line ends
    qsizetype modeLine = -1;        // index in lines of the private-connections line used
    QByteArray unknownMode;         // the value text that named no mode, to write back
    mutable bool readWhole = false; // the last load() read the whole file (or there was none)
};
