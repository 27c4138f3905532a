#pragma once
#include <QString>

class QWidget;

// Desktop services the program uses: the help pages, links, the folder picker and the
// always-on-top state of a window.

// Opens help page number `topic` in the help window (one window, reused).
void ShowHelpTopic(int topic, QWidget* owner = nullptr);
// Opens a web address or "mailto:" link with the user's default handler; a failure is told
// in a message box "ExecuteLink".
void ExecuteLink(const QString& link, QWidget* owner = nullptr);
// The chosen folder, or empty text when the user cancels.
QString BrowseForFolder(const QString& initialFolder, QWidget* owner);
// Puts a window above all others or back among them, keeping its place and size.
void MakeTopMost(QWidget* window);
void MakeNormal(QWidget* window);
