#include "ui/MainWindowMenus.h"

#include <QAction>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QToolBar>

namespace {

// An addEntry named for the window's command routing; the window owns the action.
QAction* addEntry(QWidget& window, QMenu* menu, const char* name, const QString& caption)
{
    auto* a = new QAction(caption, &window);
    a->setObjectName(QLatin1String(name));
    menu->addAction(a);
    return a;
}

} // namespace

namespace MainWindowMenus {

void fillMenuBar(QMainWindow& window)
{
    QMenuBar* bar = window.menuBar();
    auto menu = [&](const char* name, const QString& caption) {
        QMenu* m = bar->addMenu(caption);
        m->setObjectName(QLatin1String(name));
        return m;
    };
    QMenu* file = menu("mnu_file", QStringLiteral("&Connect"));
    addEntry(window, file, "mnu_svrlist", QStringLiteral("&Server Manager"));
    addEntry(window, file, "mnu_Connect", QStringLiteral("Quick &Connect"));
    addEntry(window, file, "mnu_dc", QStringLiteral("&Disconnect"));
    addEntry(window, file, "mnu_exit", QStringLiteral("&Exit"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QMenu* tools = menu("mnu_Tools", QStringLiteral("&Tools"));
    addEntry(window, tools, "mnu_sndfile", QStringLiteral("&Send File(s) Or A Folder"));
    addEntry(window, tools, "mnu_msg", QStringLiteral("Sen&d A Message"));
    addEntry(window, tools, "mnu_getip", QStringLiteral("&Get Local I.P."));
    addEntry(window, tools, "mnu_Ping", QStringLiteral("&Ping"));
    addEntry(window, tools, "mnu_clear", QStringLiteral("&Clear Text"));
    QMenu* view = menu("mnu_view", QStringLiteral("&View"));
    addEntry(window, view, "mnu_catcher", QStringLiteral("S&how File Catcher"));
    addEntry(window, view, "mnu_queue", QStringLiteral("Sho&w File Queue"));
    addEntry(window, view, "mnu_remui", QStringLiteral("&Show Remote User Info"));
    addEntry(window, view, "mnu_Opt", QStringLiteral("&Options"));
    QMenu* help = menu("mnu_help", QStringLiteral("&Help"));
    addEntry(window, help, "mnu_Help2", QStringLiteral("He&lp"))->setShortcut(QKeySequence::HelpContents);
    addEntry(window, help, "mnu_about", QStringLiteral("&About"));
}

QMenu* makePopupMenu(QWidget& window)
{
    auto* popupMenu = new QMenu(QStringLiteral("PopUp"), &window);
    popupMenu->setObjectName(QStringLiteral("mnu_Pop"));
    addEntry(window, popupMenu, "pop_conn", QStringLiteral("Quick Connect"));
    addEntry(window, popupMenu, "pop_dc", QStringLiteral("Disconnect"));
    addEntry(window, popupMenu, "pop_svrlist", QStringLiteral("Server Manager"));
    popupMenu->addSeparator();
    addEntry(window, popupMenu, "pop_get", QStringLiteral("Get Local I.P."));
    addEntry(window, popupMenu, "pop_ping", QStringLiteral("Ping"));
    addEntry(window, popupMenu, "pop_clear", QStringLiteral("Clear Text"));
    addEntry(window, popupMenu, "pop_remui", QStringLiteral("View Remote User Info"));
    popupMenu->addSeparator();
    addEntry(window, popupMenu, "pop_queue", QStringLiteral("Show File Queue"));
    addEntry(window, popupMenu, "pop_catcher", QStringLiteral("Show File Catcher"));
    addEntry(window, popupMenu, "pop_file", QStringLiteral("Send A File"));
    addEntry(window, popupMenu, "pop_msg", QStringLiteral("Send A Message"));
    popupMenu->addSeparator();
    addEntry(window, popupMenu, "pop_opt", QStringLiteral("Options"));
    addEntry(window, popupMenu, "pop_help", QStringLiteral("Help"));
    popupMenu->addSeparator();
    // What a text view is expected to offer; the window connects them to the pane under the menu.
    addEntry(window, popupMenu, "pop_copy", QStringLiteral("Copy"));
    addEntry(window, popupMenu, "pop_selectall", QStringLiteral("Select All"));
    return popupMenu;
}

QMenu* makeTrayMenu(QWidget& window)
{
    auto* trayMenu = new QMenu(QStringLiteral("&Tray Icon"), &window);
    trayMenu->setObjectName(QStringLiteral("mnu_tray"));
    addEntry(window, trayMenu, "mnu_restore", QStringLiteral("&Restore"));
    addEntry(window, trayMenu, "mnu_trayexit", QStringLiteral("&Exit Zantiro"));
    return trayMenu;
}

QToolBar* makeToolbar(QWidget* parent)
{
    auto* toolbar = new QToolBar(parent);
    toolbar->setObjectName(QStringLiteral("Toolbar1"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setIconSize(QSize(24, 24));
    // Pictures from the desktop's icon theme, with the style's own as the fallback on a bare system.
    const struct {
        const char* key;
        const char* tip;
        const char* themed;
        QStyle::StandardPixmap icon;
    } buttons[] = {
        {"ServerList", "Server List", "network-server", QStyle::SP_DirHomeIcon},
        {"Connect", "Quick Connect", "network-connect", QStyle::SP_MediaPlay},
        {"Disconnect", "Disconnect", "network-disconnect", QStyle::SP_MediaStop},
        {"Options", "Options", "preferences-system", QStyle::SP_FileDialogDetailedView},
        {"Clean", "Clear Text", "edit-clear", QStyle::SP_DialogResetButton},
        {"GetIp", "Get I.P.", "network-wired", QStyle::SP_ComputerIcon},
        {"Ping", "Ping", "view-refresh", QStyle::SP_BrowserReload},
        {"Msg", "Send A Message", "mail-message-new", QStyle::SP_MessageBoxInformation},
        {"Send", "Send A File", "document-send", QStyle::SP_ArrowUp},
        {"Help", "Help", "help-contents", QStyle::SP_MessageBoxQuestion},
    };
    for (const auto& b : buttons) {
        const QIcon icon = QIcon::fromTheme(QLatin1String(b.themed), parent->style()->standardIcon(b.icon));
        QAction* a = toolbar->addAction(icon, QLatin1String(b.tip));
        a->setObjectName(QLatin1String(b.key));
        a->setToolTip(QLatin1String(b.tip));
    }
    return toolbar;
}

} // namespace MainWindowMenus
