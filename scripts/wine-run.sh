#!/usr/bin/env bash
# Runs a Windows program under Wine, headless (CMake's cross-compiling emulator
# for the Windows build):
#   wine-run.sh <program.exe> [arguments...]   runs it, with its exit code
#   wine-run.sh --stop                         waits until this prefix's Wine
#                                              session has ended
#   wine-run.sh --kill                         ends this prefix's Wine session
#                                              now (a throwaway prefix's)
#
# The prefix is made once, under a lock, so that parallel first runs do not
# race. A Wine session starts wineserver and service processes that inherit
# the output of whichever program starts them; had that been a test's output
# pipe, the test would be held open until they quit. So the first run of a
# session starts them itself with their output on /dev/null, and the server
# stays for a while after its last program so that the next test finds it.
# None of them keeps the lock file open: they would hold the lock for their
# whole life.
set -euo pipefail

# A prefix belongs to the user who made it; Wine refuses anyone else's.
export WINEPREFIX="${WINEPREFIX:-/tmp/quorvandile-wine-$(id -u)}"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko set-up: nothing here uses .NET or a browser.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# Seconds the session outlives its last program.
readonly persist_seconds=10

# Debian's `wine` launcher prefers a 32-bit loader and complains when there is
# none; the programs here are 64-bit, so go to the 64-bit loader directly.
find_tool() {
  local candidate
  for candidate in "$@"; do
    if [ -x "$candidate" ]; then echo "$candidate"; return 0; fi
    if command -v "$candidate" >/dev/null 2>&1; then command -v "$candidate"; return 0; fi
  done
  return 1
}
wine_bin=$(find_tool /usr/lib/wine/wine64 wine64 wine) || {
  echo "wine-run: Wine is not installed (Debian: wine64 wine)" >&2
  exit 127
}
wineserver_bin=$(find_tool /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver wineserver) || {
  echo "wine-run: wineserver is not installed (Debian: wine64 wine)" >&2
  exit 127
}
export WINELOADER="$wine_bin"
export WINESERVER="$wineserver_bin"

if [ "${1:-}" = "--stop" ]; then
  "$wineserver_bin" -w
  exit 0
fi
if [ "${1:-}" = "--kill" ]; then
  "$wineserver_bin" -k 2>/dev/null || true
  exit 0
fi
if [ $# -eq 0 ]; then
  echo "usage: $0 <program.exe> [arguments...] | --stop | --kill" >&2
  exit 2
fi

mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine_bin" wineboot --init </dev/null >/dev/null 2>&1 9>&- || true
  fi
  # Exit code 0: a new server, so this session's services are not up yet.
  # Otherwise one is running already (or cannot start, which the program's
  # own start will report).
  if "$wineserver_bin" -p"$persist_seconds" </dev/null >/dev/null 2>&1 9>&-; then
    "$wine_bin" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$WINEPREFIX.lock"

exec "$wine_bin" "$@"
