#include "ui/SiteListWindow.h"

#include "core/PeerState.h"
#include "ui/DesktopServices.h"
#include "ui/MainWindow.h"
#include "ui/NamedButton.h"
#include "ui/QuickConnectDialog.h"
#include "ui/SiteDetailsPanel.h"
#include "ui/SiteIdentity.h"
#include "ui/SitePictures.h"
#include "ui/SiteTreeView.h"
#include "ui/Twips.h"
#include "ui/TypedTextFilter.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

SiteListWindow::SiteListWindow(PeerState& c, QWidget* owner) : QWidget(owner, Qt::Window), ctx(c)
{
    setObjectName(QStringLiteral("SvrList"));
    setWindowTitle(QStringLiteral("Server List"));
    path = QDir(ctx.programFolder).filePath(QString::fromLatin1(SitesFile::FileName));
    pictures[ClosedFolderPicture] = QIcon(SitePictures::folder(false));
    pictures[OpenFolderPicture] = QIcon(SitePictures::folder(true));
    pictures[SitePicture] = QIcon(SitePictures::site(false));
    pictures[ShownSitePicture] = QIcon(SitePictures::site(true));
    setWindowIcon(pictures[ShownSitePicture]);

    buildTree();
    details = new SiteDetailsPanel(this);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(treeWidget, 1);
    layout->addWidget(details);
    buildTreeMenu();
    connectControls();

    clearDetails();
    rebuild(model.root());
    setMinimumSize(twipsToPixelsX(minWidthTwips), twipsToPixelsY(minHeightTwips));
    resize(twipsToPixelsX(twipsOption(ctx.options.sitesWidth, 6150)),
           twipsToPixelsY(twipsOption(ctx.options.sitesHeight, 4095)));
}

void SiteListWindow::buildTree()
{
    treeWidget = new SiteTreeView(this);
    treeWidget->setObjectName(QStringLiteral("SiteTree"));
    treeWidget->setHeaderHidden(true);
    treeWidget->setColumnCount(1);
    treeWidget->setRootIsDecorated(false); // "Sites" stays open: no button to close it
    treeWidget->setIconSize(QSize(16, 16));
    treeWidget->setExpandsOnDoubleClick(true);
    treeWidget->setContextMenuPolicy(Qt::CustomContextMenu);
    treeWidget->cursorFor = [](QTreeWidgetItem* item) { return SitePictures::dragCursor(item->icon(0)); };
    treeWidget->dropped = [this](QTreeWidgetItem* d, QTreeWidgetItem* t) { onDropped(d, t); };
}

void SiteListWindow::buildTreeMenu()
{
    popupMenu = new QMenu(QStringLiteral("Tree_Menu"), this);
    popupMenu->setObjectName(QStringLiteral("mnu_tree"));
    auto entry = [this](const char* name, const QString& caption) {
        QAction* a = popupMenu->addAction(caption);
        a->setObjectName(QLatin1String(name));
        return a;
    };
    QAction* newFolder = entry("mnu_NewFolder", QStringLiteral("New Folder"));
    QAction* newSite = entry("mnu_NewSite", QStringLiteral("New Site"));
    popupMenu->addSeparator();
    QAction* del = entry("mnu_delnode", QStringLiteral("Delete"));
    QAction* rename = entry("mnu_renametree", QStringLiteral("Rename"));
    // Also from the keyboard while the tree has the focus; neither is offered on the root.
    del->setShortcut(QKeySequence::Delete);
    rename->setShortcut(Qt::Key_F2);
    for (QAction* a : {del, rename}) {
        a->setShortcutContext(Qt::WidgetShortcut);
        treeWidget->addAction(a);
    }

    connect(newFolder, &QAction::triggered, this, [this] { askNew(true); });
    connect(newSite, &QAction::triggered, this, [this] { askNew(false); });
    connect(del, &QAction::triggered, this, &SiteListWindow::askDelete);
    connect(rename, &QAction::triggered, this, &SiteListWindow::askRename);
}

void SiteListWindow::connectControls()
{
    connect(details->newSiteButton, &QPushButton::clicked, this, [this] { askNew(false); });
    auto* identity = new SiteIdentity(ctx, details->addressEdit, details->portEdit, details->identityLabel, this);
    identity->addCommand(details->forgetIdentityButton);
    connect(treeWidget, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { popupMenu->popup(treeWidget->viewport()->mapToGlobal(at)); });
    connect(treeWidget, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { onCurrentChanged(item); });
    connect(treeWidget, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        // A double-click on a site connects to it; on a folder it opens or closes it.
        const SiteNode* n = nodeOf(item);
        if (n && !n->folder && n == shown)
            onConnect();
    });
    auto expandedChanged = [this](QTreeWidgetItem* item, bool expanded) {
        SiteNode* n = nodeOf(item);
        if (!n)
            return;
        if (n == model.root()) {
            if (!expanded) // the root is always open
                QTimer::singleShot(0, treeWidget, [this] { treeWidget->topLevelItem(0)->setExpanded(true); });
            return;
        }
        model.setExpanded(n, expanded);
        setPicture(item);
    };
    connect(treeWidget, &QTreeWidget::itemExpanded, this,
            [expandedChanged](QTreeWidgetItem* i) { expandedChanged(i, true); });
    connect(treeWidget, &QTreeWidget::itemCollapsed, this,
            [expandedChanged](QTreeWidgetItem* i) { expandedChanged(i, false); });
    connect(details->portEdit, &QLineEdit::textChanged, this, [this](const QString& t) {
        if (!t.isEmpty() && t != QLatin1String("####"))
            details->filePortsEdit->setText(QuickConnectDialog::filePortsFor(t));
    });
    connect(details->connectButton, &QPushButton::clicked, this, &SiteListWindow::onConnect);
    connect(details->closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(details->helpButton, &QPushButton::clicked, this, [this] { showHelpTopic(5, parentWidget()); });
    connect(details->nameEdit, &QLineEdit::editingFinished, this, &SiteListWindow::storeName);
    for (QLineEdit* e : {details->nameEdit, details->addressEdit, details->portEdit, details->passwordEdit})
        e->installEventFilter(this);
}

SiteNode* SiteListWindow::nodeOf(const QTreeWidgetItem* item) const
{
    return item ? static_cast<SiteNode*>(item->data(0, SiteTreeView::nodeRole).value<void*>()) : nullptr;
}

QTreeWidgetItem* SiteListWindow::itemOf(const SiteNode* node) const
{
    for (QTreeWidgetItemIterator it(treeWidget); *it; ++it)
        if (nodeOf(*it) == node)
            return *it;
    return nullptr;
}

SiteNode* SiteListWindow::selectedNode() const
{
    return nodeOf(treeWidget->currentItem());
}

void SiteListWindow::setPicture(QTreeWidgetItem* item)
{
    const SiteNode* n = nodeOf(item);
    if (!n)
        return;
    Picture p = n->folder ? (item->isExpanded() || n == model.root() ? OpenFolderPicture : ClosedFolderPicture)
                          : (n == shown ? ShownSitePicture : SitePicture);
    item->setIcon(0, pictures[p]);
}

void SiteListWindow::rebuild(const SiteNode* current)
{
    const QSignalBlocker quiet(treeWidget);
    const int scrolled = treeWidget->verticalScrollBar()->value();
    treeWidget->forget();
    treeWidget->clear();
    std::function<void(SiteNode*, QTreeWidgetItem*)> add = [&](SiteNode* node, QTreeWidgetItem* parent) {
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(treeWidget);
        item->setText(0, node->name);
        item->setData(0, SiteTreeView::nodeRole, QVariant::fromValue(static_cast<void*>(node)));
        item->setData(0, SiteTreeView::siteRole, !node->folder);
        item->setChildIndicatorPolicy(node->folder ? QTreeWidgetItem::DontShowIndicatorWhenChildless
                                                   : QTreeWidgetItem::DontShowIndicator);
        for (const auto& child : node->children)
            add(child.get(), item);
    };
    add(model.root(), nullptr);
    for (QTreeWidgetItemIterator it(treeWidget); *it; ++it) {
        const SiteNode* n = nodeOf(*it);
        (*it)->setExpanded(n->folder && n->expanded);
        setPicture(*it);
    }
    if (QTreeWidgetItem* item = itemOf(current))
        treeWidget->setCurrentItem(item);
    treeWidget->verticalScrollBar()->setValue(scrolled);
    updateCommands();
}

void SiteListWindow::loadSites()
{
    clearDetails();
    const QStringList problems = SitesFile::load(path, model);
    // A file that exists but cannot be read is never replaced by what this window holds.
    unreadable = problems.size() == 1 && problems.front().startsWith(QLatin1String("Open Sites Error"));
    for (const QString& p : problems)
        ctx.addText(p, unreadable ? LineKind::Error : LineKind::Status);
    rebuild(model.root());
}

void SiteListWindow::saveSites()
{
    QString problem = unreadable ? QStringLiteral("Save Sites Error : 0 - %1 could not be read, so it was not replaced")
                                       .arg(QDir::toNativeSeparators(path))
                                 : SitesFile::save(path, model);
    if (problem.isEmpty())
        model.setChanged(false);
    else
        tell("saveSitesError", problem);
}

void SiteListWindow::updateCommands()
{
    const SiteNode* n = selectedNode();
    for (const char* name : {"mnu_delnode", "mnu_renametree"})
        popupMenu->findChild<QAction*>(QLatin1String(name))->setEnabled(n && n != model.root());
}

void SiteListWindow::onCurrentChanged(QTreeWidgetItem* item)
{
    SiteNode* n = nodeOf(item);
    updateCommands();
    if (n && !n->folder) // a folder or the root changes nothing
        showSite(n);
}

void SiteListWindow::showSite(SiteNode* site)
{
    if (site == shown)
        return;
    storeShown();
    SiteNode* before = shown;
    shown = site;
    if (QTreeWidgetItem* old = itemOf(before))
        setPicture(old);
    setPicture(itemOf(shown));
    TypedTextFilter::load(details->nameEdit, site->name);
    TypedTextFilter::load(details->addressEdit, site->ip);
    TypedTextFilter::load(details->portEdit, site->port);
    TypedTextFilter::load(details->passwordEdit, site->password);
    for (QWidget* w : std::initializer_list<QWidget*>{details->nameEdit, details->addressEdit, details->portEdit,
                                                      details->passwordEdit, details->connectButton})
        w->setEnabled(true);
}

void SiteListWindow::clearDetails()
{
    shown = nullptr;
    for (QLineEdit* e : {details->nameEdit, details->addressEdit, details->portEdit, details->passwordEdit})
        TypedTextFilter::load(e, {});
    details->noticeLabel->clear();
    details->filePortsEdit->setText(QStringLiteral("####"));
    for (QWidget* w : std::initializer_list<QWidget*>{details->nameEdit, details->addressEdit, details->portEdit,
                                                      details->passwordEdit, details->connectButton})
        w->setEnabled(false);
}

void SiteListWindow::storeName()
{
    if (!shown || details->nameEdit->text() == shown->name)
        return;
    if (const QString problem = model.rename(shown, details->nameEdit->text()); !problem.isEmpty()) {
        TypedTextFilter::load(details->nameEdit, shown->name);
        tell("refusedMessage", problem);
        return;
    }
    if (details->nameEdit->text() != shown->name) // the notice, if any, stays: it tells what the name lost
        details->nameEdit->setText(shown->name);
    if (QTreeWidgetItem* item = itemOf(shown))
        item->setText(0, shown->name);
}

void SiteListWindow::storeShown()
{
    if (!shown)
        return;
    storeName();
    const QString problem =
        model.setSite(shown, details->addressEdit->text(), details->portEdit->text(), details->passwordEdit->text());
    if (!problem.isEmpty())
        tell("refusedMessage", QStringLiteral("%1: %2 was not stored.").arg(problem, shown->name));
}

void SiteListWindow::openInputBox(const QString& prompt, const QString& title, const QString& text,
                                  std::function<void(const QString&)> done)
{
    auto* box = new QInputDialog(this);
    box->setObjectName(QStringLiteral("InputBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setInputMode(QInputDialog::TextInput);
    box->setWindowTitle(title);
    box->setLabelText(prompt);
    box->setTextValue(text);
    // A name is typed only with what the sites file can hold; the prompt says what was not taken.
    if (auto* line = box->findChild<QLineEdit*>())
        line->setValidator(
            SiteDetailsPanel::sitesFilter(line, QStringLiteral("A name"), [box, prompt](const QString& t) {
                box->setLabelText(t.isEmpty() ? prompt : prompt + QStringLiteral("\n\n") + t);
            }));
    box->move(frameGeometry().topLeft() + QPoint(twipsToPixelsX(300), twipsToPixelsY(300)));
    connect(box, &QInputDialog::textValueSelected, this, std::move(done));
    box->open();
}

void SiteListWindow::tell(const char* name, const QString& text)
{
    QWidget* owner = open ? this : parentWidget();
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Zantiro"), text, QMessageBox::Ok, owner);
    box->setObjectName(QLatin1String(name));
    box->setTextFormat(Qt::PlainText); // names and paths are shown as typed
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void SiteListWindow::askNew(bool folder)
{
    if (!selectedNode())
        treeWidget->setCurrentItem(treeWidget->topLevelItem(0));
    const QString at = selectedNode()->name;
    openInputBox(folder ? QStringLiteral("New Folder") : QStringLiteral("New Site"),
                 folder ? QStringLiteral("Folder Name") : QStringLiteral("Site Name"), QString(),
                 [this, folder, at](QString name) {
                     name.remove(QLatin1Char(';'));
                     if (name.isEmpty())
                         return;
                     SiteNode* parent = model.find(at);
                     if (!parent)
                         parent = model.root();
                     SiteNode* made = nullptr;
                     const QString problem =
                         folder ? model.addFolder(parent, name, &made) : model.addSite(parent, name, &made);
                     if (!problem.isEmpty()) {
                         tell("refusedMessage", problem);
                         return;
                     }
                     model.setExpanded(made->parent, true);
                     rebuild(made);
                     if (!folder)
                         showSite(made);
                 });
}

void SiteListWindow::askDelete()
{
    SiteNode* n = selectedNode();
    if (!n)
        return;
    if (n == model.root()) {
        tell("refusedMessage", model.remove(n)); // refused: the root stays
        return;
    }
    auto* box =
        new QMessageBox(QMessageBox::Question, QStringLiteral("Delete?"),
                        QStringLiteral("Delete ") + (n->folder ? QStringLiteral("Folder ") : QStringLiteral("Site "))
                            + n->name + QLatin1Char('?'),
                        QMessageBox::Yes | QMessageBox::No, this);
    box->setObjectName(QStringLiteral("deleteQuestion"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setEscapeButton(QMessageBox::No);
    connect(box, &QMessageBox::finished, this, [this, box, name = n->name] {
        SiteNode* node = model.find(name);
        if (!node || box->clickedButton() != box->button(QMessageBox::Yes))
            return;
        for (const SiteNode* s = shown; s; s = s->parent)
            if (s == node) { // the shown site goes with it
                clearDetails();
                break;
            }
        SiteNode* parent = node->parent;
        model.remove(node);
        rebuild(parent);
    });
    box->open();
}

void SiteListWindow::askRename()
{
    SiteNode* n = selectedNode();
    if (!n)
        return;
    if (n == model.root()) {
        tell("refusedMessage", model.rename(n, n->name)); // refused: the root keeps its name
        return;
    }
    openInputBox(QStringLiteral("New Name"), QStringLiteral("Rename"), n->name,
                 [this, old = n->name](const QString& name) {
                     SiteNode* node = model.find(old);
                     if (!node || QString(name).remove(QLatin1Char(';')).isEmpty())
                         return;
                     if (const QString problem = model.rename(node, name); !problem.isEmpty()) {
                         tell("refusedMessage", problem);
                         return;
                     }
                     if (node == shown)
                         details->nameEdit->setText(node->name);
                     rebuild(node);
                 });
}

void SiteListWindow::onDropped(QTreeWidgetItem* dragged, QTreeWidgetItem* target)
{
    SiteNode* node = nodeOf(dragged);
    SiteNode* into = nodeOf(target);
    if (!node || !into)
        return;
    if (!into->folder)
        into = into->parent;
    for (const SiteNode* p = into; p; p = p->parent)
        if (p == node) // into itself or below itself: nothing to do
            return;
    if (into == node->parent)
        return;
    if (const QString problem = model.move(node, into); !problem.isEmpty()) {
        tell("refusedMessage", problem);
        return;
    }
    model.setExpanded(into, true);
    rebuild(node);
}

void SiteListWindow::onConnect()
{
    ctx.connectionMode = ConnectionMode::Client;
    ctx.connectionHost = details->addressEdit->text();
    ctx.connectionPort = details->portEdit->text();
    ctx.connectionPassword = details->passwordEdit->text();
    if (openConnection)
        openConnection();
    close();
}

bool SiteListWindow::eventFilter(QObject* watched, QEvent* event)
{
    // A box that receives the focus has its whole text selected, after the click that gave
    // the focus has placed the caret.
    if (event->type() == QEvent::FocusIn)
        if (auto* e = qobject_cast<QLineEdit*>(watched))
            QTimer::singleShot(0, e, &QLineEdit::selectAll);
    return QWidget::eventFilter(watched, event);
}

void SiteListWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    keepMinimumOuterSize(*this, minWidthTwips, minHeightTwips);
}

void SiteListWindow::keyPressEvent(QKeyEvent* event)
{
    // Escape closes the window like its Close button (a drag in the tree ends first there).
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SiteListWindow::closeEvent(QCloseEvent* event)
{
    if (!open) {
        event->accept();
        return;
    }
    open = false;
    Options& o = ctx.options;
    o.sitesWidth = QString::number(pixelsToTwipsX(width()));
    o.sitesHeight = QString::number(pixelsToTwipsY(height()));
    storeShown();
    // Merely opening and closing never rewrites the file. A tree left with the root only is
    // written too (an empty file), so deleted sites and their passwords do not come back.
    if (model.changed())
        saveSites();
    event->accept();
}

void installSiteList(MainWindow& window)
{
    window.setSiteListOpener([w = &window, list = QPointer<SiteListWindow>()]() mutable {
        if (!list || !list->isOpen()) {
            list = new SiteListWindow(w->context(), w);
            list->setAttribute(Qt::WA_DeleteOnClose);
            list->openConnection = [w] { w->openConnection(); };
            list->loadSites();
        }
        list->show();
        list->raise();
        list->activateWindow();
    });
}
