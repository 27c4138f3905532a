#pragma once
// Small tools the window tests share: finding actions and labels by name, leaving a window
// by its close box and typing as a keyboard does. (Data rows as string lists: support/Harness.h.)
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>

// The action named `name` under `scope` (menu entry, popup entry or toolbar button).
inline QAction* act(QObject* scope, const QString& name)
{
    return scope->findChild<QAction*>(name);
}

// The text of the label named `name`, or "<missing>".
inline QString labelText(QWidget* scope, const QString& name)
{
    auto* l = scope ? scope->findChild<QLabel*>(name) : nullptr;
    return l ? l->text() : QStringLiteral("<missing>");
}

// What the window manager's close box delivers.
inline void closeByCloseBox(QWidget* w)
{
    QCloseEvent ev;
    QApplication::sendEvent(w, &ev);
}

// Clicks an option button or a check box on its indicator (the middle of a wide one is no hit).
inline void clickIndicator(QAbstractButton* b)
{
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
}

// Types text key by key, also characters beyond ASCII, as a keyboard layout gives them.
inline void typeKeys(QWidget* box, const QString& text)
{
    for (QChar c : text)
        c.unicode() < 0x80 ? QTest::keyClick(box, char(c.unicode()))
                           : QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// The lines of a transcript pane (every line ends with a line end).
inline QStringList paneLines(const QPlainTextEdit* pane)
{
    QStringList l = pane->toPlainText().split('\n');
    l.removeLast();
    return l;
}
