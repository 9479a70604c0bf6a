#!/usr/bin/env python3
"""Hash speed of the shipping i686 build beside the native anchors.

  hash32.py NATIVE_OUTPUT

NATIVE_OUTPUT is what build/native/hash_bench printed in this run (its
"anchor" and "path" lines). This script runs build/win32/hash_paths_bench.exe
under 32-bit Wine (in a 32-bit prefix of its own), prints MB/s per algorithm
and per path beside the x86_64 library anchors (OpenSSL for SHA, libgcrypt
for GOST), then times ComputeHash of 16 MiB through the i686 and the x86_64
host for every algorithm. Where 32-bit Wine runs only through qemu-i386 the
i686 figures are marked as emulated and not compared.
"""
import base64
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import kelvora_client  # noqa: E402

WIN32_DIR = os.path.join(ROOT, "build", "win32")
WIN64_DIR = os.path.join(ROOT, "build", "win64")
PREFIX32 = os.path.join(WIN32_DIR, "wineprefix32-bench")
WINE32 = "/usr/lib/wine/wine"
WINESERVER = "/usr/lib/wine/wineserver"
EMULATION = os.path.join(ROOT, "tests", "smoke32", "emulation.sh")

OIDS = {"SHA-1": "1.3.14.3.2.26", "SHA-256": "1.2.840.113549.1.1.11", "SHA-384": "1.2.840.113549.1.1.12",
        "SHA-512": "1.2.840.113549.1.1.13", "GOST-94": "1.2.643.2.2.9", "GOST-2012-256": "1.2.643.7.1.1.2.2",
        "GOST-2012-512": "1.2.643.7.1.1.2.3"}
STREEBOG = ("GOST-2012-256", "GOST-2012-512")


def env32():
    return dict(os.environ, WINEPREFIX=PREFIX32, WINEARCH="win32", WINEDEBUG="-all",
                WINEDLLOVERRIDES="mscoree,mshtml=")


def ensure_prefix32(wrap):
    marker = os.path.join(PREFIX32, ".kelvora-ready")
    if os.path.exists(marker):
        return
    shutil.rmtree(PREFIX32, ignore_errors=True)
    subprocess.run(wrap + [WINE32, "wineboot", "-i"], env=env32(), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    subprocess.run(wrap + [WINESERVER, "-w"], env=env32())
    open(marker, "w").close()


def parse(lines):
    anchors, paths, features = {}, {}, {}
    for line in lines:
        words = line.split()
        if len(words) == 4 and words[0] == "anchor":
            anchors[words[1]] = (words[2], float(words[3]))
        elif len(words) == 5 and words[0] == "path":
            paths[(words[1], words[2], words[3])] = float(words[4])
        elif len(words) >= 2 and words[0] == "features":
            features[words[1]] = " ".join(words[2:])
    return anchors, paths, features


def host_times(command, env):
    """Seconds per 16 MiB ComputeHash for each algorithm, one host process."""
    data = os.urandom(16 << 20)
    b64 = base64.b64encode(data).decode()
    proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            env=env)
    times = {}
    try:
        def ask(body):
            return kelvora_client.round_trip(proc, kelvora_client.frame(body))
        ask('{"type":"Version","id":"0"}')
        for name, oid in OIDS.items():
            request = ('{"type":"ComputeHash","id":"1","arguments":{"algorithm":"%s","data":"%s"}}' % (oid, b64))
            best = None
            for _ in range(2):
                start = time.perf_counter()
                answer = ask(request)
                elapsed = time.perf_counter() - start
                if b'"success"' not in answer:
                    raise RuntimeError(f"ComputeHash {name} failed: {answer[:200]!r}")
                best = elapsed if best is None else min(best, elapsed)
            times[name] = best
    finally:
        proc.stdin.close()
        proc.wait()
    return times


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    with open(sys.argv[1]) as f:
        anchors, native_paths, features = parse(f.read().splitlines())

    bench_exe = os.path.join(WIN32_DIR, "hash_paths_bench.exe")
    host32 = os.path.join(WIN32_DIR, "kelvora_messaging.exe")
    if not os.path.exists(WINE32):
        print("i686: 32-bit Wine is not installed (tests/smoke32/setup-emulation.sh); skipped")
        return 0
    native = subprocess.run([EMULATION, "native"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    if native == 0:
        wrap, emulated = [], False
    elif native == 1:
        wrap, emulated = [EMULATION, "run"], True
    else:
        print(f"i686: cannot run 32-bit Wine here (emulation.sh native answered {native}); skipped")
        return 0

    ensure_prefix32(wrap)
    # One server for the whole run; Wine's background processes start here
    # with streams that lead nowhere, so they hold no pipe of ours open.
    subprocess.run(wrap + [WINESERVER, "-p"], env=env32())
    subprocess.run(wrap + [WINE32, "wineboot"], env=env32(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    try:
        return report(wrap, emulated, anchors, native_paths, features, bench_exe, host32)
    finally:
        subprocess.run(wrap + [WINESERVER, "-k"], env=env32(), stderr=subprocess.DEVNULL)


def report(wrap, emulated, anchors, native_paths, features, bench_exe, host32):
    with tempfile.TemporaryFile(mode="w+") as output:
        subprocess.run(wrap + [WINE32, bench_exe, "32"], env=env32(), stdin=subprocess.DEVNULL, stdout=output,
                       stderr=subprocess.DEVNULL, check=True)
        output.seek(0)
        _, i686_paths, features32 = parse(output.read().splitlines())

    print()
    print("CPU features (probe of each build): " +
          "; ".join(f"{build}: {names}" for build, names in {**features, **features32}.items()))
    note = "  (EMULATED under qemu-i386: not compared)" if emulated else ""
    print(f"i686 build under 32-bit Wine, MB/s per path, beside the x86_64 anchors of this run{note}")
    print(f"{'algorithm':15} {'path':15} {'x86_64 ours':>11} {'i686':>9} {'anchor':>18} {'i686/anchor':>11}  target")
    for name in OIDS:
        library, anchor = anchors.get(name, ("?", 0.0))
        for (build, algorithm, path), mbps in i686_paths.items():
            if algorithm != name:
                continue
            ours64 = native_paths.get(("x86_64-native", name, path))
            ratio = mbps / anchor if anchor else 0.0
            if path == "auto":
                target, wanted = "i686 >= anchor", 1.0
            elif path == "no-avx512-gfni" and name in STREEBOG:
                target, wanted = "no AVX-512/GFNI >= 1.5x", 1.5
            else:
                target, wanted = "", None
            verdict = ""
            if wanted is not None and not emulated:
                verdict = "met" if ratio >= wanted else "NOT MET"
            ours64_text = f"{ours64:11.1f}" if ours64 is not None else f"{'-':>11}"
            print(f"{name:15} {path:15} {ours64_text} {mbps:9.1f} {library + ' ' + format(anchor, '.1f'):>18} "
                  f"{ratio:10.2f}x  {target} {verdict}")
    for name in STREEBOG:
        library, anchor = anchors.get(name, ("?", 0.0))
        mbps = native_paths.get(("x86_64-native", name, "no-avx512-gfni"))
        if mbps is not None and anchor:
            verdict = "met" if mbps / anchor >= 1.5 else "NOT MET"
            print(f"x86_64 {name} without AVX-512/GFNI: {mbps:.1f} MB/s = {mbps / anchor:.2f}x {library} "
                  f"(target 1.5x: {verdict})")

    print()
    print("ComputeHash of 16 MiB through the hosts (hosts started once, best of two)")
    t32 = host_times(wrap + [WINE32, host32], env32())
    t64 = host_times(kelvora_client.host_command(os.path.join(WIN64_DIR, "kelvora_messaging.exe")), None)
    for name in OIDS:
        ratio = t32[name] / t64[name]
        verdict = "" if emulated else ("met" if ratio <= 1.3 else "NOT MET")
        print(f"  {name:15} i686 {t32[name] * 1000:7.0f} ms   x86_64 {t64[name] * 1000:7.0f} ms   "
              f"ratio {ratio:5.2f}x  (target at most 1.3x) {verdict}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
