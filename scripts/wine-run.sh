#!/usr/bin/env bash
# Runs a Windows program under Wine, headless. The prefix is made once, under a
# lock so that parallel first runs do not race, and wineserver is started with
# its output on /dev/null: helpers that inherit the caller's output pipe would
# otherwise keep every test waiting until they exit.
set -euo pipefail

export WINEPREFIX="${WINEPREFIX:-/tmp/quorvandile-wine}"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

wine_bin=$(command -v wine64 || command -v wine || true)
if [ -z "$wine_bin" ]; then
  echo "wine-run: wine64 is not installed" >&2
  exit 127
fi

mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine_bin" wineboot --init >/dev/null 2>&1 </dev/null || true
  fi
  wineserver -p >/dev/null 2>&1 </dev/null || true
) 9>"$WINEPREFIX.lock"

exec "$wine_bin" "$@"
