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
