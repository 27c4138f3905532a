#include "ui/AnswerClock.h"

#include <QBoxLayout>

AnswerClock::AnswerClock(QDeadlineTimer d, QWidget* parent) : QLabel(parent), deadline(d)
{
    setObjectName(QStringLiteral("AnswerClock"));
    tick.setInterval(250); // fine enough that the seconds never skip
    connect(&tick, &QTimer::timeout, this, &AnswerClock::refresh);
    tick.start();
    refresh();
}

AnswerClock* AnswerClock::attach(QWidget* dialog, QDeadlineTimer deadline)
{
    auto* box = qobject_cast<QBoxLayout*>(dialog->layout());
    if (deadline.isForever() || !box)
        return nullptr;
    auto* clock = new AnswerClock(deadline, dialog);
    box->addWidget(clock, 0, Qt::AlignRight);
    return clock;
}

QString AnswerClock::text(qint64 remainingMs)
{
    const qint64 s = (std::max<qint64>(remainingMs, 0) + 999) / 1000; // whole seconds, rounded up
    return QStringLiteral("Answer within %1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

void AnswerClock::refresh()
{
    const qint64 left = deadline.remainingTime();
    setText(text(left));
    if (left <= 0)
        tick.stop();
}
