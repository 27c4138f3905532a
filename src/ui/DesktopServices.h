#pragma once
#include <QString>

#include <functional>

class QWidget;

// Desktop services the program uses: the help pages, links, the folder picker and the
// always-on-top state of a window.

// Opens help page number `topic` in the help window (one window, reused).
void showHelpTopic(int topic, QWidget* owner = nullptr);
// Opens a web address or "mailto:" link with the user's default handler; a failure is told
// in a message box "Open Link".
void openLink(const QString& link, QWidget* owner = nullptr);
// The chosen folder, or empty text when the user cancels. This one blocks in a modal
// dialog; windows that can be closed under it (by a transfer ending) use the form below.
QString browseForFolder(const QString& initialFolder, QWidget* owner);
// The same without blocking: `chosen` runs with the folder once the user confirms, never on
// cancel, and never after `owner` is gone.
void browseForFolder(const QString& initialFolder, QWidget* owner, std::function<void(const QString&)> chosen);
// Puts a window above all others or back among them, keeping its place and size.
void setAlwaysOnTop(QWidget* window, bool onTop);
