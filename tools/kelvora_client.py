"""Talks native messaging to one kelvora_messaging process.

Frames are a 4-byte little-endian length followed by the JSON text. All
requests are written from one thread while another collects the answers, so a
host that ends early or leaves a request unanswered never blocks the caller.
"""
import json
import os
import select
import struct
import subprocess
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_EXE = os.path.join(ROOT, "build", "win64", "kelvora_messaging.exe")


def frame(body):
    if isinstance(body, str):
        body = body.encode("utf-8")
    return struct.pack("<I", len(body)) + body


def read_exact(stream, n):
    """Exactly n bytes from stream; RuntimeError when the host ends first."""
    parts, got = [], 0
    while got < n:
        chunk = stream.read(n - got)
        if not chunk:
            raise RuntimeError("host ended")
        parts.append(chunk)
        got += len(chunk)
    return b"".join(parts)


def round_trip(proc, framed):
    """Writes one framed request to a running host and returns the body of
    the answer frame that follows it."""
    proc.stdin.write(framed)
    proc.stdin.flush()
    (n,) = struct.unpack("<I", read_exact(proc.stdout, 4))
    return read_exact(proc.stdout, n)


def host_command(exe, args=()):
    """The command line that starts exe: under the build folder's wine runner
    when there is one, under wine64 for another .exe, directly otherwise."""
    exe = os.path.abspath(exe)
    runner = os.path.join(os.path.dirname(exe), "wine-run")
    if exe.lower().endswith(".exe"):
        launcher = os.environ.get("KELVORA_WINE")
        if launcher:
            return launcher.split() + [exe, *args]
        if os.path.exists(runner):
            return [runner, exe, *args]
        return ["/usr/lib/wine/wine64", exe, *args]
    return [exe, *args]


def start_host(exe, env=None):
    """A running host with pipes to its input and output (errors dropped),
    for callers that exchange frames one at a time."""
    return subprocess.Popen(host_command(exe), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, env=env)


class HostRun:
    """The outcome of one host process: raw output bytes, exit status."""

    def __init__(self, output, status):
        self.output = output
        self.status = status

    def frames(self):
        """Answer bodies in order; a trailing partial frame is returned as is."""
        out, data = [], self.output
        while len(data) >= 4:
            (n,) = struct.unpack("<I", data[:4])
            out.append(data[4:4 + n])
            data = data[4 + n:]
        if data:
            out.append(data)
        return out

    def texts(self):
        return [f.decode("utf-8") for f in self.frames()]


def run_raw(input_bytes, exe=DEFAULT_EXE, args=(), env=None, timeout=600):
    """Starts the host, writes input_bytes to it, closes its input and
    returns everything it wrote and its exit status."""
    proc = subprocess.Popen(host_command(exe, args), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, env=env)
    chunks = []

    def reader():
        while True:
            chunk = proc.stdout.read(1 << 16)
            if not chunk:
                break
            chunks.append(chunk)

    t = threading.Thread(target=reader, daemon=True)
    t.start()
    try:
        proc.stdin.write(input_bytes)
    except BrokenPipeError:
        pass
    try:
        proc.stdin.close()
    except BrokenPipeError:
        pass
    status = proc.wait(timeout=timeout)
    t.join(timeout=60)
    return HostRun(b"".join(chunks), status)


def run_requests(requests, **kwargs):
    """Sends JSON texts (str or bytes) as frames; returns the HostRun."""
    return run_raw(b"".join(frame(r) for r in requests), **kwargs)



def descendants(pid):
    """pid and every process below it."""
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/stat" % entry) as f:
                    parent = int(f.read().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                continue
            children.setdefault(parent, []).append(int(entry))
    out, todo = [], [pid]
    while todo:
        out.append(todo.pop())
        todo.extend(children.get(out[-1], []))
    return out


def peak_kib(pid):
    """The highest VmHWM of the process and the processes below it (the wine
    loader may exec or start the Windows process as a child), in KiB."""
    highest = 0
    for p in descendants(pid):
        try:
            with open("/proc/%d/status" % p) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        highest = max(highest, int(line.split()[1]))
        except OSError:
            pass
    return highest


class HostFailure(Exception):
    """The host did not answer a request: it ended, took too long, or its peak
    memory passed the bound (it is then ended)."""


class WatchedHost:
    """One host process asked one request at a time, its peak resident memory
    (VmHWM of /proc, over the Linux processes that run it) watched while it
    works: past `bound` bytes, or without an answer in `timeout` seconds, the
    host is ended and the request counts as unanswered, so that a hostile case
    can neither hang the caller nor exhaust the machine."""

    def __init__(self, command, env=None, bound=3 << 30, timeout=600, cwd=None):
        self.bound, self.timeout = bound, timeout
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     env=env, cwd=cwd, start_new_session=True)
        self.pending, self.count, self.highest = b"", 0, 0

    def peak(self):
        """The host's VmHWM so far, in bytes (the most seen)."""
        self.highest = max(self.highest, peak_kib(self.proc.pid) << 10)
        return self.highest

    def kill(self):
        try:
            os.killpg(self.proc.pid, 9)
        except OSError:
            pass
        self.proc.wait()
        self.proc.stdout.close()

    def read(self, size, deadline):
        while len(self.pending) < size:
            if self.peak() > self.bound:
                self.kill()
                raise HostFailure("peak memory %d MiB, past the bound of %d MiB" % (self.highest >> 20,
                                                                                  self.bound >> 20))
            if time.time() > deadline:
                self.kill()
                raise HostFailure("no answer in %d s" % self.timeout)
            ready, _, _ = select.select([self.proc.stdout], [], [], 0.05)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 1 << 16)
                if not chunk:
                    self.proc.wait()
                    raise HostFailure("the host ended (status %d) without answering" % self.proc.returncode)
                self.pending += chunk
        out, self.pending = self.pending[:size], self.pending[size:]
        return out

    def ask(self, kind, arguments):
        """The answer (parsed) to one request of that type and arguments;
        requests are numbered from 0 in their ids."""
        ident = str(self.count)
        self.count += 1
        request = json.dumps({"type": kind, "id": ident, "arguments": arguments}).encode()
        try:
            self.proc.stdin.write(frame(request))
            self.proc.stdin.flush()
        except OSError:
            self.proc.wait()
            raise HostFailure("the host ended (status %d) before the request" % self.proc.returncode)
        deadline = time.time() + self.timeout
        (length,) = struct.unpack("<I", self.read(4, deadline))
        answer = json.loads(self.read(length, deadline).decode("utf-8"))
        if answer["id"] != ident:
            self.kill()
            raise HostFailure("answer out of order")
        return answer

    def close(self):
        """The exit status once the host's input ends; None when it does not
        end by itself in time (it is then ended)."""
        self.peak()
        self.proc.stdin.close()
        try:
            status = self.proc.wait(timeout=self.timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            return None
        self.proc.stdout.close()
        return status
