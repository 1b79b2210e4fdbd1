#!/usr/bin/env bash
# Counts the instructions each page costs (valgrind's callgrind) for the page
# retrieval rows of scripts/bench.sh and for the libtiff-only pipeline they
# are set against. Unlike times, these counts do not depend on what else the
# machine is doing, so they back the timed table on a busy machine.
#   scripts/bench-instructions.sh [build dir]   (after scripts/bench.sh)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
bench=$build/bench/bench_driver
if [ ! -x "$bench" ]; then
  echo "bench-instructions: $bench not built; run scripts/bench.sh first" >&2
  exit 1
fi
command -v valgrind >/dev/null || {
  echo "bench-instructions: valgrind is needed" >&2
  exit 1
}

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# count NAME FILTER FUNCTION: instructions inside FUNCTION per page taken.
count() {
  valgrind --tool=callgrind --callgrind-out-file="$out/$1.cg" --toggle-collect="$3" \
    "$bench" --benchmark_filter="$2" --benchmark_min_time=0 --benchmark_format=json \
    >"$out/$1.json" 2>"$out/$1.err" || {
    cat "$out/$1.err" >&2
    exit 1
  }
  python3 "$root/scripts/bench_instructions_row.py" "$1" "$out/$1.cg" "$out/$1.json"
}

echo "| What                               | M instructions per page | pages |"
echo "|------------------------------------|--------|-------|"
count "GetOneImage, Group 4 TIFF" "GetOneImage/g4_tiff/" "OrvoScan_GetOneImage"
count "libtiff G3->G4 pipeline" "LibtiffG3ToG4" "*LibtiffG3ToG4Page*"
count "GetOneImage, BMP" "GetOneImage/bmp/" "OrvoScan_GetOneImage"
count "GetOneImage, gray 8-bit uncompressed" "GetOneImage/gray_tiff/" "OrvoScan_GetOneImage"
count "GetOneImage, gray 8-bit LZW" "GetOneImage/gray_lzw_tiff/" "OrvoScan_GetOneImage"
count "GetOneImage, gray 4-bit LZW" "GetOneImage/gray4_lzw_tiff/" "OrvoScan_GetOneImage"
