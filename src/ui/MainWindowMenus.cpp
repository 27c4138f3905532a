#include "ui/MainWindowMenus.h"

#include <QAction>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QToolBar>

namespace {

// An entry named for the window's command routing; the window owns the action.
QAction* entry(QWidget& window, QMenu* menu, const char* name, const QString& caption)
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
    entry(window, file, "mnu_svrlist", QStringLiteral("&Server Manager"));
    entry(window, file, "mnu_Connect", QStringLiteral("Quick &Connect"));
    entry(window, file, "mnu_dc", QStringLiteral("&Disconnect"));
    entry(window, file, "mnu_exit", QStringLiteral("&Exit"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QMenu* tools = menu("mnu_Tools", QStringLiteral("&Tools"));
    entry(window, tools, "mnu_sndfile", QStringLiteral("&Send File(s) Or A Folder"));
    entry(window, tools, "mnu_msg", QStringLiteral("Sen&d A Message"));
    entry(window, tools, "mnu_getip", QStringLiteral("&Get Local I.P."));
    entry(window, tools, "mnu_Ping", QStringLiteral("&Ping"));
    entry(window, tools, "mnu_clear", QStringLiteral("&Clear Text"));
    QMenu* view = menu("mnu_view", QStringLiteral("&View"));
    entry(window, view, "mnu_catcher", QStringLiteral("S&how File Catcher"));
    entry(window, view, "mnu_queue", QStringLiteral("Sho&w File Queue"));
    entry(window, view, "mnu_remui", QStringLiteral("&Show Remote User Info"));
    entry(window, view, "mnu_Opt", QStringLiteral("&Options"));
    QMenu* help = menu("mnu_help", QStringLiteral("&Help"));
    entry(window, help, "mnu_Help2", QStringLiteral("He&lp"))->setShortcut(QKeySequence::HelpContents);
    entry(window, help, "mnu_about", QStringLiteral("&About"));
}

QMenu* makePopupMenu(QWidget& window)
{
    auto* popupMenu = new QMenu(QStringLiteral("PopUp"), &window);
    popupMenu->setObjectName(QStringLiteral("mnu_Pop"));
    entry(window, popupMenu, "pop_conn", QStringLiteral("Quick Connect"));
    entry(window, popupMenu, "pop_dc", QStringLiteral("Disconnect"));
    entry(window, popupMenu, "pop_svrlist", QStringLiteral("Server Manager"));
    popupMenu->addSeparator();
    entry(window, popupMenu, "pop_get", QStringLiteral("Get Local I.P."));
    entry(window, popupMenu, "pop_ping", QStringLiteral("Ping"));
    entry(window, popupMenu, "pop_clear", QStringLiteral("Clear Text"));
    entry(window, popupMenu, "pop_remui", QStringLiteral("View Remote User Info"));
    popupMenu->addSeparator();
    entry(window, popupMenu, "pop_queue", QStringLiteral("Show File Queue"));
    entry(window, popupMenu, "pop_catcher", QStringLiteral("Show File Catcher"));
    entry(window, popupMenu, "pop_file", QStringLiteral("Send A File"));
    entry(window, popupMenu, "pop_msg", QStringLiteral("Send A Message"));
    popupMenu->addSeparator();
    entry(window, popupMenu, "pop_opt", QStringLiteral("Options"));
    entry(window, popupMenu, "pop_help", QStringLiteral("Help"));
    popupMenu->addSeparator();
    // What a text view is expected to offer; the window connects them to the pane under the menu.
    entry(window, popupMenu, "pop_copy", QStringLiteral("Copy"));
    entry(window, popupMenu, "pop_selectall", QStringLiteral("Select All"));
    return popupMenu;
}

QMenu* makeTrayMenu(QWidget& window)
{
    auto* trayMenu = new QMenu(QStringLiteral("&Tray Icon"), &window);
    trayMenu->setObjectName(QStringLiteral("mnu_tray"));
    entry(window, trayMenu, "mnu_restore", QStringLiteral("&Restore"));
    entry(window, trayMenu, "mnu_trayexit", QStringLiteral("&Exit Zantiro"));
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
