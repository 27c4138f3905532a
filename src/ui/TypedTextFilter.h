#pragma once
#include <QString>
#include <QValidator>

#include <functional>

class QLineEdit;

// The filter of a box whose text goes into a file: characters the box does not take are
// left out of what was typed, pasted or dropped, and the box's notice names them (all those
// refused since the box was loaded) and says why, so nothing typed disappears unseen. A
// whole text the file could not hold (a marker of its format) refuses the change, also with
// a notice. Text the program puts into the box with load() is kept as it is, even when it
// holds characters that could not be typed.
class TypedTextFilter : public QValidator {
public:
    using CharTest = std::function<bool(QChar)>;
    using TextTest = std::function<QString(const QString&)>; // why a text is refused, or empty
    using Notice = std::function<void(const QString&)>;

    // rule: what the box takes, shown after the refused characters.
    TypedTextFilter(QLineEdit* box, CharTest takes, QString rule, Notice notice, TextTest whole = {});

    // Puts text into box unfiltered and clears its notice.
    static void load(QLineEdit* box, const QString& text);
    // The notice for refused characters: each one quoted (control characters by number), then the rule.
    static QString refusal(const QString& refused, const QString& rule);

    State validate(QString& input, int& pos) const override;

private:
    CharTest takes;
    QString rule;
    Notice notice;
    TextTest whole;
    QString baseline;             // the box's text before the change being validated
    mutable QString refusedSoFar; // since the box was last loaded, so a notice lists them all
};
