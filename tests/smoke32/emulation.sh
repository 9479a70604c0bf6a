#!/usr/bin/env bash
# Switches the i386 binfmt_misc handler (qemu-user) on and off.
#
# Where the kernel cannot run 32-bit x86 code, 32-bit Wine (and with it the
# i686 Windows builds) runs under qemu-i386, which the kernel starts for every
# i386 ELF while the handler is enabled. The handler stays disabled except
# while the 32-bit stage runs: while it is on, every new 64-bit Wine prefix
# (and every other 32-bit process on the machine) runs under emulation too,
# which is slow. Where 32-bit code runs natively the handler is not needed at
# all, and turning it on only slows everything down: ask "native" first.
#
#   emulation.sh native       exit 0 if 32-bit Wine runs natively (no
#                             emulation needed), 1 if it does not, 2 if the
#                             handler is on (cannot tell), 77 no 32-bit Wine
#   emulation.sh status       prints the state; exit 0 enabled, 3 disabled
#   emulation.sh on | off     enables / disables the handler
#   emulation.sh run CMD...   enables it, runs CMD, restores the previous state
#                             (also on failure or interruption); exit is CMD's
#
# Exit 77 (one line on stderr) means the emulation cannot be had here: not
# root, binfmt_misc not available, or setup-emulation.sh has not been run.
# The file can also be sourced for its functions (setup-emulation.sh does).

KELVORA_BINFMT_DIR=/proc/sys/fs/binfmt_misc
KELVORA_BINFMT_NAME=kelvora-i386
# ELF header of an i386 executable or shared object, as qemu registers it.
KELVORA_I386_MAGIC=7f454c4601010100000000000000000002000300
KELVORA_WINE32=/usr/lib/wine/wine
readonly KELVORA_UNAVAILABLE=77

kelvora_unavailable() {
  echo "smoke32: 32-bit Wine unavailable: $*" >&2
  exit "$KELVORA_UNAVAILABLE"
}

# Mounts binfmt_misc when it is not mounted yet; returns non-zero if impossible.
kelvora_binfmt_mount() {
  [ -w "$KELVORA_BINFMT_DIR/register" ] && return 0
  [ "$(id -u)" = 0 ] || return 1
  mount -t binfmt_misc binfmt_misc "$KELVORA_BINFMT_DIR" 2>/dev/null || return 1
  [ -w "$KELVORA_BINFMT_DIR/register" ]
}

# Prints the path of the i386 handler entry: ours if registered, otherwise any
# entry (e.g. one from qemu-user-binfmt) whose magic matches i386 ELF files.
kelvora_binfmt_entry() {
  local entry
  if [ -e "$KELVORA_BINFMT_DIR/$KELVORA_BINFMT_NAME" ]; then
    echo "$KELVORA_BINFMT_DIR/$KELVORA_BINFMT_NAME"
    return 0
  fi
  for entry in "$KELVORA_BINFMT_DIR"/*; do
    case "${entry##*/}" in register|status) continue ;; esac
    [ -f "$entry" ] || continue
    if grep -qx "magic $KELVORA_I386_MAGIC" "$entry" 2>/dev/null; then
      echo "$entry"
      return 0
    fi
  done
  return 1
}

# Prints the entry path, or exits 77 saying why there is none.
kelvora_require_entry() {
  [ "$(id -u)" = 0 ] || kelvora_unavailable "must run as root to switch the binfmt_misc handler"
  kelvora_binfmt_mount || kelvora_unavailable "cannot mount binfmt_misc on $KELVORA_BINFMT_DIR"
  [ -x "$KELVORA_WINE32" ] || kelvora_unavailable "32-bit Wine ($KELVORA_WINE32) is not installed; run tests/smoke32/setup-emulation.sh"
  kelvora_binfmt_entry || kelvora_unavailable "no i386 binfmt_misc handler registered; run tests/smoke32/setup-emulation.sh"
}

# An i386 ELF of 96 bytes that only exits with status 42 (no loader, no
# libraries): whether the kernel runs 32-bit code, before any 32-bit package
# is installed. Returns 0 when it runs natively. A handler that is enabled
# would run it through emulation, so ours is switched off first.
KELVORA_I386_PROBE=7f454c460101010000000000000000000200030001000000548004083400000000000000000000003400200001000000000000000100000000000000008004080080040860000000600000000500000000100000b801000000bb2a000000cd80
kelvora_runs_i386_natively() {
  local probe rc
  if [ -e "$KELVORA_BINFMT_DIR/$KELVORA_BINFMT_NAME" ]; then
    kelvora_emulation_set "$KELVORA_BINFMT_DIR/$KELVORA_BINFMT_NAME" 0 || return 1
  fi
  probe=$(mktemp) || return 1
  printf '%s' "$KELVORA_I386_PROBE" | xxd -r -p > "$probe" && chmod +x "$probe"
  "$probe" 2>/dev/null
  rc=$?
  rm -f "$probe"
  [ "$rc" -eq 42 ]
}

kelvora_emulation_enabled() {
  [ "$(head -n1 "$1")" = enabled ]
}

kelvora_emulation_set() { # entry 0|1
  echo "$2" > "$1" || { echo "smoke32: cannot write $1" >&2; return 1; }
}

kelvora_emulation_main() {
  local entry previous rc
  case "${1:-}" in
    native)
      [ -x "$KELVORA_WINE32" ] || kelvora_unavailable "32-bit Wine ($KELVORA_WINE32) is not installed; run tests/smoke32/setup-emulation.sh"
      if [ -d "$KELVORA_BINFMT_DIR" ] && entry=$(kelvora_binfmt_entry) \
          && kelvora_emulation_enabled "$entry"; then
        echo "${entry##*/} is enabled: cannot tell whether 32-bit code runs natively" >&2
        return 2
      fi
      if timeout 60 "$KELVORA_WINE32" --version >/dev/null 2>&1; then
        echo "32-bit code runs natively: no emulation needed"; return 0
      fi
      echo "32-bit code does not run natively: emulation needed"; return 1
      ;;
    status)
      entry=$(kelvora_require_entry) || exit $?
      if kelvora_emulation_enabled "$entry"; then
        echo "${entry##*/}: enabled"; return 0
      fi
      echo "${entry##*/}: disabled"; return 3
      ;;
    on|off)
      entry=$(kelvora_require_entry) || exit $?
      kelvora_emulation_set "$entry" "$([ "$1" = on ] && echo 1 || echo 0)" || return 1
      echo "${entry##*/}: $(head -n1 "$entry")"
      ;;
    run)
      shift
      [ $# -gt 0 ] || { echo "usage: ${0##*/} run COMMAND [ARGS...]" >&2; return 2; }
      entry=$(kelvora_require_entry) || exit $?
      previous=0
      kelvora_emulation_enabled "$entry" && previous=1
      # Put the handler back however the command ends.
      trap 'kelvora_emulation_set "'"$entry"'" '"$previous" EXIT
      trap 'exit 130' INT
      trap 'exit 143' TERM
      kelvora_emulation_set "$entry" 1 || return 1
      rc=0
      "$@" || rc=$?
      return "$rc"
      ;;
    *)
      echo "usage: ${0##*/} native|status|on|off|run COMMAND [ARGS...]" >&2
      return 2
      ;;
  esac
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -u
  kelvora_emulation_main "$@"
  exit $?
fi
