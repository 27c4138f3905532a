#pragma once
#include <QString>

// Text made fit to be one shown line. Lines go to the panes, to the transcript log and, in
// the headless peer, to standard output, where readers (people and scripts) take one line
// for one event; text from the peer must not be able to start a line of its own or to drive
// a terminal.
namespace LineText {

// text with every control character (C0, DEL, C1) and every character that shows nothing of
// its own or reorders the line (format characters such as the soft hyphen, zero-width and
// bidirectional controls, line separators, fillers) written out: "\r", "\n" and "\t" for CR,
// LF and tab, "\x" and two hex digits for the others up to U+00FF ("\x1b", "\x00", "\xad"),
// "\u" and four ("\u202e") or "\U" and eight ("\U000e0001") beyond. Everything else, a
// backslash included, stays as it is.
QString visible(const QString& text);

// How a "stat:" text from the peer is shown. This program's own lines begin with "*" (such as
// "*** " and "*QVDEBUG* : "), or with "[" when time stamps are on; a peer's text that begins
// so, or with a character drawn like them, after anything that looks blank (blanks, format
// and other invisible characters) keeps its "stat:" in front so that it cannot pass for one
// of them.
// Any other text is shown as it came.
QString peerStatus(const QString& text);

} // namespace LineText
