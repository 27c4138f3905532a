#pragma once
#include "peer/Peer.h"

#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <tuple>
#include <utility>

// Whole-file helpers: readFile gives "<missing>" for a file that cannot be read;
// writeFile creates the folders on the way and reports whether every byte was written.
QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& bytes = {});
// Points folder's single log file "QvLogs.log" at /dev/full, where every write fails as on a
// full disk; false where there is no /dev/full.
bool fullLogFile(const QString& folder);
// While it lives, writes past `bytes` in any file fail as on a full disk (the size limit, with
// its signal ignored); both come back when it goes, also when a check fails on the way.
class FileSizeLimit {
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    quint64 oldCurrent = 0, oldMaximum = 0;
    void (*handler)(int) = nullptr;
};
// Makes a named pipe at path (folders on the way too), or with `socket` a bound socket's file.
bool makeSpecialFile(const QString& path, bool socket = false);
// n bytes that differ for every seed.
QByteArray randomBytes(qint64 n, quint32 seed);

// Data rows of string columns: each row is its name, then one text per column. QtTest keeps
// the column names as given, so they are string literals.
inline void stringRows(std::initializer_list<const char*> columns, const QList<QStringList>& rows)
{
    for (const char* c : columns)
        QTest::addColumn<QString>(c);
    for (const QStringList& r : rows) {
        QTestData& d = QTest::newRow(r.front().toUtf8().constData());
        for (const QString& v : r.mid(1))
            d << v;
    }
}

// Data columns of the given types and names: columns<QString, int>("name", "count").
template <class... T, class... Name>
void columns(Name... names)
{
    static_assert(sizeof...(T) == sizeof...(Name));
    (QTest::addColumn<T>(names), ...);
}
// A single data column of type T: one row per name and value.
template <class T>
void rowsOf(const char* column, std::initializer_list<std::pair<const char*, T>> rows)
{
    QTest::addColumn<T>(column);
    for (const auto& [name, value] : rows)
        QTest::newRow(name) << value;
}
// The current data row's columns by type and name, for a structured binding:
//   auto [name, count] = fetch<QString, int>("name", "count");
template <class... T, class... Name>
std::tuple<T...> fetch(Name... names)
{
    static_assert(sizeof...(T) == sizeof...(Name));
    return {*static_cast<T*>(QTest::qData(names, qMetaTypeId<T>()))...};
}

// Finds a control port C on 127.0.0.1 such that C, C+1 and C+2 are all free.
quint16 freePortTriple();

// Records every line a context shows, without time stamps.
class LineRecorder : public QObject {
    Q_OBJECT
public:
    explicit LineRecorder(PeerState& ctx);
    QStringList lines;
    QList<int> kinds;
    bool contains(const QString& line) const { return lines.contains(line); }
    int count(const QString& line) const { return static_cast<int>(lines.count(line)); }
    QString text() const { return lines.join('\n'); } // for a failure's message
    // Index of the first line starting with prefix, -1 when none.
    int indexStarting(const QString& prefix) const;
};

// One complete peer in the test process, built as the programs build theirs: its own
// program folder, the peer, its state (ctx) and a recorder. Servers listen on loopback only;
// the waits are shortened.
struct TestPeer {
    explicit TestPeer(const QString& name = QStringLiteral("peer"));
    QTemporaryDir home;
    std::unique_ptr<Peer> peer;
    PeerState* ctx = nullptr; // the peer's state
    std::unique_ptr<LineRecorder> rec;

    void listen(quint16 port);
    void connectTo(quint16 port, const QString& password = QString());
};

// Lets server listen on port and client connect to it; true once both saw the other log in.
bool connectPeers(TestPeer& server, TestPeer& client, quint16 port, const QString& password = {});
