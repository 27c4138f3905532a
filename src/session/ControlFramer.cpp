#include "session/ControlFramer.h"

#include "config/Scramble.h"
#include "platform/Windows1252.h"

#include <algorithm>

ControlFramer::Step ControlFramer::next(QByteArray& plain, qsizetype& used)
{
    const qsizetype end = inbox.indexOf(Terminator, scanFrom);
    if (end < 0) {
        // A terminator may straddle what is here and what comes next.
        scanFrom = std::max<qsizetype>(0, inbox.size() - (Terminator.size() - 1));
        return scanFrom > maxMessageBytes ? Step::TooLong : Step::NeedMore;
    }
    if (end > maxMessageBytes)
        return Step::TooLong;
    plain = unscramble(inbox.left(end));
    used = end + Terminator.size();
    inbox.remove(0, used);
    scanFrom = 0;
    return Step::Message;
}

void ControlFramer::clear()
{
    inbox.clear();
    scanFrom = 0;
}

QByteArray ControlFramer::frame(const QString& text, bool utf8)
{
    return scramble(utf8 ? text.toUtf8() : scramblableBytes(text)) + Terminator;
}

QString ControlFramer::decode(const QByteArray& plain, bool utf8)
{
    return utf8 ? QString::fromUtf8(plain) : Windows1252::decode(plain);
}
