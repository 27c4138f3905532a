#pragma once
#include <QByteArray>
#include <QString>

// The wire and the option file carry 8-bit Windows-1252 text. These two functions convert
// at the edge. The mapping is a bijection over all 256 byte values: the five codes that
// Windows-1252 leaves undefined map to the C1 control characters of the same number, as
// Windows itself does, so bytes survive a decode/encode round trip unchanged.
namespace Windows1252 {

QString decode(const QByteArray& bytes);

// Characters that Windows-1252 cannot hold become `replacement`.
QByteArray encode(const QString& text, char replacement = '?');

// True when every character of text has a Windows-1252 code.
bool representable(const QString& text);

} // namespace Windows1252
