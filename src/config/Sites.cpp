#include "config/Sites.h"

#include "platform/Windows1252.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <functional>
#include <sys/stat.h>

namespace {

// The markers a reader looks for anywhere in a line: no name or field may hold one.
const QStringList kMarkers = {"Folder=", "IP=", "Port=", "Password=", "Parent="};

// Why text cannot stand in a line of the file, or an empty text.
QString fieldProblem(const QString& what, const QString& text)
{
    if (text.contains(';') || text.contains('\r') || text.contains('\n'))
        return QStringLiteral("%1 may not hold \";\" or a line break").arg(what);
    for (const QString& m : kMarkers)
        if (text.contains(m))
            return QStringLiteral("%1 may not hold \"%2\"").arg(what, m);
    if (!Windows1252::representable(text))
        return QStringLiteral("%1 may hold Windows-1252 characters only").arg(what);
    return {};
}

// The text after the first marker up to the next ";"; false when either is missing.
bool fieldAfter(const QString& line, const QString& marker, QString& value)
{
    const qsizetype at = line.indexOf(marker);
    if (at < 0)
        return false;
    const qsizetype from = at + marker.size();
    const qsizetype end = line.indexOf(';', from);
    if (end < 0)
        return false;
    value = line.mid(from, end - from);
    return true;
}

void collect(SiteNode* node, std::vector<const SiteNode*>& out)
{
    out.push_back(node);
    for (const auto& c : node->children)
        collect(c.get(), out);
}

} // namespace

SiteTree::SiteTree() : top(std::make_unique<SiteNode>())
{
    top->name = QString::fromLatin1(RootName);
    top->expanded = true;
    nodeList.push_back(top.get());
}

int SiteTree::position(const SiteNode* node) const
{
    const auto it = std::find(nodeList.begin(), nodeList.end(), node);
    return it == nodeList.end() ? 0 : static_cast<int>(it - nodeList.begin()) + 1;
}

SiteNode* SiteTree::find(const QString& name) const
{
    for (SiteNode* n : nodeList)
        if (n->name == name)
            return n;
    return nullptr;
}

SiteNode* SiteTree::findPath(const QString& path) const
{
    SiteNode* at = root();
    for (const QString& part : path.split('/', Qt::SkipEmptyParts)) {
        const auto it =
            std::find_if(at->children.begin(), at->children.end(), [&](const auto& c) { return c->name == part; });
        if (it == at->children.end())
            return nullptr;
        at = it->get();
    }
    return at == root() ? nullptr : at;
}

int SiteTree::depth(const SiteNode* node)
{
    int d = 0;
    for (const SiteNode* p = node->parent; p; p = p->parent)
        ++d;
    return d;
}

int SiteTree::height(const SiteNode* node)
{
    if (!node->folder)
        return 0;
    int below = 0;
    for (const auto& c : node->children)
        below = std::max(below, height(c.get()));
    return below + 1;
}

QString SiteTree::checkName(QString& name, const SiteNode* self) const
{
    name.remove(';');
    if (name.isEmpty())
        return QStringLiteral("A name may not be empty");
    if (QString problem = fieldProblem(QStringLiteral("A name"), name); !problem.isEmpty())
        return problem;
    if (const SiteNode* other = find(name); other && other != self)
        return QStringLiteral("Entry ") + name + QStringLiteral(" Already Exists!");
    return {};
}

SiteNode* SiteTree::attach(SiteNode* parent, const QString& name, bool folder)
{
    auto node = std::make_unique<SiteNode>();
    node->name = name;
    node->folder = folder;
    node->parent = parent;
    SiteNode* raw = node.get();
    parent->children.push_back(std::move(node));
    nodeList.push_back(raw);
    dirty = true;
    return raw;
}

QString SiteTree::addFolder(SiteNode* parent, const QString& name, SiteNode** made)
{
    return add(parent, name, true, made);
}

QString SiteTree::addSite(SiteNode* parent, const QString& name, SiteNode** made)
{
    return add(parent, name, false, made);
}

QString SiteTree::add(SiteNode* parent, const QString& given, bool folder, SiteNode** made)
{
    // A new node goes below the selected folder, or beside the selected site.
    if (!parent->folder)
        parent = parent->parent;
    QString name = given;
    if (QString p = checkName(name, nullptr); !p.isEmpty())
        return p;
    if (folder && depth(parent) + 1 > MaxDepth)
        return QStringLiteral("Folders nest at most %1 levels deep").arg(MaxDepth);
    SiteNode* node = attach(parent, name, folder);
    if (!folder) {
        node->ip = QString::fromLatin1(NewIp);
        node->port = QString::fromLatin1(NewPort);
    }
    if (made)
        *made = node;
    return {};
}

QString SiteTree::setSite(SiteNode* site, const QString& ip, const QString& port, const QString& password)
{
    if (site->folder)
        return QStringLiteral("Not a site");
    for (const auto& [what, text] :
         {std::pair{QStringLiteral("The address"), ip}, std::pair{QStringLiteral("The port"), port},
          std::pair{QStringLiteral("The password"), password}})
        if (QString problem = fieldProblem(what, text); !problem.isEmpty())
            return problem;
    if (site->ip != ip || site->port != port || site->password != password)
        dirty = true;
    site->ip = ip;
    site->port = port;
    site->password = password;
    return {};
}

QString SiteTree::setExpanded(SiteNode* folder, bool expanded)
{
    if (!folder->folder || folder == root())
        return folder->folder ? QString() : QStringLiteral("Not a folder");
    if (folder->expanded != expanded)
        dirty = true;
    folder->expanded = expanded;
    return {};
}

QString SiteTree::rename(SiteNode* node, const QString& given)
{
    if (node == root())
        return QStringLiteral("The root cannot be renamed");
    QString name = given;
    if (QString p = checkName(name, node); !p.isEmpty())
        return p;
    if (node->name != name)
        dirty = true;
    node->name = name; // children name their parent by this, so they follow
    return {};
}

QString SiteTree::remove(SiteNode* node)
{
    if (node == root())
        return QStringLiteral("The root cannot be deleted");
    std::vector<const SiteNode*> gone;
    collect(node, gone);
    std::erase_if(nodeList, [&](SiteNode* n) { return std::find(gone.begin(), gone.end(), n) != gone.end(); });
    auto& siblings = node->parent->children;
    std::erase_if(siblings, [node](const auto& c) { return c.get() == node; });
    dirty = true;
    return {};
}

QString SiteTree::move(SiteNode* node, SiteNode* newParent)
{
    if (node == root())
        return QStringLiteral("The root cannot be moved");
    if (!newParent->folder)
        newParent = newParent->parent;
    for (const SiteNode* p = newParent; p; p = p->parent)
        if (p == node)
            return QStringLiteral("A folder cannot move into itself");
    if (depth(newParent) + height(node) > MaxDepth)
        return QStringLiteral("Folders nest at most %1 levels deep").arg(MaxDepth);
    if (newParent == node->parent)
        return {};
    auto& siblings = node->parent->children;
    const auto it = std::find_if(siblings.begin(), siblings.end(), [node](const auto& c) { return c.get() == node; });
    std::unique_ptr<SiteNode> owned = std::move(*it);
    siblings.erase(it);
    owned->parent = newParent;
    newParent->children.push_back(std::move(owned));
    dirty = true;
    return {};
}

QString SiteTree::lineOf(const SiteNode* n) const
{
    if (n->folder)
        return QString::number(depth(n)) + QStringLiteral("Folder=") + n->name + ';'
               + (n->expanded ? QStringLiteral("Expanded;") : QString()) + QStringLiteral("Parent=") + n->parent->name
               + ';';
    return QStringLiteral("Site=") + n->name + QStringLiteral(";IP=") + n->ip + QStringLiteral(";Port=") + n->port
           + QStringLiteral(";Password=") + n->password + QStringLiteral(";Parent=") + n->parent->name + ';';
}

QByteArray SiteTree::toBytes() const
{
    QStringList folders, sites;
    for (size_t i = 1; i < nodeList.size(); ++i)
        (nodeList[i]->folder ? folders : sites) << lineOf(nodeList[i]);
    std::stable_sort(folders.begin(), folders.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    QByteArray out;
    for (const QString& f : folders)
        out += Windows1252::encode(f.mid(1)) + "\r\n";
    for (const QString& s : sites)
        out += Windows1252::encode(s) + "\r\n";
    return out;
}

namespace {

// One line of the sites file, split into its fields.
struct SiteLine {
    bool folder = false;
    bool expanded = false;
    QString name, ip, port, password, parentName;
};

// Reads the fields of a line ("Folder=NAME;[Expanded;]Parent=..;" or
// "Site=NAME;IP=..;Port=..;Password=..;Parent=..;"). Returns why the line cannot be read, or
// an empty text.
QString splitLine(const QString& line, SiteLine& out)
{
    const qsizetype semi = line.indexOf(';');
    if (semi < 0)
        return QStringLiteral("no \";\"");
    out.folder = line.contains(QLatin1String("Folder="));
    const QString marker = out.folder ? QStringLiteral("Folder=") : QStringLiteral("Site=");
    if (!line.startsWith(marker))
        return QStringLiteral("it does not start with \"%1\"").arg(marker);
    out.name = line.left(semi).mid(marker.size());
    for (const auto& [field, value] : {std::pair<QString, QString*>{"IP=", &out.ip},
                                       {"Port=", &out.port},
                                       {"Password=", &out.password},
                                       {"Parent=", &out.parentName}})
        if ((!out.folder || field == QLatin1String("Parent=")) && !fieldAfter(line, field, *value))
            return QStringLiteral("no \"%1\" field").arg(field);
    // The mark stands right after the name, so a name or parent ending in "Expanded" is not
    // taken for it.
    out.expanded = out.folder && QStringView(line).mid(semi + 1).startsWith(QLatin1String("Expanded;"));
    // A field that holds a marker, a stray carriage return or a character the file cannot
    // carry would be written back as a line that reads differently, and then no save of the
    // tree could succeed: such a line is skipped, saying why.
    for (const auto& [what, value] : {std::pair<const char*, const QString*>{"the name", &out.name},
                                      {"the address", &out.ip},
                                      {"the port", &out.port},
                                      {"the password", &out.password},
                                      {"the parent", &out.parentName}})
        if (QString why = fieldProblem(QLatin1String(what), *value); !why.isEmpty())
            return why;
    return {};
}

} // namespace

QStringList SiteTree::read(const QByteArray& bytes)
{
    top->children.clear();
    nodeList.assign(1, top.get());
    QStringList problems;
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = Windows1252::decode(lines[i]);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        const auto skip = [&](const QString& why) {
            problems << QStringLiteral("*** Sites File Line %1 Skipped : %2").arg(i + 1).arg(why);
        };
        SiteLine fields;
        if (QString why = splitLine(line, fields); !why.isEmpty()) {
            skip(why);
            continue;
        }
        SiteNode* parent = find(fields.parentName);
        if (fields.name.isEmpty()) {
            skip(QStringLiteral("no name"));
        } else if (find(fields.name)) {
            skip(QStringLiteral("the name %1 is taken").arg(fields.name));
        } else if (!parent || !parent->folder) {
            skip(QStringLiteral("no folder %1 before it").arg(fields.parentName));
        } else if (fields.folder && depth(parent) + 1 > MaxDepth) {
            skip(QStringLiteral("folders nest at most %1 levels deep").arg(MaxDepth));
        } else {
            SiteNode* node = attach(parent, fields.name, fields.folder);
            node->expanded = fields.expanded;
            node->ip = fields.ip;
            node->port = fields.port;
            node->password = fields.password;
        }
    }
    dirty = false;
    return problems;
}

QStringList SiteTree::describe() const
{
    QStringList out;
    for (const SiteNode* n : nodeList)
        out << QStringList{n->folder ? "F" : "S",
                           n->name,
                           n->parent ? n->parent->name : QString(),
                           n->expanded ? "+" : "-",
                           n->ip,
                           n->port,
                           n->password}
                   .join('\x1f');
    out.sort();
    return out;
}

namespace SitesFile {

bool storable(const QString& text)
{
    return fieldProblem(QString(), text).isEmpty();
}

QString problem(const QString& what, const QString& text)
{
    return fieldProblem(what, text);
}

QStringList load(const QString& path, SiteTree& tree)
{
    QFile file(path);
    if (!file.exists()) {
        tree.read({});
        return {};
    }
    if (!file.open(QIODevice::ReadOnly)) {
        tree.read({});
        return {QStringLiteral("Open Sites Error : %1 - %2").arg(file.error()).arg(file.errorString())};
    }
    return tree.read(file.readAll());
}

QString save(const QString& path, const SiteTree& tree)
{
    const QByteArray bytes = tree.toBytes();
    SiteTree back;
    back.read(bytes);
    if (back.describe() != tree.describe())
        return QStringLiteral("Save Sites Error : 0 - the sites would not read back as they are");
    QSaveFile file(path);
    // Unbuffered, so a short write (a full disk) shows in write()'s count: a buffered flush
    // takes a partial write as done and the truncated file would be committed.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return QStringLiteral("Save Sites Error : %1 - %2").arg(file.error()).arg(file.errorString());
    // Passwords are in the clear: only the owner may read the file, old or new.
    if (::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0 || file.write(bytes) != bytes.size() || !file.commit()) {
        QString problem = QStringLiteral("Save Sites Error : %1 - %2").arg(file.error()).arg(file.errorString());
        file.cancelWriting();
        return problem;
    }
    return {};
}

} // namespace SitesFile
