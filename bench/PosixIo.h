#pragma once
// What the plain reference programs share: leaving with the system's reason, and writing a
// whole buffer to a descriptor.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Set by each program to its own name, for its messages.
extern const char* const programName;

[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "%s: %s: %s\n", programName, what, std::strerror(errno));
    std::exit(1);
}

inline bool writeAll(int fd, const char* data, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}
