#!/bin/sh
# Runs a Windows test program under Wine in a fresh prefix whose Wine server
# was started persistent before anything else ran in it: otherwise Wine ends
# a service process a few seconds after the last ordinary process of the
# prefix has ended. The prefix is removed afterwards.
#   wine-service-run.sh LISTING_PREFIX SCRATCH_FOLDER PROGRAM [ARGS...]
# Listing a program's tests needs no service manager and runs as any other
# program does (wine-run.sh, LISTING_PREFIX unless WINEPREFIX is set).
listing=$1
scratch=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
case " $* " in
  *" --gtest_list_tests "*) exec "$here/wine-run.sh" "$listing" "$@" ;;
esac

wineserver=$(command -v wineserver || command -v wineserver-stable || echo /usr/lib/wine/wineserver64)
mkdir -p "$scratch" || exit 1
prefix=$(mktemp -d "$scratch/prefix.XXXXXX") || exit 1
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
cleanup() {
  "$wineserver" -k 2>/dev/null
  "$wineserver" -w 2>/dev/null
  rm -rf "$prefix"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# Wine's background processes inherit the output of whatever starts them,
# and ctest waits for every holder of a test's output: none gets it.
"$wineserver" -p </dev/null >/dev/null 2>&1 || exit 1
WINEDLLOVERRIDES="mscoree,mshtml=" "$here/wine-run.sh" "$prefix" wineboot.exe -i </dev/null >/dev/null 2>&1
# Setting a prefix up may leave two service managers running, which answer
# calls in turn, each with a database of its own: the server is started
# afresh (persistent again) before the program runs.
"$wineserver" -k 2>/dev/null
"$wineserver" -w 2>/dev/null
"$wineserver" -p </dev/null >/dev/null 2>&1 || exit 1
"$here/wine-run.sh" "$prefix" "$@"
status=$?
exit $status
