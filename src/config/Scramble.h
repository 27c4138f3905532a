#pragma once
#include <QByteArray>

// The scrambling shared by the control messages and the option file. It works on bytes
// (Windows-1252 codes); the length never changes.

// The fixed key every peer and every option file depends on.
inline constexpr char ScrambleKey[] = "KX37";

QByteArray EncryptText(const QByteArray& plain, const QByteArray& key = ScrambleKey);
QByteArray DecryptText(const QByteArray& scrambled, const QByteArray& key = ScrambleKey);
