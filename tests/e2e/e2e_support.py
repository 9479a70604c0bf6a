"""Shared set-up of the end-to-end tests: where the build is, and the client."""
import os
import sys

SOURCE_DIR = os.environ.get("KELVORA_SOURCE_DIR",
                            os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
BUILD_DIR = os.environ.get("KELVORA_BUILD_DIR", os.path.join(SOURCE_DIR, "build", "win64"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))

import kelvora_client  # noqa: E402

HOST_EXE = os.path.join(BUILD_DIR, "kelvora_messaging.exe")
frame = kelvora_client.frame


def run_raw(data, **kwargs):
    return kelvora_client.run_raw(data, exe=HOST_EXE, **kwargs)


def run_requests(requests, **kwargs):
    return kelvora_client.run_requests(requests, exe=HOST_EXE, **kwargs)


def answers(requests, **kwargs):
    """The answers as parsed JSON objects."""
    import json
    return [json.loads(t) for t in run_requests(requests, **kwargs).texts()]


def ask_measured(requests, env, command=None, timeout=600, kill_above_mib=1024):
    """Sends (type, arguments) pairs to one host process, one at a time; the
    host must answer each in order and then exit 0 by itself once its input
    closes (command: the host's command line, the built host's by default).
    Returns the answers and the host's peak memory in MiB (VmHWM, read
    while it runs). A host that hangs, or whose memory passes kill_above_mib,
    is killed and fails the call."""
    command = command or kelvora_client.host_command(HOST_EXE)
    host = kelvora_client.WatchedHost(command, env, kill_above_mib << 20, timeout)
    answers = [host.ask(kind, arguments) for kind, arguments in requests]
    status = host.close()
    if status != 0:
        raise kelvora_client.HostFailure("exit status %s once its input ended, peak %.0f MiB" % (
            status, host.highest / 2 ** 20))
    return answers, host.highest / 2 ** 20
