// The one-way rule of the source tree: a folder includes only folders below it in the layer
// order the build declares, and only ui/ includes widget headers.
#include "support/Harness.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// "platform,config,...,peer,ui+cli": lowest first, folders of one rank joined by "+".
QHash<QString, int> ranks(const QString& order)
{
    QHash<QString, int> rank;
    const QStringList levels = order.split(',', Qt::SkipEmptyParts);
    for (int i = 0; i < levels.size(); ++i)
        for (const QString& folder : levels[i].split('+', Qt::SkipEmptyParts))
            rank.insert(folder, i);
    return rank;
}

bool isWidgetHeader(const QString& header)
{
    if (header.startsWith(QLatin1String("QtWidgets/")))
        return true;
    const QString widgets = QLibraryInfo::path(QLibraryInfo::HeadersPath) + QStringLiteral("/QtWidgets/");
    return !header.contains('/') && QFileInfo::exists(widgets + header);
}

// Every include under srcDir that breaks the rule, as "file:line: why".
QStringList violations(const QString& srcDir, const QString& order)
{
    static const QRegularExpression include(QStringLiteral(R"(^\s*#\s*include\s*(["<])([^">]+)[">])"));
    const QHash<QString, int> rank = ranks(order);
    const QDir root(srcDir);
    QStringList found;
    QDirIterator it(srcDir, {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString rel = root.relativeFilePath(it.next());
        const QString own = rel.section('/', 0, 0);
        if (!rank.contains(own) || !rel.contains('/')) {
            found << rel + QStringLiteral(":1: not in a folder of the layer order");
            continue;
        }
        QFile f(it.filePath());
        if (!f.open(QIODevice::ReadOnly)) {
            found << rel + QStringLiteral(":1: unreadable");
            continue;
        }
        int n = 0;
        while (!f.atEnd()) {
            ++n;
            const auto m = include.match(QString::fromUtf8(f.readLine()));
            if (!m.hasMatch())
                continue;
            const QString target = m.captured(2);
            const QString where = QStringLiteral("%1:%2: ").arg(rel).arg(n);
            if (m.captured(1) == QLatin1String("<")) {
                if (own != QLatin1String("ui") && isWidgetHeader(target))
                    found << where + QStringLiteral("widget header <%1> outside ui/").arg(target);
                continue;
            }
            const QString folder = target.section('/', 0, 0);
            if (!target.contains('/') || !rank.contains(folder))
                continue; // generated files (moc) and headers beside the includer
            if (folder != own && rank[folder] >= rank[own])
                found << where
                             + QStringLiteral("%1/ includes %2/ (\"%3\"), which is not below it")
                                   .arg(own, folder, target);
        }
    }
    found.sort();
    return found;
}

} // namespace

class TestLayers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The checker itself, on small trees: each row is one file and what it includes.
    void checker_data()
    {
        columns<QString, QString>("file", "text");
        QTest::addColumn<QString>("expected"); // start of the one violation, empty for none
        QTest::newRow("down") << "transfer/T.cpp"
                              << "#include \"session/Session.h\"\n#include \"transfer/T.h\"\n"
                                 "#include <QTcpSocket>\n#include \"T.moc\"\n// #include \"ui/W.h\"\n"
                              << "";
        QTest::newRow("up") << "session/S.cpp"
                            << "#include \"transfer/TransferManager.h\"\n"
                            << "session/S.cpp:1: session/ includes transfer/";
        QTest::newRow("up, spaced, line 3") << "core/C.h"
                                            << "#pragma once\n\n  #  include \"peer/Peer.h\"\n"
                                            << "core/C.h:3: core/ includes peer/";
        QTest::newRow("sideways at the top") << "ui/W.cpp"
                                             << "#include \"cli/CliPeer.h\"\n"
                                             << "ui/W.cpp:1: ui/ includes cli/";
        QTest::newRow("widget below ui") << "queue/Q.h"
                                         << "#include <QWidget>\n"
                                         << "queue/Q.h:1: widget header <QWidget>";
        QTest::newRow("widget module path") << "util/U.cpp"
                                            << "#include <QtWidgets/QLabel>\n"
                                            << "util/U.cpp:1: widget header";
        QTest::newRow("widget in ui") << "ui/W.cpp"
                                      << "#include <QWidget>\n#include \"peer/Peer.h\"\n"
                                      << "";
        QTest::newRow("unknown folder") << "stray/X.cpp"
                                        << "\n"
                                        << "stray/X.cpp:1: not in a folder";
    }
    void checker()
    {
        auto [file, text, expected] = fetch<QString, QString, QString>("file", "text", "expected");
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(file), text.toUtf8()));
        const QStringList found = violations(
            dir.path(), QStringLiteral("platform,config,identity,util,core,session,transfer,queue,peer,ui+cli"));
        if (expected.isEmpty()) {
            QCOMPARE(found, QStringList());
        } else {
            QCOMPARE(found.size(), 1);
            QVERIFY2(found[0].startsWith(expected), qPrintable(found[0]));
        }
    }

    // The real tree, in the order the build declares.
    void sourceTree()
    {
        const QString src = qEnvironmentVariable("ZANTIRO_SOURCE_DIR");
        const QString order = qEnvironmentVariable("ZANTIRO_LAYER_ORDER");
        QVERIFY2(QFileInfo(src + QStringLiteral("/peer")).isDir(), "ZANTIRO_SOURCE_DIR must name src/");
        QVERIFY2(ranks(order).size() >= 10, qPrintable(QStringLiteral("layer order: ") + order));
        const QStringList found = violations(src, order);
        QVERIFY2(found.isEmpty(), qPrintable(found.join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestLayers)
#include "tst_layers.moc"
