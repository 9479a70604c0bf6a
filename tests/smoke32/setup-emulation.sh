#!/usr/bin/env bash
# Prepares this x86_64 Debian machine to run the i686 Windows builds: 32-bit
# Wine from the i386 architecture and, only where the kernel cannot run 32-bit
# code itself and KELVORA_SMOKE32_EMULATION=1 asks for it, qemu-i386 through a
# binfmt_misc handler registered with the fix-binary flag. Idempotent; run as
# root. The handler is left DISABLED:
# tests/smoke32/emulation.sh switches it on only while the 32-bit stage runs.
#
# A package list that cannot be read (a mirror in the middle of a sync serves
# a list that does not match its release file) does not stop the install: it
# goes on with the lists that arrived. When 32-bit Wine then does not resolve,
# because the i386 twins of libraries installed from that archive are missing
# from apt's lists, the twins are fetched from the archive's pool into a
# temporary local repository (i386_twins.py), used for this one install and
# removed again. Apart from the i386 architecture and the installed packages,
# apt's configuration is left as it was found.
#
# Exit 0 when ready, 77 (one line on stderr naming the cause) when 32-bit Wine
# cannot be had here, 1 on other failures.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=emulation.sh
. "$here/emulation.sh"

[ "$(id -u)" = 0 ] || kelvora_unavailable "setup-emulation.sh must run as root"
[ "$(dpkg --print-architecture)" = amd64 ] \
  || kelvora_unavailable "host architecture is $(dpkg --print-architecture), expected amd64"

native=0
kelvora_binfmt_mount 2>/dev/null || true
kelvora_runs_i386_natively && native=1
# Under qemu-i386 each 32-bit Wine program takes minutes to start, making the
# prefix alone about ten minutes, and Wine's threads crash now and then
# (qemu-user 7.2, Wine 8): the stage runs under emulation only when asked.
if [ "$native" = 0 ] && [ "${KELVORA_SMOKE32_EMULATION:-0}" != 1 ]; then
  kelvora_unavailable "no 32-bit execution: this kernel does not run i386 code, and 32-bit Wine under" \
    "qemu-i386 is too slow and unstable for the stage (KELVORA_SMOKE32_EMULATION=1 runs it anyway)"
fi

# libgnutls30:i386 is what 32-bit Wine's bcrypt/secur32 load at run time.
# qemu-user brings /usr/bin/qemu-i386 (qemu-user-static's qemu-i386-static is
# used instead when someone installed that). No recommends: qemu-user-binfmt
# would register and enable handlers for every architecture behind our back.
packages=(wine32:i386 libgnutls30:i386)
if [ "$native" = 0 ] && [ ! -x /usr/bin/qemu-i386-static ]; then packages+=(qemu-user); fi

installed() {
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}

# The lists that apt-get update could not fetch, one URL a line.
failed_lists() {
  sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' "$1" | sort -u
}

# The first package that apt names as not resolving in its output, an i386
# one where there is one.
unresolved() {
  awk '$2 == ":" && $3 == "Depends:" {
         line = $1 " (needs " $4 ")"
         if ($1 ~ /:i386$/) { print line; found = 1; exit }
         if (first == "") first = line
       }
       END { if (!found && first != "") print first }' "$1"
}

work=$(mktemp -d /tmp/kelvora-i386.XXXXXX)
chmod 755 "$work"  # apt's file method reads the repository as the _apt user
repo_lists() { # the lists apt keeps of the temporary repository
  local encoded
  encoded=$(printf '%s' "$work/repo" | tr '/' '_')
  rm -f /var/lib/apt/lists/*"${encoded}"_* /var/lib/apt/lists/partial/*"${encoded}"_* 2>/dev/null || true
}
trap 'repo_lists; rm -rf "$work"' EXIT

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  # apt-get update fails when any one list cannot be read, and keeps the
  # others: try once more after a pause, then go on with what arrived.
  for attempt in 1 2; do
    if apt-get update >"$work/update.log" 2>&1; then break; fi
    [ "$attempt" -eq 2 ] || sleep 10
  done
  lists=$(failed_lists "$work/update.log" | tr '\n' ' ')
  if [ -n "$lists" ]; then
    echo "smoke32: package lists that could not be read, going on without them: $lists"
  fi
  if ! apt-get install -y -q --no-install-recommends "${missing[@]}" >"$work/install.log" 2>&1; then
    cause=$(unresolved "$work/install.log")
    [ -n "$cause" ] || cause="apt-get install ${missing[*]} failed: $(grep '^E:' "$work/install.log" | head -n1)"
    # The twins of the installed Multi-Arch: same libraries, fetched from the
    # pools of apt's own sources into a flat repository of the release.
    . /etc/os-release
    release=${VERSION_CODENAME:?}
    python3 "$here/i386_twins.py" "$work/repo" "$release" >"$work/twins.log" 2>&1 \
      || kelvora_unavailable "${missing[*]} does not resolve: $cause${lists:+; unreadable lists: $lists}"
    echo "smoke32: $(tail -n1 "$work/twins.log"); installing with them"
    echo "deb [trusted=yes] file:$work/repo ./" > "$work/sources.list"
    # Only the temporary repository's list is read here; no other list is
    # fetched or cleaned up.
    apt-get update -o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/nonexistent \
      -o APT::Get::List-Cleanup=0 >>"$work/update.log" 2>&1 \
      || kelvora_unavailable "the local repository of i386 twins cannot be read"
    # The release as target takes the main archive's versions on both
    # architectures (amd64 libraries older than those move up to them) and
    # the twins where the installed amd64 version is newer.
    if ! apt-get install -y -q --no-install-recommends -t "$release" \
        -o Dir::Etc::SourceList="$work/sources.list" "${missing[@]}" >"$work/install.log" 2>&1; then
      cause=$(unresolved "$work/install.log")
      [ -n "$cause" ] || cause=$(grep '^E:' "$work/install.log" | head -n1)
      kelvora_unavailable "${missing[*]} does not resolve with the i386 twins: $cause${lists:+; unreadable lists: $lists}"
    fi
    echo "smoke32: $(grep -c '^Setting up' "$work/install.log") packages installed"
  fi
fi

[ -x "$KELVORA_WINE32" ] || kelvora_unavailable "$KELVORA_WINE32 missing after installing wine32:i386"
if [ "$native" = 1 ]; then
  echo "smoke32: this kernel runs 32-bit code natively: no emulation needed"
  exit 0
fi

qemu=""
for candidate in /usr/bin/qemu-i386-static /usr/bin/qemu-i386; do
  if [ -x "$candidate" ]; then qemu=$candidate; break; fi
done
[ -n "$qemu" ] || kelvora_unavailable "no 32-bit execution, and qemu-i386 not found after installing qemu-user"

kelvora_binfmt_mount || kelvora_unavailable "no 32-bit execution, and binfmt_misc cannot be mounted on $KELVORA_BINFMT_DIR (no permission?)"

if ! entry=$(kelvora_binfmt_entry); then
  # Same magic and mask as qemu's own binfmt configuration for i386 (e_type
  # 2 or 3: executables and shared objects). F opens qemu now, so the handler
  # keeps working in any mount namespace or chroot.
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf ':%s:M::%s:%s:%s:F\n' "$KELVORA_BINFMT_NAME" "$magic" "$mask" "$qemu" \
    > "$KELVORA_BINFMT_DIR/register" \
    || kelvora_unavailable "no 32-bit execution, and $KELVORA_BINFMT_NAME cannot be registered in binfmt_misc (no permission?)"
  entry="$KELVORA_BINFMT_DIR/$KELVORA_BINFMT_NAME"
fi
kelvora_emulation_set "$entry" 0
echo "smoke32: emulation ready: ${entry##*/} ($(sed -n 's/^interpreter //p' "$entry")), disabled"
