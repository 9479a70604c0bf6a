#!/usr/bin/env python3
"""Builds a local package repository of the i386 twins that apt's lists lack.

A Multi-Arch: same library must be installed at exactly the same version on
both architectures. When the i386 package list of an archive cannot be read
(a mirror whose list does not match its release file), apt knows the amd64
packages installed from that archive but not their i386 twins, and 32-bit
Wine does not resolve. The twin of such a package sits beside its amd64 file
in the archive's pool: this fetches it from there, through the archive URL
of apt's own sources, and writes the files with a Packages and a Release file
into REPO_DIR, a flat repository whose Suite and Codename are RELEASE.

    i386_twins.py REPO_DIR RELEASE

Prints one line: how many twins were fetched (and how many were not found).
Exit 0 when at least one was fetched, 1 when there was none to fetch.
"""
import email.utils
import hashlib
import os
import subprocess
import sys

APT_HELPER = "/usr/lib/apt/apt-helper"


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def stanzas(text):
    """Yields each paragraph of a Packages file as a dict of its fields."""
    fields = {}
    key = None
    for line in text.splitlines():
        if not line.strip():
            if fields:
                yield fields
            fields, key = {}, None
        elif line[0] in " \t":
            if key:
                fields[key] += "\n" + line
        else:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    if fields:
        yield fields


def package_lists():
    """(archive base URI, architecture, local list file) of every list apt holds."""
    out = run("apt-get", "indextargets", "--format", "$(REPO_URI) $(ARCHITECTURE) $(FILENAME)",
              "Identifier: Packages")
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3 and os.path.exists(parts[2]):
            yield parts


def installed_same_amd64():
    """{name: version} of the Multi-Arch: same packages installed for amd64."""
    out = run("dpkg-query", "-W", "-f", "${db:Status-Status} ${Package} ${Architecture} ${Multi-Arch} ${Version}\n")
    found = {}
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 5 and parts[0] == "installed" and parts[2] == "amd64" and parts[3] == "same":
            found[parts[1]] = parts[4]
    return found


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    repo, release = sys.argv[1], sys.argv[2]
    installed = installed_same_amd64()
    amd64 = {}  # (name, version) -> URL of the amd64 file
    i386 = set()
    for base, arch, filename in package_lists():
        text = run(APT_HELPER, "cat-file", filename)
        for fields in stanzas(text):
            key = (fields.get("Package"), fields.get("Version"))
            if arch == "i386":
                i386.add(key)
            elif arch == "amd64" and installed.get(key[0]) == key[1] and "Filename" in fields:
                amd64.setdefault(key, base + fields["Filename"])
    wanted = sorted(key for key in amd64 if key not in i386 and amd64[key].endswith("_amd64.deb"))
    os.makedirs(repo, exist_ok=True)
    fetched, missing, entries = 0, 0, []
    for name, version in wanted:
        url = amd64[(name, version)][:-len("_amd64.deb")] + "_i386.deb"
        target = os.path.join(repo, os.path.basename(url))
        if subprocess.run([APT_HELPER, "download-file", url, target],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            missing += 1  # no i386 build of this package in the pool
            continue
        control = run("dpkg-deb", "-f", target).rstrip("\n")
        with open(target, "rb") as deb:
            data = deb.read()
        entries.append(f"{control}\nFilename: ./{os.path.basename(target)}\nSize: {len(data)}\n"
                       f"SHA256: {hashlib.sha256(data).hexdigest()}\n")
        fetched += 1
    listing = "\n".join(entries).encode()
    with open(os.path.join(repo, "Packages"), "wb") as packages:
        packages.write(listing)
    date = email.utils.formatdate(usegmt=True)
    with open(os.path.join(repo, "Release"), "w") as out:
        out.write(f"Origin: kelvora-i386-twins\nLabel: kelvora-i386-twins\nSuite: {release}\n"
                  f"Codename: {release}\nDate: {date}\nArchitectures: i386\n"
                  f"SHA256:\n {hashlib.sha256(listing).hexdigest()} {len(listing)} Packages\n")
    print(f"{fetched} i386 twins fetched from the pool" + (f", {missing} not found there" if missing else ""))
    return 0 if fetched else 1


if __name__ == "__main__":
    sys.exit(main())
