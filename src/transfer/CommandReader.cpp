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
    {CommandReader::SumDiffers, "SUM_DIFFS"},
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
    bool waitingDigits = false;
    bool plausible = true;
    qsizetype pos = 0;
    const qsizetype n = pending.size();
    while (pos < n) {
        const QByteArrayView rest(pending.constData() + pos, n - pos);
        bool matched = false;
        bool waiting = false;
        waitingDigits = false;
        for (const Known& k : kCommands) {
            const QByteArrayView cmd(k.text);
            if (rest.startsWith(cmd)) {
                qsizetype end = pos + cmd.size();
                if (k.kind == Resume) {
                    qsizetype j = end;
                    while (j < n && j - end < kMaxDigits && isDigit(pending[j]))
                        ++j;
                    const bool ended = j < n || j - end == kMaxDigits || quietOver;
                    if (!ended) {
                        waiting = true; // more digits may follow
                        waitingDigits = true;
                        plausible = !offsetPlausible || offsetPlausible(pending.mid(end, j - end));
                        break;
                    }
                    out.push_back({k.kind, pending.mid(end, j - end)});
                    end = j;
                } else if (k.kind == Checksum) {
                    if (n - end < kChecksumDigits) {
                        waiting = true; // the digits are still to come
                        break;
                    }
                    out.push_back({k.kind, pending.mid(end, kChecksumDigits)});
                    end += kChecksumDigits;
                } else {
                    out.push_back({k.kind, {}});
                }
                pos = end;
                matched = true;
                break;
            }
            if (cmd.startsWith(rest)) {
                waiting = true; // the beginning of a command; the rest is still to come
                break;
            }
        }
        if (waiting)
            break;
        if (!matched) {
            ++pos; // not the start of any command
            ++skippedBytes;
        }
    }
    pending.remove(0, pos);
    if (waitingDigits && !quietOver)
        quiet.start(plausible ? quietMs : longQuietMs);
    if (out.size() != before)
        Q_EMIT ready();
}
