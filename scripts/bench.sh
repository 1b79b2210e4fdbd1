#!/usr/bin/env bash
# Builds the benchmarks (preset "bench": Release, build-bench/) and prints one table: bilevel
# decoding against libtiff, gray decoding against its bit-by-bit reference
# with the framing and the TIFF writers on their own, page retrieval per
# output format against a libtiff-only pipeline and the gray targets (with
# what the decode and the coder each take of a page), whole batches, CPU
# time, peak memory, the page wake-up delay, the idle CPU and how soon a
# ready document is noticed, and the image quality checks (per side, and a
# batch with the checks on).
#   scripts/bench.sh
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-bench

"$root/scripts/build.sh" bench --target bench_decode bench_driver bench_quality code_tables >/dev/null

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# Other work on the machine slows every row; the ratios against libtiff are
# taken in the same run.
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bench/bench_decode" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_format=json >"$out/decode.json" 2>"$out/decode.err" || {
  cat "$out/decode.err" >&2
  exit 1
}
"$build/bench/bench_driver" --benchmark_format=json >"$out/driver.json" 2>"$out/driver.err" || {
  cat "$out/driver.err" >&2
  exit 1
}
"$build/bench/bench_quality" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_format=json >"$out/quality.json" 2>"$out/quality.err" || {
  cat "$out/quality.err" >&2
  exit 1
}

python3 "$root/scripts/bench_table.py" "$out/decode.json" "$out/driver.json" "$out/quality.json"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

# The scanning service against orvoscan scan on the same stack.
"$root/scripts/build.sh" bench --target bench_service >/dev/null
"$build/service/bench_service" "$build/sysdir/orvoscand" "$build/sysdir/orvoscan" "$build/sysdir"

# The desktop utility's table (Qt, offscreen).
"$root/scripts/bench-viewer.sh"

# K4TR.dll under Wine against the native driver.
"$root/scripts/bench-windows.sh"
