#pragma once
#include <QByteArray>

// The scrambling shared by the control messages and the option file. It works on bytes
// (Windows-1252 codes); the length never changes.

// The fixed key every peer and every option file depends on.
inline constexpr char ScrambleKey[] = "KX37";

QByteArray scramble(const QByteArray& plain, const QByteArray& key = ScrambleKey);
QByteArray unscramble(const QByteArray& scrambled, const QByteArray& key = ScrambleKey);

// Codes are shifted modulo 255, so byte 255 ("ÿ") cannot pass: it comes out as 0. Text that
// is scrambled may hold Windows-1252 characters other than "ÿ".
bool isScramblable(const QString& text);
// The Windows-1252 bytes of text for scrambling: "ÿ" and characters outside Windows-1252
// become `replacement`.
QByteArray scramblableBytes(const QString& text, char replacement = '?');
