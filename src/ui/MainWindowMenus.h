#pragma once

class QMainWindow;
class QMenu;
class QToolBar;
class QWidget;

// The main window's menus and toolbar: every entry and button, named so the window can route
// each to its command. The window owns the actions.
namespace MainWindowMenus {

// "&Connect", "&Tools", "&View" and "&Help" in the window's menu bar.
void fillMenuBar(QMainWindow& window);
// The panes' popup menu, ending in "Copy" and "Select All".
QMenu* makePopupMenu(QWidget& window);
// The tray icon's menu: "&Restore" and "&Exit Zantiro".
QMenu* makeTrayMenu(QWidget& window);
// The toolbar's buttons, with pictures from the desktop's icon theme.
QToolBar* makeToolbar(QWidget* parent);

} // namespace MainWindowMenus
