// Password guessing against a listening peer: logs in with a wrong password on one
// connection, waits for each answer before the next try and counts the answers for a given
// time. The same run against a peer that requires no password shows how fast logins are
// answered when nothing slows them down.
//
// A peer leaves out answers beyond the rate it allows; with RESEND_MS the client sends the
// next login when an answer has not come within that time, instead of waiting on.
//
// usage: guesses PORT SECONDS [RESEND_MS]
// output: "answers <n> (refused <r>, accepted <a>) in <s> s = <rate> /s"

#include "session/ControlFramer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: guesses PORT SECONDS [RESEND_MS]\n");
        return 2;
    }
    const quint16 port = static_cast<quint16>(QByteArray(argv[1]).toUInt());
    const qint64 limitMs = QByteArray(argv[2]).toLongLong() * 1000;
    const qint64 resendMs = argc == 4 ? QByteArray(argv[3]).toLongLong() : 0;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000)) {
        std::fprintf(stderr, "guesses: cannot connect: %s\n", qPrintable(socket.errorString()));
        return 1;
    }
    ControlFramer framer;
    QElapsedTimer clock;
    clock.start();
    int refused = 0;
    int accepted = 0;
    qint64 lastAnswerMs = 0;
    for (int attempt = 0; clock.elapsed() < limitMs; ++attempt) {
        socket.write(ControlFramer::frame(QStringLiteral("PAuth:wrong%1").arg(attempt)));
        bool answered = false;
        const qint64 sentMs = clock.elapsed();
        const auto waitUntil = [&] { return resendMs > 0 ? std::min(limitMs, sentMs + resendMs) : limitMs; };
        while (!answered && clock.elapsed() < waitUntil()) {
            QByteArray plain;
            qsizetype used = 0;
            if (framer.next(plain, used) == ControlFramer::Step::Message) {
                // Other messages (the peer's record, its extensions) are not answers.
                if (plain == "PSBAD")
                    ++refused, answered = true;
                else if (plain == "PSOK")
                    ++accepted, answered = true;
                continue;
            }
            if (socket.state() != QAbstractSocket::ConnectedState) {
                std::fprintf(stderr, "guesses: the peer closed the connection\n");
                return 1;
            }
            if (socket.waitForReadyRead(int(std::max<qint64>(1, waitUntil() - clock.elapsed()))))
                framer.append(socket.readAll());
        }
        if (answered)
            lastAnswerMs = clock.elapsed();
    }
    const double seconds = double(clock.elapsed()) / 1000;
    std::printf("answers %d (refused %d, accepted %d) in %.1f s = %.3f /s; last answer after %.1f s\n",
                refused + accepted, refused, accepted, seconds, (refused + accepted) / seconds,
                double(lastAnswerMs) / 1000);
    return 0;
}
