#!/usr/bin/env bash
# Prepares this x86_64 Debian machine to run the i686 Windows builds:
# 32-bit Wine from the i386 architecture, run by qemu-i386 through a
# binfmt_misc handler registered with the fix-binary flag. Idempotent; run as
# root. The handler is left DISABLED: tests/smoke32/emulation.sh switches it
# on only while the 32-bit stage runs.
#
# Exit 0 when ready, 77 (one line on stderr) when the emulation cannot be had
# here, 1 on other failures.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=emulation.sh
. "$here/emulation.sh"

# qemu-user brings /usr/bin/qemu-i386 (qemu-user-static's qemu-i386-static is
# used instead when someone installed that). No recommends: qemu-user-binfmt
# would register and enable handlers for every architecture behind our back.
# libgnutls30:i386 is what 32-bit Wine's bcrypt/secur32 load at run time.
packages=(qemu-user wine32:i386 libgnutls30:i386)

[ "$(id -u)" = 0 ] || kelvora_unavailable "setup-emulation.sh must run as root"
[ "$(dpkg --print-architecture)" = amd64 ] \
  || kelvora_unavailable "host architecture is $(dpkg --print-architecture), expected amd64"

installed() {
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  # A mirror in the middle of a sync fails the update now and then: try again.
  for attempt in 1 2 3; do
    apt-get update -qq >/dev/null 2>&1 && break
    [ "$attempt" -eq 3 ] && kelvora_unavailable "apt-get update failed"
    sleep 20
  done
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null \
    || kelvora_unavailable "cannot install ${missing[*]}"
fi

qemu=""
for candidate in /usr/bin/qemu-i386-static /usr/bin/qemu-i386; do
  if [ -x "$candidate" ]; then qemu=$candidate; break; fi
done
[ -n "$qemu" ] || kelvora_unavailable "qemu-i386 not found after installing qemu-user"
[ -x "$KELVORA_WINE32" ] || kelvora_unavailable "$KELVORA_WINE32 missing after installing wine32:i386"

kelvora_binfmt_mount || kelvora_unavailable "cannot mount binfmt_misc on $KELVORA_BINFMT_DIR (no permission?)"

if ! entry=$(kelvora_binfmt_entry); then
  # Same magic and mask as qemu's own binfmt configuration for i386 (e_type
  # 2 or 3: executables and shared objects). F opens qemu now, so the handler
  # keeps working in any mount namespace or chroot.
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf ':%s:M::%s:%s:%s:F\n' "$KELVORA_BINFMT_NAME" "$magic" "$mask" "$qemu" \
    > "$KELVORA_BINFMT_DIR/register" \
    || kelvora_unavailable "cannot register $KELVORA_BINFMT_NAME in binfmt_misc (no permission?)"
  entry="$KELVORA_BINFMT_DIR/$KELVORA_BINFMT_NAME"
fi
kelvora_emulation_set "$entry" 0
if timeout 60 "$KELVORA_WINE32" --version >/dev/null 2>&1; then
  echo "smoke32: note: this kernel runs 32-bit code natively; the handler is not needed here"
fi
echo "smoke32: emulation ready: ${entry##*/} ($(sed -n 's/^interpreter //p' "$entry")), disabled"
