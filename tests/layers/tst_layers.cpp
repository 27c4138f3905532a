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
    // The checker itself, on a small tree: one violation for each file that breaks the rule, by
    // its line, and none for includes downwards, beside, of moc files, in comments or of widgets
    // in ui/.
    void checker()
    {
        QTemporaryDir dir;
        const QList<std::pair<QString, QByteArray>> files = {
            {"transfer/T.cpp", "#include \"session/Session.h\"\n#include \"transfer/T.h\"\n#include <QTcpSocket>\n"
                               "#include \"T.moc\"\n// #include \"ui/W.h\"\n"},
            {"session/S.cpp", "#include \"transfer/TransferManager.h\"\n"},
            {"core/C.h", "#pragma once\n\n  #  include \"peer/Peer.h\"\n"},
            {"ui/W.cpp", "#include <QWidget>\n#include \"peer/Peer.h\"\n#include \"cli/CliPeer.h\"\n"},
            {"queue/Q.h", "#include <QWidget>\n"},
            {"util/U.cpp", "#include <QtWidgets/QLabel>\n"},
            {"stray/X.cpp", "\n"}};
        for (const auto& [file, text] : files)
            QVERIFY(writeFile(dir.filePath(file), text));
        const QString up = "%1:%2: %3/ includes %4/ (\"%5\"), which is not below it";
        QCOMPARE(violations(dir.path(), "platform,config,identity,util,core,session,transfer,queue,peer,ui+cli"),
                 (QStringList{up.arg("core/C.h").arg(3).arg("core", "peer", "peer/Peer.h"),
                              "queue/Q.h:1: widget header <QWidget> outside ui/",
                              up.arg("session/S.cpp").arg(1).arg("session", "transfer", "transfer/TransferManager.h"),
                              "stray/X.cpp:1: not in a folder of the layer order",
                              up.arg("ui/W.cpp").arg(3).arg("ui", "cli", "cli/CliPeer.h"),
                              "util/U.cpp:1: widget header <QtWidgets/QLabel> outside ui/"}));
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
