#!/usr/bin/env bash
# Builds every fuzz target in fuzz/ (fuzz_<name>.cpp) into build/fuzz and runs
# each for the given number of seconds on a scratch copy of fuzz/corpus/<name>/.
# Fails on any crash, leak, hang or sanitizer report; the repository is left
# as it was (new inputs and crash files stay in the scratch folder, which is
# kept and named when something failed).
set -u -o pipefail

if [[ $# -ne 1 || ! $1 =~ ^[0-9]+$ || $1 -lt 1 ]]; then
  echo "usage: fuzz/run.sh SECONDS" >&2
  exit 2
fi
seconds=$1
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz

CXX=clang++ cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build "$build" || exit 1

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tormel_fuzz.XXXXXX")
shopt -s nullglob

# The targets run side by side, one per core.
names=()
for src in "$root"/fuzz/fuzz_*.cpp; do
  target=$(basename "$src" .cpp)
  name=${target#fuzz_}
  names+=("$name")
  work=$scratch/$name
  mkdir -p "$work/corpus"
  if [[ -d $root/fuzz/corpus/$name ]]; then
    cp -R "$root/fuzz/corpus/$name/." "$work/corpus/"
  fi
  (cd "$work" && TMPDIR=$work "$build/$target" -max_total_time="$seconds" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$work/" corpus >fuzz.log 2>&1; echo $? >rc) &
done
wait

failed=0
for name in "${names[@]}"; do
  target=fuzz_$name
  work=$scratch/$name
  log=$work/fuzz.log
  rc=$(cat "$work/rc")
  execs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log" | tail -n 1)
  if [[ $rc -ne 0 ]] || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error:|SUMMARY: ' "$log"; then
    echo "$target: FAILED (exit $rc) after ${execs:-?} executions; log and inputs in $work" >&2
    tail -n 40 "$log" >&2
    failed=1
  else
    echo "$target: ${execs:-0} executions in ${seconds}s, clean"
  fi
done

if [[ $failed -eq 0 ]]; then
  rm -rf "$scratch"
fi
exit $failed
