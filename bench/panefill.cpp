// Appending to a chat pane: appends N lines to a shown transcript pane offscreen and, as the
// reference, the same lines to a plain QPlainTextEdit with the same line limit, and prints
// both times (each until the window has laid out and painted what it holds).
//
// usage: QT_QPA_PLATFORM=offscreen panefill N
// output: "pane <n> lines <ms> ms; plain <ms> ms"

#include "ui/TranscriptPane.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTextBlock>

#include <cstdio>

namespace {

QString lineText(int i)
{
    return QStringLiteral("[12:34:56] Ann: line %1 of the chat, with a few words more").arg(i);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int n = argc == 2 ? QByteArray(argv[1]).toInt() : 0;
    if (n < 1) {
        std::fprintf(stderr, "usage: panefill N\n");
        return 2;
    }
    TranscriptPane pane(QStringLiteral("bench"));
    QPlainTextEdit plain;
    plain.setReadOnly(true);
    plain.setMaximumBlockCount(TranscriptPane::maxLines);
    for (QWidget* w : {static_cast<QWidget*>(&pane), static_cast<QWidget*>(&plain)}) {
        w->resize(640, 480);
        w->show();
    }
    QApplication::processEvents();

    QElapsedTimer t;
    t.start();
    const QColor colour(0, 0, 128);
    for (int i = 0; i < n; ++i)
        pane.addLine(lineText(i), colour);
    pane.repaint();
    QApplication::processEvents();
    const double paneMs = double(t.nsecsElapsed()) / 1e6;

    t.restart();
    for (int i = 0; i < n; ++i)
        plain.appendPlainText(lineText(i));
    plain.repaint();
    QApplication::processEvents();
    const double plainMs = double(t.nsecsElapsed()) / 1e6;

    // The pane ends with a line end, so its last block is empty: the last line is the one before.
    const QString last = pane.document()->lastBlock().previous().text();
    if (last != lineText(n - 1) || plain.document()->lastBlock().text() != lineText(n - 1)) {
        std::fprintf(stderr, "panefill: last line \"%s\"\n", qPrintable(last));
        return 1;
    }
    std::printf("pane %d lines %.1f ms; plain %.1f ms\n", n, paneMs, plainMs);
    return 0;
}
