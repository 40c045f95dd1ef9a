#!/usr/bin/env bash
# The Windows build: cross-built with MinGW-w64, its suites run as Windows
# programs under Wine, in a Wine prefix of its own inside the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh cmake ninja-build googletest g++-mingw-w64-x86-64-posix wine wine64

cmake --preset windows
cmake --build --preset windows

# The first start in a fresh prefix sets it up, which takes a while: done
# once here, so that no test spends its time-out on it.
export WINEPREFIX="$PWD/build/windows/wineprefix"
export WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "initialising the Wine prefix $WINEPREFIX"
  cmake/wine-run.sh "$WINEPREFIX" wineboot.exe -i >/dev/null 2>&1 || true
fi

# Wine's own background processes start with the first program and inherit
# its output, and ctest waits for every holder of a test's output to close
# it: a program kept running here starts them, with nowhere to write, and
# keeps them for the whole run. It ends when this script's end closes its
# input.
exec {keeper}> >(cmake/wine-run.sh "$WINEPREFIX" cmd.exe >/dev/null 2>&1)
sleep 2

status=0
ctest --preset windows || status=$?
exec {keeper}>&-
# The Wine server of this prefix would otherwise linger for a few seconds.
wineserver=$(command -v wineserver || command -v wineserver-stable || echo /usr/lib/wine/wineserver64)
"$wineserver" -k 2>/dev/null || true
exit $status
