#!/usr/bin/env bash
# Builds the libFuzzer programs with clang (preset "fuzz", build-fuzz/) and
# runs each one on its seed corpus for N seconds (default 20), two at a time.
# Exits non-zero when a program finds a crash, a sanitizer report or a leak;
# the reproducer is left in build-fuzz/findings/<target>/.
#   scripts/fuzz.sh [seconds]
set -eu
seconds=${1:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
cd "$root"
scripts/build.sh fuzz >/dev/null

run() {
  t=$1
  corpus=$root/fuzz/corpus/$t
  work=$build/corpus/$t
  findings=$build/findings/$t
  mkdir -p "$corpus" "$work" "$findings"
  # New inputs go to the build's own corpus; the committed seeds stay as they are.
  if UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
      -artifact_prefix="$findings/" -print_final_stats=1 "$work" "$corpus" \
      >"$build/$t.log" 2>&1; then
    echo "== $t: ${seconds}s, $(grep -E "stat::number_of_executed_units" "$build/$t.log" | tr -s ' ' | cut -d' ' -f2) runs"
  else
    echo "!! $t found a fault; see $build/$t.log and $findings/"
    tail -n 40 "$build/$t.log"
    return 1
  fi
}

status=0
pids=""
for src in fuzz/*_fuzz.cpp; do
  t=$(basename "$src" .cpp)
  run "$t" &
  pids="$pids $!"
  # Two at a time: one per core.
  if [ "$(echo $pids | wc -w)" -ge 2 ]; then
    for p in $pids; do wait "$p" || status=1; done
    pids=""
  fi
done
for p in $pids; do wait "$p" || status=1; done
exit $status
