#!/usr/bin/env bash
# A real systemd for tests, on a machine where none runs as the system's
# manager: systemd as PID 1 of a PID, mount and cgroup namespace of its own,
# in a cgroup of its own (a cgroup v2 hierarchy of which it sees only its
# part), with a /run of its own. The file system is otherwise the host's, so
# a unit can start the programs of a build folder in a temporary folder.
#
#   systemd-sandbox.sh start DIR [OWNER_PID]
#       Boots systemd with the units in DIR/units (created if missing; one
#       written later is seen after "systemctl daemon-reload") and returns
#       once it answers. systemd's own messages go to DIR/systemd.log. With
#       OWNER_PID, everything is torn down once that process has ended,
#       however it ended, so a crashed test leaves nothing running.
#       Exit status 77, with the reason on standard error: this machine
#       cannot run it.
#   systemd-sandbox.sh run DIR SECONDS COMMAND [ARG...]
#       Runs COMMAND inside (systemctl, kill, ...), ended after SECONDS.
#   systemd-sandbox.sh stop DIR
#       Kills systemd and everything it started, and removes the cgroup.
#       Does nothing when nothing runs; safe to repeat.
#
# Every wait has a deadline. The manager knows the units of DIR/units and
# nothing of the system's own: those would act on this machine, whose file
# system and kernel the sandbox shares (systemd-tmpfiles-setup, pulled in by
# any unit's default dependencies through sysinit.target, empties /tmp). The
# targets that default dependencies and common units name are stand-ins
# that pull in nothing, so such a unit starts all the same.
set -euo pipefail

self=$(readlink -f "$0")
BOOT_TARGET=tormel-sandbox.target
STAND_INS="sysinit basic sockets timers paths slices local-fs local-fs-pre remote-fs swap network network-pre
  network-online nss-lookup time-set time-sync multi-user graphical default shutdown umount final emergency rescue"

die() { echo "systemd-sandbox: $*" >&2; exit 1; }
cannot() { echo "systemd-sandbox: this machine cannot run systemd in a sandbox: $*" >&2; exit 77; }

# Polls COMMAND every 0.1 s until it succeeds; false after SECONDS.
wait_until() {
  local tenths=$(($1 * 10))
  shift
  until "$@"; do
    ((tenths-- > 0)) || return 1
    sleep 0.1
  done
}

systemd_binary() {
  local candidate
  for candidate in /lib/systemd/systemd /usr/lib/systemd/systemd; do
    [ -x "$candidate" ] && { echo "$candidate"; return 0; }
  done
  return 1
}

# Every process of the sandbox is in its cgroup (systemd puts what it starts
# in cgroups below its own), and every command run inside is in its PID
# namespace, which the kernel ends with its PID 1.
kill_all() {
  local cgroup=$1
  if [ -e "$cgroup/cgroup.kill" ]; then
    echo 1 >"$cgroup/cgroup.kill" 2>/dev/null || true
  else
    local pid
    find "$cgroup" -name cgroup.procs -exec cat {} + 2>/dev/null | while read -r pid; do
      kill -KILL "$pid" 2>/dev/null || true
    done
  fi
}

# A cgroup can be removed only once it is empty, and the last processes may
# still be on their way out.
killed_and_removed() {
  kill_all "$1"
  find "$1" -depth -type d -exec rmdir {} + 2>/dev/null
  [ ! -d "$1" ]
}

teardown() {
  local cgroup=$1
  [ -n "$cgroup" ] && [ -d "$cgroup" ] || return 0
  wait_until 10 killed_and_removed "$cgroup" || echo "systemd-sandbox: cannot remove $cgroup" >&2
}

start() {
  local dir=$1 owner=${2:-}
  [ "$(id -u)" -eq 0 ] || cannot "it needs root (namespaces, cgroups, mounts)"
  local systemd
  systemd=$(systemd_binary) || cannot "systemd is not installed (apt-get install systemd)"
  local tool
  for tool in unshare nsenter systemctl script timeout setsid; do
    command -v "$tool" >/dev/null || cannot "$tool is missing"
  done
  local hierarchy current
  hierarchy=$(awk '$3 == "cgroup2" { print $2; exit }' /proc/self/mounts)
  [ -n "$hierarchy" ] || cannot "no cgroup v2 hierarchy is mounted"
  current=$(sed -n 's/^0:://p' /proc/self/cgroup)
  unshare --pid --fork --mount --cgroup true 2>/dev/null || cannot "unshare cannot create PID, mount and cgroup namespaces"

  mkdir -p "$dir/units" "$dir/boot"
  dir=$(readlink -f "$dir")
  [ -e "$dir/cgroup" ] && die "$dir holds a sandbox already"
  local target
  for target in ${BOOT_TARGET%.target} $STAND_INS; do
    printf '[Unit]\nDescription=Sandbox stand-in: nothing\nDefaultDependencies=no\n' >"$dir/boot/$target.target"
  done
  : >"$dir/systemd.log"
  : >"$dir/sandbox.log"
  local cgroup="$hierarchy${current%/}/tormel-sandbox-$$-$RANDOM"
  mkdir "$cgroup" 2>/dev/null || cannot "cannot create a cgroup in $hierarchy${current%/}"
  echo "$cgroup" >"$dir/cgroup"
  # Until systemd answers, any way out of here leaves nothing behind.
  trap 'teardown "$cgroup"; rm -f "$dir/cgroup" "$dir/pid" "$dir/ns"' EXIT
  if [ -n "$owner" ]; then
    setsid bash "$self" guard "$owner" "$cgroup" </dev/null >/dev/null 2>&1 &
  fi

  # Into the cgroup first, so that the namespace's view of the hierarchy
  # begins there; --kill-child ends systemd when unshare is killed. systemd
  # logs only to a terminal: script gives it one and copies what it says.
  local inside
  printf -v inside '%q ' unshare --pid --fork --mount --cgroup --kill-child bash "$self" inner "$dir" "$systemd"
  # shellcheck disable=SC2016 # expanded by the inner shell
  setsid bash -c 'echo $$ >"$1/cgroup.procs" && exec script --quiet --flush --command "$2" "$3"' \
    _ "$cgroup" "$inside" "$dir/systemd.log" </dev/null >/dev/null 2>"$dir/sandbox.log" &

  wait_until 10 test -s "$dir/pid" || die "systemd did not start:"$'\n'"$(cat "$dir/sandbox.log" "$dir/systemd.log")"
  local ns
  ns=$(readlink "/proc/$(cat "$dir/pid")/ns/pid") || die "systemd ended at once:"$'\n'"$(cat "$dir/systemd.log")"
  echo "$ns" >"$dir/ns"

  # Up once it has reached its target (running), or knows a unit failed.
  local state="" i
  for ((i = 0; i < 60; i++)); do
    state=$(run "$dir" 5 systemctl is-system-running --wait 2>/dev/null) || true
    case $state in
      running | degraded)
        trap - EXIT
        return 0
        ;;
    esac
    sleep 0.5
  done
  die "systemd did not come up (state \"$state\"); its log:"$'\n'"$(cat "$dir/systemd.log")"
}

# As PID 1 of the new namespaces: its own /proc and view of the cgroup
# hierarchy, a /run of its own (systemd's sockets and state), and the
# terminal of script as /dev/console, where systemd logs.
inner() {
  local dir=$1 systemd=$2 console
  console=$(tty) || { echo "systemd-sandbox: no terminal for systemd's log" >&2; exit 1; }
  # Its PID outside, read by the shell itself while /proc is still the host's.
  local key hostPid="" rest
  while read -r key rest; do
    [ "$key" = NSpid: ] && hostPid=${rest%%[[:space:]]*}
  done </proc/self/status
  mount -t proc proc /proc
  mount -t cgroup2 cgroup2 /sys/fs/cgroup
  mount -t tmpfs -o mode=0755 tmpfs /run
  mount --bind "$console" /dev/console
  echo "$hostPid" >"$dir/pid.new"
  mv "$dir/pid.new" "$dir/pid"
  # Without a trailing ":" these are the only unit folders.
  exec env -i container=tormel-sandbox PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    SYSTEMD_UNIT_PATH="$dir/units:$dir/boot" \
    "$systemd" --system --unit="$BOOT_TARGET" --log-target=console --log-color=no --show-status=no
}

run() {
  local dir=$1 seconds=$2
  shift 2
  local pid
  pid=$(cat "$dir/pid" 2>/dev/null) || die "no sandbox runs in $dir"
  [ "$(readlink "/proc/$pid/ns/pid" 2>/dev/null)" = "$(cat "$dir/ns" 2>/dev/null)" ] ||
    die "the sandbox in $dir has ended"
  timeout --kill-after=2 "$seconds" nsenter --target "$pid" --mount --pid -- \
    env SYSTEMD_PAGER= SYSTEMD_COLORS=0 "$@"
}

stop() {
  local dir=$1
  [ -e "$dir/cgroup" ] || return 0
  teardown "$(cat "$dir/cgroup")"
  rm -f "$dir/pid" "$dir/ns" "$dir/cgroup"
}

# Started by start: tears the sandbox down once its owner has ended, and
# ends itself when the sandbox was stopped first.
guard() {
  local owner=$1 cgroup=$2
  cd /
  while kill -0 "$owner" 2>/dev/null && [ -d "$cgroup" ]; do
    sleep 1
  done
  teardown "$cgroup"
}

command=${1:-}
[ $# -gt 0 ] && shift
case $command in
  start) [ $# -ge 1 ] || die "usage: start DIR [OWNER_PID]"; start "$@" ;;
  run) [ $# -ge 3 ] || die "usage: run DIR SECONDS COMMAND [ARG...]"; run "$@" ;;
  stop) [ $# -eq 1 ] || die "usage: stop DIR"; stop "$1" ;;
  inner) inner "$@" ;;
  guard) guard "$@" ;;
  *) die "usage: $(basename "$0") start|run|stop DIR ..." ;;
esac
