#pragma once
#include <QDeadlineTimer>
#include <QLabel>
#include <QTimer>

// "Answer within 0:42" under a question the sender stops waiting for: the question closes
// on its own when the sender gives up, and the user should see that coming.
class AnswerClock : public QLabel {
    Q_OBJECT
public:
    AnswerClock(QDeadlineTimer deadline, QWidget* parent);
    // Adds a clock at the bottom of dialog's box layout; none for a deadline that never comes.
    static AnswerClock* attach(QWidget* dialog, QDeadlineTimer deadline);
    static QString text(qint64 remainingMs);

private:
    void refresh();
    QDeadlineTimer deadline;
    QTimer tick;
};
