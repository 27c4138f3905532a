#pragma once
#include <QPixmap>
#include <QString>

// The options dialog's small pictures of what a choice looks like on the desktop, drawn
// at 160 by 100 pixels.
namespace OptionsPictures {

// The main window minimized into the tray (true) or onto the task bar.
QPixmap tray(bool inTray);
// The main window with two panes (true) or one.
QPixmap layout(bool twoBoxes);
// The file catcher in its small or normal size, on top of the other windows or among them.
QPixmap catcher(bool small, bool onTop);
// A picture by its name: "MinTrayImg", "MinTaskImg", "OneBoxImg", "TwoBoxImg", "FCSWOTIMG",
// "FCSWIMG", "FCOTIMG", "FCFCIMG".
QPixmap named(const QString& name);

} // namespace OptionsPictures
