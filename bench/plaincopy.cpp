// Reference for the transfer benchmark: copies a file through a loopback TCP connection to
// itself in 8192-byte reads and writes (or BLOCK bytes), and prints the rate. One process
// forks: the child sends, the parent receives and writes the target.
//
// usage: plaincopy SOURCE TARGET [BLOCK]   ("-" for standard input or output: then any length)
// output: "plain: <bytes> bytes in <seconds> s = <MB/s> MB/s" (MB = 1000000 bytes)

#include "PosixIo.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

const char* const programName = "plaincopy";

namespace {

// Child: connect and send the file in blocks of `block` bytes.
int sendFile(const char* source, sockaddr_in addr, size_t block)
{
    const bool stdIn = std::strcmp(source, "-") == 0;
    const int in = stdIn ? STDIN_FILENO : ::open(source, O_RDONLY);
    if (in < 0)
        fail("open source");
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        fail("socket");
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0)
        fail("connect");
    std::vector<char> buf(block);
    for (;;) {
        const ssize_t r = ::read(in, buf.data(), buf.size());
        if (r < 0) {
            if (errno == EINTR)
                continue;
            fail("read source");
        }
        if (r == 0)
            break;
        if (!writeAll(s, buf.data(), static_cast<size_t>(r)))
            fail("send");
    }
    ::close(in);
    ::close(s);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: plaincopy SOURCE TARGET [BLOCK]\n");
        return 2;
    }
    size_t block = 8192;
    if (argc == 4) {
        block = std::strtoul(argv[3], nullptr, 10);
        if (block == 0 || block > (size_t{64} << 20)) {
            std::fprintf(stderr, "plaincopy: BLOCK from 1 to 64 MiB\n");
            return 2;
        }
    }
    // From a pipe the length is not known beforehand: whatever arrives is copied.
    const bool fromPipe = std::strcmp(argv[1], "-") == 0;
    struct stat st {};
    if (!fromPipe && ::stat(argv[1], &st) < 0)
        fail("stat source");

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener < 0)
        fail("socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0; // any free port
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0)
        fail("bind");
    if (::listen(listener, 1) < 0)
        fail("listen");
    socklen_t len = sizeof addr;
    if (::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) < 0)
        fail("getsockname");

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child < 0)
        fail("fork");
    if (child == 0) {
        ::close(listener);
        return sendFile(argv[1], addr, block);
    }

    const int conn = ::accept(listener, nullptr, nullptr);
    if (conn < 0)
        fail("accept");
    ::close(listener);
    const bool toPipe = std::strcmp(argv[2], "-") == 0;
    const int out = toPipe ? STDOUT_FILENO : ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0)
        fail("open target");
    std::vector<char> buf(block);
    long long total = 0;
    for (;;) {
        const ssize_t r = ::read(conn, buf.data(), buf.size());
        if (r < 0) {
            if (errno == EINTR)
                continue;
            fail("receive");
        }
        if (r == 0)
            break;
        if (!writeAll(out, buf.data(), static_cast<size_t>(r)))
            fail("write target");
        total += r;
    }
    ::close(out);
    ::close(conn);
    int status = 0;
    ::waitpid(child, &status, 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || (!fromPipe && total != st.st_size)) {
        std::fprintf(stderr, "plaincopy: copied %lld of %lld bytes\n", total, static_cast<long long>(st.st_size));
        return 1;
    }
    std::fprintf(toPipe ? stderr : stdout, "plain: %lld bytes in %.3f s = %.1f MB/s\n", total, seconds,
                 total / seconds / 1e6);
    return 0;
}
