#!/bin/sh
# Builds the libFuzzer programs with clang (build-fuzz) and runs each one on
# its seed corpus for N seconds (default 20). Exits non-zero when a program
# finds a crash, a sanitizer report or a leak; the reproducer is left in
# build-fuzz/findings/<target>/.
#   scripts/fuzz.sh [seconds]
set -eu
seconds=${1:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz

CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S "$root" -B "$build" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVO_FUZZ=ON -DORVO_SANITIZE=address,undefined >/dev/null
targets=$(cd "$root/fuzz" && ls *_fuzz.cpp | sed 's/\.cpp$//')
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target $targets

status=0
for t in $targets; do
  corpus=$root/fuzz/corpus/$t
  work=$build/corpus/$t
  findings=$build/findings/$t
  mkdir -p "$corpus" "$work" "$findings"
  echo "== $t: ${seconds}s"
  # New inputs go to the build's own corpus; the committed seeds stay as they are.
  if ! UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
      -artifact_prefix="$findings/" -print_final_stats=1 "$work" "$corpus" \
      >"$build/$t.log" 2>&1; then
    echo "!! $t found a fault; see $build/$t.log and $findings/"
    tail -n 40 "$build/$t.log"
    status=1
  else
    grep -E "stat::number_of_executed_units|cov:" "$build/$t.log" | tail -n 2
  fi
done
exit $status
