#!/bin/sh
# Runs a Windows program under Wine in a prefix of its own:
#
#   wine-run.sh [--win64] <prefix folder> [<program> [<argument>...]]
#
# Without --win64 the prefix is a 32-bit one, run by the 32-bit Wine loader;
# with it, a 64-bit one, run by /usr/lib/wine/wine64 itself, which starts
# even where no 32-bit program can (the `wine` command would pick the 32-bit
# loader whenever it is installed). Without a program it only prepares the
# prefix and its server. The prefix is made on first use (about 8 s), and
# Wine's crash debugger is switched off in it: an unhandled exception then
# ends the program as it would on Windows, with no crash report written into
# the program's standard output.
set -eu

arch=win32
wine=wine
if [ "${1:-}" = "--win64" ]; then
  arch=win64
  wine=/usr/lib/wine/wine64
  shift
fi
prefix=$1
shift
export WINEPREFIX="$prefix"
export WINEDEBUG=-all

if [ ! -f "$prefix/.status-bridge-ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    # Several tests may start at once; one of them makes the prefix.
    flock 9
    if [ ! -f "$prefix/.status-bridge-ready" ]; then
      WINEARCH=$arch "$wine" wineboot --init >/dev/null 2>&1
      wineserver -w
      # An empty debugger command: nothing is started on a crash.
      "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Debugger /t REG_SZ /d '' /f >/dev/null 2>&1
      "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Auto /t REG_SZ /d 1 /f >/dev/null 2>&1
      wineserver -w
      touch "$prefix/.status-bridge-ready"
    fi
  ) 9>"$prefix.lock"
fi

# Start the prefix's Wine server, and Wine's own background programs, with
# standard streams of their own. Started by the program instead, they would
# inherit its standard output and error and hold them open for seconds after
# it ended, and a caller that reads to the end of the output would wait that
# long. The server stays WINE_RUN_PERSISTENCE seconds (10 by default) after
# its last program ends; when one runs already, wineserver just says so.
wineserver -p"${WINE_RUN_PERSISTENCE:-10}" </dev/null >/dev/null 2>&1 || true
"$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true

if [ "$#" -gt 0 ]; then
  exec "$wine" "$@"
fi
