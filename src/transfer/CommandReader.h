#pragma once
#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <functional>
#include <vector>

// Cuts the transfer commands out of the byte stream of the command connection. The commands
// are fixed texts sent bare, so segments may carry several of them or part of one:
// - at the front of the buffer a known command is taken as soon as it is complete;
// - a buffer that is the beginning of a command waits for more bytes;
// - "RESUME_TR" takes the decimal digits that follow it; they end at the first non-digit, or
//   when no further byte arrives for `quietMs` (the offset is the last thing a receiver sends
//   before the data, so a short quiet period is a safe end); digits that `offsetPlausible`
//   rejects wait up to `longQuietMs` for more, since TCP may have cut the number; at most 19
//   digits are taken;
// - bytes that start no known command are skipped up to the next place where one could start.
class CommandReader : public QObject {
    Q_OBJECT
public:
    // The last three pass only between two peers of this program that share "verify":
    // "CHECK_SUM" + 32 hexadecimal digits (the sender's checksum of the whole file), and the
    // receiver's verdict "SUM_MATCH" or "SUM_DIFFS".
    // "RUN_READY" (receiver to sender, after a file offered with "frun"): the connections stay
    // open for the next files of the run.
    enum Kind {
        AcceptTransfer,
        Resume,
        GotAll,
        EndTransfer,
        Cancel,
        CancelOkay,
        Checksum,
        SumMatch,
        SumDiffers,
        RunReady
    };
    struct Command {
        Kind kind;
        QByteArray argument; // "RESUME_TR": its digits; "CHECK_SUM": the checksum
    };

    explicit CommandReader(QObject* parent = nullptr);

    int quietMs = 50;
    int longQuietMs = 5000;
    // Whether the digits so far make an offset the peer could mean (empty: any).
    std::function<bool(const QByteArray& digits)> offsetPlausible;

    // Adds received bytes; complete commands come out of ready().
    void feed(const QByteArray& bytes);
    // The commands complete so far, taken out.
    std::vector<Command> take();
    // Bytes skipped as garbage so far.
    qint64 skipped() const { return skippedBytes; }
    // Bytes received that are neither part of a command taken nor skipped yet: the start of
    // a command still coming. Every byte fed is in exactly one of the three.
    const QByteArray& unread() const { return pending; }

    static QByteArray text(Kind kind);

Q_SIGNALS:
    // New commands can be taken.
    void ready();

private:
    // What is at one position of the buffer.
    enum class Match {
        Taken,         // a whole command, taken out; the position moved past it
        Waiting,       // the beginning of a command (or of its argument): more bytes are needed
        WaitingDigits, // "RESUME_TR" and digits that may go on
        None,          // no command starts here
    };
    void scan(bool quietOver);
    Match takeAt(qsizetype& pos, bool quietOver, bool& plausible);
    Match takeCommand(Kind kind, qsizetype& pos, qsizetype end, bool quietOver, bool& plausible);
    QByteArray pending;
    std::vector<Command> out;
    QTimer quiet;
    qint64 skippedBytes = 0;
};
