// Reference for the chat round trip: the same path as two headless peers (a driver writes to
// one process's standard input, the bytes cross a loopback TCP connection, the other process
// writes them to its standard output) without any protocol. Each process forwards whatever
// its standard input gives to the socket and whatever the socket gives to its standard output,
// at once, as the peers do.
//
// usage: linerelay listen PORT | linerelay connect PORT
// The listening side prints "listening" on standard error once it listens.

#include "PosixIo.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

const char* const programName = "linerelay";

namespace {

int openSocket(bool listen, int port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        fail("socket");
    if (!listen) {
        if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0)
            fail("connect");
        return s;
    }
    const int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0)
        fail("bind");
    if (::listen(s, 1) < 0)
        fail("listen");
    std::fprintf(stderr, "listening\n");
    const int conn = ::accept(s, nullptr, nullptr);
    if (conn < 0)
        fail("accept");
    ::close(s);
    return conn;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || (std::strcmp(argv[1], "listen") != 0 && std::strcmp(argv[1], "connect") != 0)) {
        std::fprintf(stderr, "usage: linerelay listen|connect PORT\n");
        return 2;
    }
    const int sock = openSocket(std::strcmp(argv[1], "listen") == 0, std::atoi(argv[2]));
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {sock, POLLIN, 0}};
    char buf[65536];
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            fail("poll");
        }
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t r = ::read(fds[i].fd, buf, sizeof buf);
            if (r <= 0)
                return 0; // either end closed: done
            if (!writeAll(i == 0 ? sock : STDOUT_FILENO, buf, static_cast<size_t>(r)))
                fail("write");
        }
    }
}
