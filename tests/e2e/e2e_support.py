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


def ask_measured(requests, env, exe=HOST_EXE, timeout=600, kill_above_mib=1024):
    """Sends (type, arguments) pairs to one host process, one at a time; the
    host must answer each in order and then exit 0 by itself once its input
    closes. Returns the answers and the host's peak memory in MiB (VmHWM of
    the Windows process, read after the last answer). A host that hangs, or
    whose memory passes kill_above_mib, is killed and fails the call."""
    import json
    texts = [json.dumps({"type": kind, "id": str(n), "arguments": arguments})
             for n, (kind, arguments) in enumerate(requests)]
    run = kelvora_client.run_measured(texts, exe=exe, env=env, timeout=timeout, kill_above_kib=kill_above_mib << 10)
    answers = [json.loads(t) for t in run.texts]
    if len(answers) != len(requests) or run.status != 0:
        raise RuntimeError("host answered %d of %d requests, exit status %s, peak %.0f MiB" % (
            len(answers), len(requests), run.status, run.peak / 1024))
    if [a["id"] for a in answers] != [str(n) for n in range(len(requests))]:
        raise RuntimeError("answer out of order")
    return answers, run.peak / 1024
