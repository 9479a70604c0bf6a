"""Requests through a real browser: Debian's Chromium, driven headless by
playwright-core (tests/browser), loads the test extension into a fresh profile
whose NativeMessagingHosts folder names a launcher of the built host. The
extension's page sends the requests over one chrome.runtime.connectNative port;
Chromium starts the host, frames the requests and checks every answer frame
(at most 1 MiB, a length that matches, JSON text) before the page sees it."""
import base64
import hashlib
import json
import os
import shlex
import shutil
import subprocess
import tempfile

from e2e_support import BUILD_DIR, SOURCE_DIR

CHROMIUM = "/usr/bin/chromium"
BROWSER_DIR = os.path.join(SOURCE_DIR, "tests", "browser")
EXTENSION_DIR = os.path.join(BROWSER_DIR, "extension")
DRIVER = os.path.join(BROWSER_DIR, "drive.js")
HOST_NAME = "kelvora.messaging"


def extension_id(extension_dir=EXTENSION_DIR):
    """Chromium's ID of an extension with a "key": the first 128 bits of the
    SHA-256 of the public key, each hexadecimal digit written as a..p."""
    with open(os.path.join(extension_dir, "manifest.json")) as f:
        key = base64.b64decode(json.load(f)["key"])
    return "".join(chr(ord("a") + int(c, 16)) for c in hashlib.sha256(key).hexdigest()[:32])


def missing_pieces():
    """What the browser run needs and this machine lacks (install-deps.sh installs it)."""
    missing = [p for p in (CHROMIUM, shutil.which("node") or "node") if not os.path.exists(p)]
    if not os.path.isdir(os.path.join(BROWSER_DIR, "node_modules", "playwright-core")):
        missing.append("tests/browser/node_modules/playwright-core")
    return missing


def write_launcher(path, command, env):
    """A shell script that starts command with env set: the "path" Chromium runs.
    Chromium passes the extension's origin as the first argument (a browser on
    Windows adds --parent-window); the host gets them all."""
    lines = ["#!/bin/sh", "# Starts the native-messaging host for the browser test."]
    lines += ["export %s=%s" % (k, shlex.quote(v)) for k, v in sorted(env.items())]
    lines.append("exec %s \"$@\"" % " ".join(shlex.quote(c) for c in command))
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    os.chmod(path, 0o755)


def run_in_browser(rows, host_command, host_env, timeout_ms=60000, settle_ms=500, screenshot=None):
    """Starts Chromium once, sends rows ([{"name", "request"}]) through the
    extension's page and returns what the page saw: {"rows": [{"name",
    "answer" | "error", "open"}], "extra", "openAtEnd", "disconnectError"}."""
    work = tempfile.mkdtemp(prefix="browser-e2e.", dir=BUILD_DIR)
    try:
        profile = os.path.join(work, "profile")
        hosts = os.path.join(profile, "NativeMessagingHosts")
        os.makedirs(hosts)
        launcher = os.path.join(work, "host-launcher.sh")
        write_launcher(launcher, host_command, host_env)
        ext_id = extension_id()
        with open(os.path.join(hosts, HOST_NAME + ".json"), "w") as f:
            json.dump({"name": HOST_NAME, "description": "Kelvora browser plugin", "path": launcher,
                       "type": "stdio", "allowed_origins": ["chrome-extension://%s/" % ext_id]}, f)
        output = os.path.join(work, "answers.json")
        job = os.path.join(work, "job.json")
        with open(job, "w") as f:
            json.dump({"chromium": CHROMIUM, "extension": EXTENSION_DIR, "extension_id": ext_id,
                       "profile": profile, "host": HOST_NAME, "rows": rows, "timeout_ms": timeout_ms,
                       "settle_ms": settle_ms, "output": output, "screenshot": screenshot}, f)
        done = subprocess.run(["node", DRIVER, job], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=600)
        if done.returncode != 0:
            raise RuntimeError("the browser run failed: " + done.stderr.decode(errors="replace")[-4000:])
        with open(output) as f:
            return json.load(f)
    finally:
        shutil.rmtree(work, ignore_errors=True)
