#pragma once
// Headless peers run as processes of their own, and their output lines.
#include "support/Harness.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

inline QString cli()
{
    return qEnvironmentVariable("ZANTIRO_CLI");
}

// Output lines without their "[h:mm] " stamps.
inline QStringList lines(QProcess& p, QByteArray& seen)
{
    seen += p.readAllStandardOutput();
    QStringList out;
    for (const QByteArray& l : seen.split('\n')) {
        QString s = QString::fromUtf8(l);
        s.remove(QRegularExpression(R"(^\[\d{1,2}:\d\d\] )"));
        if (!s.isEmpty())
            out << s;
    }
    return out;
}

// Starts a headless peer listening on port, with input on its standard input, and waits until
// it says it listens.
inline bool listening(QProcess& p, QByteArray& out, const QString& port, const QStringList& args,
                      const QByteArray& input = {})
{
    p.start(cli(), QStringList{"--listen", port} + args);
    p.write(input);
    return p.waitForStarted()
           && QTest::qWaitFor([&] { return lines(p, out).contains("*** Waiting on Port : " + port); }, 10000);
}

// A listening peer and a peer connecting to it, each a process of its own.
struct Run {
    QProcess server, client;
    QByteArray sOut, cOut;
    QByteArray serverInput; // read before any client logs in
    const QString port = QString::number(freePortTriple());
    bool start(const QStringList& serverArgs, const QStringList& clientArgs)
    {
        if (!listening(server, sOut, port, serverArgs, serverInput))
            return false;
        const bool own = clientArgs.contains("--site") || clientArgs.contains("--connect");
        const QStringList to = own ? QStringList{} : QStringList{"--connect", "127.0.0.1:" + port};
        client.start(cli(), to + clientArgs);
        return client.waitForStarted();
    }
    // Runs both to their own end.
    bool go(const QStringList& serverArgs, const QStringList& clientArgs)
    {
        return start(serverArgs, clientArgs) && server.waitForFinished(20000) && client.waitForFinished(20000);
    }
    QStringList serverLines() { return lines(server, sOut); }
    QList<int> exitCodes() { return {server.exitCode(), client.exitCode()}; }
    QStringList clientLines() { return lines(client, cOut); }
};

// One headless peer process with a program folder of its own, its output lines and its input.
struct CliProcess {
    QProcess p;
    QByteArray out;
    QString home;
    explicit CliProcess(const QString& folder) : home(folder) {}
    bool start(const QStringList& args)
    {
        out.clear();
        p.start(cli(), QStringList{"--home", home} + args);
        return p.waitForStarted();
    }
    QStringList lines() { return ::lines(p, out); }
    bool has(const QString& line) { return lines().contains(line); }
    qsizetype count(const QString& line) { return lines().count(line); }
    bool waitFor(const QString& line, int ms = 20000)
    {
        return QTest::qWaitFor([&] { return has(line); }, ms);
    }
    void say(const QString& line) { p.write(line.toUtf8() + '\n'); }
    bool running() const { return p.state() == QProcess::Running; }
    // Waits for its end; its exit status, -1 when it did not end in time or crashed.
    int exitCode(int ms = 20000)
    {
        const bool ended = QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, ms);
        return ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
};
