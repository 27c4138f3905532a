#pragma once
#include <QHash>
#include <QString>

class Session;

// The wire names our files are offered under, for as long as the transfer side lives: a name
// whose characters had to be replaced is numbered when it would be the name of another file
// offered before, and the same file queued under the same name keeps the name it got.
class OfferedNames {
public:
    explicit OfferedNames(const Session& session);

    // The wire name `path` is offered under: its queued `name` in wire form, numbered when
    // replaced characters would make it the name of another file offered before; the same
    // for the same path queued under the same name.
    QString of(const QString& path, const QString& name);
    // Forgets the name given to `path` queued as `name`, as though it was never offered.
    void forget(const QString& path, const QString& name);
    // How many names are remembered (most names need no memory).
    qsizetype count() const { return wireByPath.size(); }

private:
    // The key of a file under its queued name in those memories.
    QString key(const QString& path, const QString& name) const;

    const Session& session;
    QHash<QString, QString> wireByPath; // queued name and local path -> the wire name offered
    QHash<QString, QString> pathByWire; // wire name -> the first of those offered under it
};
