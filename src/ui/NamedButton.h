#pragma once
class QPushButton;
class QString;
class QWidget;

// A button named for tests and style sheets that does not take Enter from a text box (only
// the dialog's default button does).
QPushButton* namedButton(const char* name, const QString& caption, QWidget* parent);
