#!/usr/bin/env bash
# Builds and runs the desktop utility's benchmarks (preset "bench": Release, build-bench/, Qt's
# offscreen platform) and prints their table: the image view's display of a
# driver-written page against libtiff's decode alone, a GUI scan run, and the
# longest time the window's event loop was away during a batch.
#   scripts/bench-viewer.sh
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-bench

"$root/scripts/build.sh" bench --target bench_viewer code_tables >/dev/null

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
QT_QPA_PLATFORM=offscreen "$build/bench/bench_viewer" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_format=json >"$out/viewer.json" \
  2>"$out/viewer.err" || {
  cat "$out/viewer.err" >&2
  exit 1
}

python3 "$root/scripts/bench_viewer_table.py" "$out/viewer.json"
