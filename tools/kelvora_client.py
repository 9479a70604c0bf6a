"""Talks native messaging to one kelvora_messaging process.

Frames are a 4-byte little-endian length followed by the JSON text. All
requests are written from one thread while another collects the answers, so a
host that ends early or leaves a request unanswered never blocks the caller.
"""
import os
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


def peak_kib(pid):
    """VmHWM of the process and its children (the wine loader may exec), in KiB."""
    return max((status_kib(p, "VmHWM:") for p in [pid] + children(pid)), default=0)


def status_kib(pid, field):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(field):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def children(pid):
    out = []
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            for c in f.read().split():
                out.append(int(c))
                out.extend(children(int(c)))
    except OSError:
        pass
    return out


class MeasuredRun:
    """One host process asked one request at a time: the answer texts it gave,
    its peak memory (VmHWM in KiB) read after the last answer while it still
    ran, and its exit status once its input was closed (None when it had to be
    killed)."""

    def __init__(self, texts, peak, status):
        self.texts = texts
        self.peak = peak
        self.status = status


def run_measured(requests, exe=DEFAULT_EXE, env=None, cwd=None, timeout=600, kill_above_kib=3 << 20):
    """Sends the requests (JSON texts) to one host, each after the answer to
    the one before. A host that runs past timeout seconds, or whose resident
    memory passes kill_above_kib, is killed, so that a hostile case cannot
    hang the caller or exhaust the machine; the requests left get no answer."""
    proc = subprocess.Popen(host_command(exe), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, env=env, cwd=cwd)
    stop = threading.Event()
    killed = []

    def watch():
        deadline = time.monotonic() + timeout
        while not stop.wait(0.05):
            resident = max((status_kib(p, "VmRSS:") for p in [proc.pid] + children(proc.pid)), default=0)
            if time.monotonic() > deadline or resident > kill_above_kib:
                killed.append(resident)
                proc.kill()
                return

    watcher = threading.Thread(target=watch, daemon=True)
    watcher.start()
    texts, peak = [], 0
    try:
        for request in requests:
            texts.append(round_trip(proc, frame(request)).decode("utf-8"))
        peak = peak_kib(proc.pid)
        proc.stdin.close()
        status = proc.wait(timeout=timeout)
    except (RuntimeError, BrokenPipeError, ValueError, subprocess.TimeoutExpired):
        # The host ended early (its own status), or hangs (killed: None).
        peak = peak or peak_kib(proc.pid)
        try:
            status = proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            status = None
    finally:
        stop.set()
        watcher.join()
        for pipe in (proc.stdin, proc.stdout):
            try:
                pipe.close()
            except OSError:
                pass
    if killed:
        return MeasuredRun(texts, max(peak, killed[0]), None)
    return MeasuredRun(texts, peak, status)
