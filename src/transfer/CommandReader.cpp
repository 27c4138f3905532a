#include "transfer/CommandReader.h"

namespace {

struct Known {
    CommandReader::Kind kind;
    const char* text;
};

constexpr Known kCommands[] = {
    {CommandReader::AcceptTransfer, "ACCE_TRAN"}, {CommandReader::Resume, "RESUME_TR"},
    {CommandReader::GotAll, "Got All"},           {CommandReader::EndTransfer, "END_TRANS"},
    {CommandReader::Cancel, "CANC_TRAN"},         {CommandReader::CancelOkay, "CANC_OKAY"},
    {CommandReader::Checksum, "CHECK_SUM"},       {CommandReader::SumMatch, "SUM_MATCH"},
    {CommandReader::SumDiffers, "SUM_DIFFS"},     {CommandReader::RunReady, "RUN_READY"},
};

constexpr qsizetype kChecksumDigits = 32;

constexpr qsizetype kMaxDigits = 19; // the most a 64-bit offset needs

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

CommandReader::CommandReader(QObject* parent) : QObject(parent)
{
    quiet.setSingleShot(true);
    connect(&quiet, &QTimer::timeout, this, [this] { scan(true); });
}

QByteArray CommandReader::text(Kind kind)
{
    for (const Known& k : kCommands)
        if (k.kind == kind)
            return QByteArray(k.text);
    return {};
}

void CommandReader::feed(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    quiet.stop();
    pending += bytes;
    scan(false);
}

std::vector<CommandReader::Command> CommandReader::take()
{
    return std::exchange(out, {});
}

void CommandReader::scan(bool quietOver)
{
    const std::size_t before = out.size();
    bool plausible = true;
    Match last = Match::None;
    qsizetype pos = 0;
    while (pos < pending.size()) {
        last = takeAt(pos, quietOver, plausible);
        if (last == Match::Waiting || last == Match::WaitingDigits)
            break;
        if (last == Match::None) {
            ++pos; // not the start of any command
            ++skippedBytes;
        }
    }
    pending.remove(0, pos);
    if (last == Match::WaitingDigits && !quietOver)
        quiet.start(plausible ? quietMs : longQuietMs);
    if (out.size() != before)
        Q_EMIT ready();
}

CommandReader::Match CommandReader::takeAt(qsizetype& pos, bool quietOver, bool& plausible)
{
    const QByteArrayView rest(pending.constData() + pos, pending.size() - pos);
    for (const Known& k : kCommands) {
        const QByteArrayView command(k.text);
        if (rest.startsWith(command))
            return takeCommand(k.kind, pos, pos + command.size(), quietOver, plausible);
        if (command.startsWith(rest))
            return Match::Waiting; // the beginning of a command; the rest is still to come
    }
    return Match::None;
}

CommandReader::Match CommandReader::takeCommand(Kind kind, qsizetype& pos, qsizetype end, bool quietOver,
                                                bool& plausible)
{
    const qsizetype n = pending.size();
    if (kind == Resume) {
        qsizetype j = end;
        while (j < n && j - end < kMaxDigits && isDigit(pending[j]))
            ++j;
        const bool ended = j < n || j - end == kMaxDigits || quietOver;
        if (!ended) { // more digits may follow
            plausible = !offsetPlausible || offsetPlausible(pending.mid(end, j - end));
            return Match::WaitingDigits;
        }
        out.push_back({kind, pending.mid(end, j - end)});
        end = j;
    } else if (kind == Checksum) {
        if (n - end < kChecksumDigits)
            return Match::Waiting; // the digits are still to come
        out.push_back({kind, pending.mid(end, kChecksumDigits)});
        end += kChecksumDigits;
    } else {
        out.push_back({kind, {}});
    }
    pos = end;
    return Match::Taken;
}
