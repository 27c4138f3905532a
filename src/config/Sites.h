#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// One node of the site tree: the root "Sites", a folder or a site. A node's name is also
// its key and its parent reference in the sites file, so names are unique over the tree.
struct SiteNode {
    QString name;
    bool folder = true;
    bool expanded = false;
    QString ip, port, password; // sites only
    SiteNode* parent = nullptr;
    std::vector<std::unique_ptr<SiteNode>> children; // in tree order
};

// The tree of saved sites. Nodes keep their place in creation order ("position"), which a
// move does not change; site lines are written in that order. Every change that would give
// a file that does not read back as the same tree is refused with a message.
class SiteTree {
public:
    // The file's depth is one digit: folders nest at most this many levels below the root.
    static constexpr int MaxDepth = 9;
    static constexpr char RootName[] = "Sites";
    static constexpr char NewIp[] = "xxx.xxx.xxx.xxx";
    static constexpr char NewPort[] = "2000";

    SiteTree();
    SiteTree(const SiteTree&) = delete;
    SiteTree& operator=(const SiteTree&) = delete;

    SiteNode* root() const { return nodeList.front(); }
    // Every node in creation order, the root first.
    const std::vector<SiteNode*>& nodes() const { return nodeList; }
    int position(const SiteNode* node) const;  // 1-based; 0 when not in the tree
    SiteNode* find(const QString& name) const; // exact, case-sensitive
    // The node at a path of names below the root joined by "/", e.g. "Friends/Anna".
    SiteNode* findPath(const QString& path) const;
    static int depth(const SiteNode* node); // 0 for the root, 1 for a child of the root

    // Each returns an empty text on success, else why it was refused. A name loses its ";".
    // parent may be a site, meaning the site's folder, as a selected node does.
    QString addFolder(SiteNode* parent, const QString& name, SiteNode** made = nullptr);
    QString addSite(SiteNode* parent, const QString& name, SiteNode** made = nullptr);
    QString setSite(SiteNode* site, const QString& ip, const QString& port, const QString& password);
    QString setExpanded(SiteNode* folder, bool expanded);
    QString rename(SiteNode* node, const QString& name);
    QString remove(SiteNode* node); // with everything below it
    QString move(SiteNode* node, SiteNode* newParent);

    // Whether anything changed since the tree was built or read.
    bool changed() const { return dirty; }
    void setChanged(bool c) { dirty = c; }

    // The file's bytes: folder lines by depth, then case-insensitive line order; then the
    // site lines by position; each line ended by CR LF.
    QByteArray toBytes() const;
    // Replaces the tree with what bytes hold. A line that cannot be taken is skipped; the
    // result lists one text for each.
    QStringList read(const QByteArray& bytes);
    // One text per node (kind, name, parent, fields), sorted: equal for equal trees.
    QStringList describe() const;

private:
    QString checkName(QString& name, const SiteNode* self) const;
    QString add(SiteNode* parent, const QString& given, bool folder, SiteNode** made);
    SiteNode* attach(SiteNode* parent, const QString& name, bool folder);
    static int height(const SiteNode* node); // folder levels below node, counting node if a folder
    QString lineOf(const SiteNode* node) const;

    std::unique_ptr<SiteNode> top;
    std::vector<SiteNode*> nodeList;
    bool dirty = false;
};

// The sites file "qvsites.cfg" in the program folder: plain Windows-1252 text, passwords in the
// clear, so it is kept readable by its owner only.
namespace SitesFile {

inline constexpr char FileName[] = "qvsites.cfg";

// Whether text can stand in a name or field of the file and read back as itself: no ";",
// no line break, none of the markers a reader looks for ("IP=", ...), Windows-1252 only.
bool storable(const QString& text);
// Why text cannot be stored, beginning with what (for example "The address"), or an empty text.
QString problem(const QString& what, const QString& text);

// Reads path into tree. A missing file gives the bare root silently; the result lists the
// lines that were skipped, or why the file could not be read.
QStringList load(const QString& path, SiteTree& tree);
// Writes tree to path through a temporary file renamed over the old one, mode 0600.
// Returns an empty text on success, else "Save Sites Error : <number> - <description>".
// A tree that would not read back as itself is not written. Whether to save at all is the
// caller's: only after a change (SiteTree::changed) and not with the bare root.
QString save(const QString& path, const SiteTree& tree);

} // namespace SitesFile
