#!/bin/sh
# Runs a Windows program under Wine: wine-run.sh PREFIX PROGRAM [ARGS...]
# PREFIX is used unless WINEPREFIX is set already. Wine's own messages are off.
prefix=$1
shift
export WINEPREFIX="${WINEPREFIX:-$prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
for wine in wine wine-stable wine64 /usr/lib/wine/wine64; do
  if command -v "$wine" >/dev/null 2>&1; then exec "$wine" "$@"; fi
done
echo "wine-run.sh: no wine found" >&2
exit 127
