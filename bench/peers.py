"""Helpers shared by bench/run and scripts/soak: headless peers (or any line-oriented
process) driven through their standard input and read through their standard output,
free loopback ports, and what /proc says about a process."""

import os
import select
import socket
import subprocess
import time

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def free_ports(count=3):
    """The first of `count` consecutive free loopback ports (control, transfer commands, data),
    below the range the system picks the local ports of outgoing connections from: one of
    those could take a port a peer is about to listen on."""
    base = 10000 + (os.getpid() * 7) % 19000
    for start in range(base, base + 3000, count):
        socks = []
        try:
            for p in range(start, start + count):
                s = socket.socket()
                s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                s.bind(("127.0.0.1", p))
                socks.append(s)
            return start
        except OSError:
            continue
        finally:
            for s in socks:
                s.close()
    raise RuntimeError("no free port range found")


class Proc:
    """A child process whose standard output is read line by line without blocking."""

    def __init__(self, argv, name, stderr_to_stdout=True, env=None):
        self.name = name
        self.argv = argv
        self.p = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT if stderr_to_stdout else subprocess.PIPE,
                                  bufsize=0, env=env)
        self.pid = self.p.pid
        self.fd = self.p.stdout.fileno()
        os.set_blocking(self.fd, False)
        self.buf = b""
        self.lines = []  # every line so far
        self.cursor = 0  # where wait_line goes on looking
        self.eof = False
        self.status = None
        # The highest VmHWM read so far. The peak wait4 reports is no use here: a child of
        # this process counts this process's own peak up to its start as well.
        self.peak_kib = 0
        self._peak_read = 0.0
        self.cpu_s = None  # user plus system time, once it has exited

    def send(self, line):
        self.p.stdin.write(line.encode() + b"\n")

    def close_stdin(self):
        try:
            self.p.stdin.close()
        except OSError:
            pass

    def _read(self):
        """Takes what the pipe holds; returns the new whole lines."""
        new = []
        while True:
            try:
                chunk = os.read(self.fd, 1 << 16)
            except BlockingIOError:
                break
            if not chunk:
                self.eof = True
                break
            self.buf += chunk
        if b"\n" in self.buf:
            *whole, self.buf = self.buf.split(b"\n")
            new = [w.decode("utf-8", "replace") for w in whole]
            self.lines.extend(new)
            if len(self.lines) > 200000:
                # A long run keeps only its recent lines.
                drop = len(self.lines) - 1000
                del self.lines[:drop]
                self.cursor = max(0, self.cursor - drop)
        return new

    def wait_line(self, match, timeout):
        """Returns the first line after the one the last call returned for which match(line)
        holds, reading as needed; None at the time-out."""
        deadline = time.monotonic() + timeout
        while True:
            self._read()
            while self.cursor < len(self.lines):
                line = self.lines[self.cursor]
                self.cursor += 1
                if match(line):
                    return line
            if self.eof:
                return None
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            select.select([self.fd], [], [], left)

    def wait_exit(self, timeout):
        """Waits for the process to end, reading its output; returns its status or None."""
        deadline = time.monotonic() + timeout
        while self.status is None:
            self._read()
            self.note_peak(0)
            pid, status, usage = os.wait4(self.pid, os.WNOHANG)
            if pid == self.pid:
                self.status = os.waitstatus_to_exitcode(status)
                self.cpu_s = usage.ru_utime + usage.ru_stime
                self.p.returncode = self.status
                self._read()
                break
            if time.monotonic() > deadline:
                return None
            select.select([self.fd], [], [], 0.05)
        return self.status

    def kill(self):
        # Popen.kill() reaps a process that has already ended without telling wait4: look first.
        if self.status is None and self.wait_exit(0) is None:
            try:
                self.p.kill()
            except ProcessLookupError:
                pass
            if self.p.returncode is not None:  # ended just now, and reaped by kill()
                self.status = self.p.returncode
            self.wait_exit(10)

    def cpu_ticks(self):
        """User plus system time so far, in clock ticks."""
        with open(f"/proc/{self.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])

    def memory_kib(self):
        """(VmHWM, VmRSS) in KiB."""
        got = {}
        with open(f"/proc/{self.pid}/status") as f:
            for line in f:
                key, _, value = line.partition(":")
                if key in ("VmHWM", "VmRSS"):
                    got[key] = int(value.split()[0])
        return got["VmHWM"], got["VmRSS"]

    def note_peak(self, every=0.02):
        """Reads VmHWM unless it was read less than `every` seconds ago. pump() calls it for
        each process, so peak_kib misses at most what the last moments before the exit add."""
        now = time.monotonic()
        if self.status is not None or now - self._peak_read < every:
            return
        self._peak_read = now
        try:
            self.peak_kib = max(self.peak_kib, self.memory_kib()[0])
        except (OSError, KeyError):
            pass  # gone, or its memory already released

    def descriptors(self):
        return len(os.listdir(f"/proc/{self.pid}/fd"))

    def tail(self, n=15):
        self._read()
        return "\n".join(f"  {self.name}: {line}" for line in self.lines[-n:])


def pump(procs, timeout):
    """Reads whatever any of procs has to say for up to timeout seconds; returns
    [(proc, line)] in arrival order per process."""
    got = []
    for p in procs:
        p.note_peak()
        got += [(p, line) for line in p._read()]
    if got or timeout <= 0:
        return got
    ready, _, _ = select.select([p.fd for p in procs if not p.eof], [], [], timeout)
    for p in procs:
        if p.fd in ready:
            got += [(p, line) for line in p._read()]
    return got
