#pragma once
#include "config/Sites.h"
#include "ui/SiteTreeView.h"

#include <QIcon>
#include <QPointer>
#include <QWidget>

#include <functional>

class PeerState;
class MainWindow;
class SiteDetailsPanel;
class QMenu;
class QTreeWidgetItem;

// "Server List": the saved sites in folders, read from "qvsites.cfg" when the window opens
// and written back when it closes, if anything changed. The tree widget only mirrors the
// site tree: every command changes the model first and the widget is rebuilt from it.
// A site's address, port and password are edited in the boxes beside the tree and reach
// the model when another site is shown or the window closes. Connect starts a client
// session to the shown site and closes the window. Forget Identity forgets the key
// remembered for the shown site (SiteIdentity).
class SiteListWindow : public QWidget {
    Q_OBJECT
public:
    SiteListWindow(PeerState& ctx, QWidget* owner);

    // Minimum outer size, in twips.
    static constexpr int minWidthTwips = 5265;
    static constexpr int minHeightTwips = 4065;

    // Opens the connection the context now describes (the main window's openConnection).
    std::function<void()> openConnection;

    // Reads the sites file into the tree; each line it skips becomes a status line.
    void loadSites();
    // Writes the tree to the sites file; a failure is shown as "Save Sites Error : ...".
    void saveSites();

    // The site tree as the window holds it.
    const ::SiteTree& sites() const { return model; }
    // The site whose details are shown, or nullptr.
    const SiteNode* shownSite() const { return shown; }
    // False once the window has begun to close (it is deleted then).
    bool isOpen() const { return open; }

    SiteTreeView* treeWidget = nullptr;  // the control "SiteTree"
    SiteDetailsPanel* details = nullptr; // the boxes and buttons beside the tree
    QMenu* popupMenu = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum Picture { ClosedFolderPicture, OpenFolderPicture, SitePicture, ShownSitePicture, PictureCount };

    void buildTree();
    void buildTreeMenu();
    void connectControls();

    SiteNode* nodeOf(const QTreeWidgetItem* item) const;
    QTreeWidgetItem* itemOf(const SiteNode* node) const;
    SiteNode* selectedNode() const;
    // Builds the widget's items again from the model and makes current's item the current one.
    void rebuild(const SiteNode* current);
    void setPicture(QTreeWidgetItem* item);

    void onCurrentChanged(QTreeWidgetItem* item);
    // Delete and Rename are offered for every node but the root.
    void updateCommands();
    void showSite(SiteNode* site);
    void clearDetails();
    // Puts the boxes' name, address, port and password into the shown site.
    void storeShown();
    // Renames the shown site to the name box's text, or puts its name back with a message.
    void storeName();

    void askNew(bool folder);
    void askDelete();
    void askRename();
    void onDropped(QTreeWidgetItem* dragged, QTreeWidgetItem* target);
    void onConnect();

    // A modeless input box; done runs with the text when the user confirms it.
    void openInputBox(const QString& prompt, const QString& title, const QString& text,
                      std::function<void(const QString&)> done);
    // A message box with OK, on this window or, once it is closing, on its owner.
    void tell(const char* name, const QString& text);

    PeerState& ctx;
    ::SiteTree model;
    QString path;
    bool unreadable = false; // the file exists but could not be read: it is not replaced
    bool open = true;
    SiteNode* shown = nullptr; // the site in the detail boxes
    QIcon pictures[PictureCount];
};

// Lets the main window's site-list commands and the quick-connect dialog's "Server List"
// button open the site list: one window, owned by the main window, raised when open.
void installSiteList(MainWindow& window);
