#!/usr/bin/env bash
# Shows Tormel's main job on this machine: builds it, starts the reference
# receiver on a loopback port, writes a parameter file and a few records with
# `tormelctl put`, runs the service until the buffer files are delivered,
# shows what the receiver got, and stops both.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null
bin="$root/build/default"
tormel="$bin/service/tormel"
ctl="$bin/tools/tormelctl"
receiver="$bin/tools/tormel-receiver"

work="$(mktemp -d /tmp/tormel-demo.XXXXXX)"
export TORMEL_RUNTIME_DIR="$work/run"
cleanup() {
  [ -n "${service_pid:-}" ] && kill "$service_pid" 2>/dev/null || true
  [ -n "${receiver_pid:-}" ] && kill "$receiver_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

wait_for() {  # wait_for SECONDS COMMAND...: until the command succeeds
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do
    [ $SECONDS -ge $deadline ] && { echo "demo: timed out waiting for: $*" >&2; exit 1; }
    sleep 0.1
  done
}

echo "== starting the reference receiver on 127.0.0.1"
"$receiver" --port 0 --port-file port >received.txt 2>receiver.err &
receiver_pid=$!
wait_for 10 test -s port
port=$(cat port)
echo "   listening on port $port"

printf 'KEYINI\r\n[TORMEL]\r\nXFRIP = 127.0.0.1\r\nXFRPORT = %s\r\nBUFFDATEI = TORMEL.BUF\r\nLOGDATEI = TORMEL.LOG\r\nMAXLOGSIZE = 100\r\nERRLEVEL = 1000\r\nTIMEOUT = 3\r\n' "$port" >SOCKIO.INI
echo "== parameter file, as the service reads it"
"$ctl" check SOCKIO.INI

echo "== five records into buffer files 1 and 2"
for i in 1 2 3; do "$ctl" put --config SOCKIO.INI --number 1 --to 127.0.0.1 "order $i: 12 crates, dock B"; done
for i in 4 5; do "$ctl" put --config SOCKIO.INI --number 2 --to 127.0.0.1 "order $i: 3 pallets, dock A"; done
"$ctl" status SOCKIO.INI

echo "== running the service"
"$tormel" "$work/SOCKIO.INI" &
service_pid=$!
wait_for 30 bash -c '! ls TORMEL*.BUF >/dev/null 2>&1'
"$ctl" status SOCKIO.INI

echo "== stopping the service"
"$ctl" stop
wait "$service_pid" && echo "   service exit status 0"
service_pid=

kill "$receiver_pid"; wait "$receiver_pid" || true
receiver_pid=
echo "== the receiver got (sender address, sender port, record)"
cat received.txt
echo "== error log (empty when all went well)"
cat TORMEL.LOG
