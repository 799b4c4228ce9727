#!/bin/sh
# Finds out by trying whether this machine can start a 32-bit Windows program
# under Wine: builds a tiny one with the i686 mingw compiler and runs it, with
# a time limit, in the 32-bit Wine prefix given.
#
#   tools/wine32-probe.sh <prefix folder>
#
# Prints "yes" and exits 0 when the program ran, wrote its line and returned
# its status; otherwise prints the reason on one line and exits 1. Some
# kernels run no 32-bit program at all ("Exec format error"), Wine's 32-bit
# loader included; nothing short of starting one tells.
#
#   WINE32_PROBE_SECONDS             the time limit (default 300; a new
#                                    prefix takes about 8 s to make)
#   STATUS_BRIDGE_SIMULATE_NO_WIN32  1: fail without trying. Only for testing
#                                    the other path of the scripts on a
#                                    machine that runs 32-bit programs.
set -eu
cd "$(dirname "$0")/.."
prefix=$1

if [ "${STATUS_BRIDGE_SIMULATE_NO_WIN32:-0}" = 1 ]; then
  echo "simulated by STATUS_BRIDGE_SIMULATE_NO_WIN32=1"
  exit 1
fi
work=build/wine32-probe
mkdir -p "$work"

if [ ! -e /usr/lib/wine/wine ]; then
  # Without the loader, say whether the kernel would start a 32-bit program
  # at all: the smallest i386 Linux program, which only exits.
  printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\315\200' \
    >"$work/exit-i386"
  chmod +x "$work/exit-i386"
  # A shell says 126 when the kernel refuses to start a program.
  if error=$("$work/exit-i386" 2>&1) || [ $? -ne 126 ]; then
    echo "32-bit Wine (/usr/lib/wine/wine) is not installed"
  else
    echo "32-bit Wine (/usr/lib/wine/wine) is not installed, and this kernel" \
      "does not start 32-bit programs (${error##*: })"
  fi
  exit 1
fi

printf '#include <stdio.h>\nint main(void) { puts("probe"); return 42; }\n' \
  >"$work/probe.c"
i686-w64-mingw32-gcc-posix -o "$work/probe.exe" "$work/probe.c"

log="$work/probe.log"
status=0
timeout "${WINE32_PROBE_SECONDS:-300}" \
  tests/scripts/wine-run.sh "$prefix" "$work/probe.exe" </dev/null >"$log" 2>&1 ||
  status=$?
if [ "$status" -eq 42 ] && grep -q '^probe' "$log"; then
  echo yes
  exit 0
fi
if [ "$status" -eq 124 ]; then
  echo "the probe did not end within ${WINE32_PROBE_SECONDS:-300} s"
  exit 1
fi
# The loader's own complaint says most; the prefix is made with Wine's
# output discarded, so ask the loader directly when the log has nothing.
reason=$({ grep -m 1 -i 'exec format error' "$log" ||
  /usr/lib/wine/wine --version 2>&1 | grep -m 1 -i 'error' || true; } |
  sed 's|^.*\(/usr/lib/wine/wine: \)|\1|')
echo "the 32-bit probe failed (status $status)${reason:+: $reason}"
exit 1
