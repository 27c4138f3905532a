#include "ui/TypedTextFilter.h"

#include <QLineEdit>

TypedTextFilter::TypedTextFilter(QLineEdit* box, CharTest t, QString r, Notice n, TextTest w)
    : QValidator(box), takes(std::move(t)), rule(std::move(r)), notice(std::move(n)), whole(std::move(w)),
      baseline(box->text())
{
    connect(box, &QLineEdit::textChanged, this, [this](const QString& text) { baseline = text; });
}

void TypedTextFilter::load(QLineEdit* box, const QString& text)
{
    auto* filter = const_cast<TypedTextFilter*>(dynamic_cast<const TypedTextFilter*>(box->validator()));
    if (filter) {
        filter->baseline = text;
        filter->refusedSoFar.clear();
    }
    box->setText(text);
    if (filter && filter->notice)
        filter->notice({});
}

QString TypedTextFilter::refusal(const QString& refused, const QString& rule)
{
    QStringList shown;
    for (const QChar c : refused) {
        const QString one = c.isPrint() ? QStringLiteral("\"%1\"").arg(c)
                                        : QStringLiteral("U+%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
        if (!shown.contains(one))
            shown << one;
    }
    return QStringLiteral("Not taken: %1. %2").arg(shown.join(QLatin1Char(' ')), rule);
}

QValidator::State TypedTextFilter::validate(QString& input, int& pos) const
{
    // What changed is what lies between the text both versions start and end with.
    qsizetype head = 0;
    while (head < baseline.size() && head < input.size() && baseline[head] == input[head])
        ++head;
    qsizetype tail = 0;
    while (tail < baseline.size() - head && tail < input.size() - head
           && baseline[baseline.size() - 1 - tail] == input[input.size() - 1 - tail])
        ++tail;
    const QString added = input.mid(head, input.size() - head - tail);
    QString kept, refused;
    for (const QChar c : added)
        (takes(c) ? kept : refused) += c;
    const QString result = input.left(head) + kept + input.right(tail);
    // Only a change that brings a problem in is refused, so a stored text can be mended.
    if (whole && result != baseline && whole(baseline).isEmpty())
        if (const QString why = whole(result); !why.isEmpty()) {
            if (notice)
                notice(why + QLatin1Char('.'));
            return Invalid;
        }
    if (refused.isEmpty())
        return Acceptable;
    input = result;
    pos = int(head + kept.size());
    refusedSoFar += refused;
    if (notice)
        notice(refusal(refusedSoFar, rule));
    return Acceptable;
}
