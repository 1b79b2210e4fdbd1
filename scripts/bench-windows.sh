#!/bin/sh
# K4TR.dll under Wine against the native driver in the same run: a 200-cheque
# two-sided batch at zero latency into Group 4 TIFF files through
# OrvoScan_GetOneImage, by the native client on libK4TR.so and by the Windows
# client through the scanning service, in turn, ORVO_BENCH_ROUNDS times (3).
# Prints one table row: the best rate of each (pages per second), the DLL's
# share of the native rate, and the share in each round.
#   scripts/bench-windows.sh [win32|win64]
# By default the 32-bit build, or the 64-bit one where a 32-bit Wine cannot
# start; win64 takes the 64-bit build in any case.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
"$root/scripts/build.sh" default --target orvoscand k4tr_client_native k4tr_test_clients \
  >/dev/null

work=$(mktemp -d /tmp/orvo-bench-windows-XXXXXX)
service=""
cleanup() {
  [ -z "$service" ] || kill "$service" 2>/dev/null || true
  [ -z "${wineserver:-}" ] || WINEPREFIX=$work/prefix "$wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -m 700 "$work/run" "$work/tmp" "$work/home" "$work/sys"
for f in huffmanb.dat huffmanw.dat huffmang.dat OrvoScan.ini; do cp "$build/sysdir/$f" "$work/sys/"; done
ln -s "$build/sysdir/libK4TR.so" "$work/sys/libK4TR.so"
python3 -c 'import json; print(json.dumps({"latency": {"commandMs": 0, "blockMs": 0,
  "documentIntervalMs": 0}, "documents": [{} for _ in range(200)]}))' >"$work/scenario.json"
export XDG_RUNTIME_DIR=$work/run HOME=$work/home TMPDIR=$work/tmp ORVOSCAN_TRACE_DIR=$work/tmp \
  ORVOSCAN_SYSTEM_DIR=$work/sys ORVOSCAN_ASPI=sim ORVOSCAN_SIM_SCENARIO=$work/scenario.json \
  WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="

# Wine: the 32-bit build, else (no 32-bit programs on this kernel) the 64-bit one.
wine=/usr/lib/wine/wine wineserver=/usr/bin/wineserver client=$build/windows/win32/k4tr_client.exe
dll=$build/sysdir/windows/K4TR.dll
starts() { rc=0; "$wine" "$client" >/dev/null 2>&1 </dev/null || rc=$?; [ "$rc" -eq 2 ]; }
if [ "${1:-}" = win64 ] || ! starts; then
  wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver64
  client=$build/windows/win64/k4tr_client.exe dll=$build/windows/win64/K4TR.dll
  export WINELOADER=$wine
  if ! starts; then
    echo "bench-windows: Wine cannot start here" >&2
    wineserver=""
    exit 0
  fi
fi
"$wineserver" -p30 >/dev/null 2>&1 </dev/null || true

"$build/sysdir/orvoscand" --listen 127.0.0.1:0 --no-system-config --config "$work/none.conf" \
  >"$work/service.out" 2>"$work/service.err" &
service=$!
for _ in $(seq 100); do
  url=$(grep -o 'http://127\.0\.0\.1:[0-9]*' "$work/service.out" || true)
  [ -n "$url" ] && break
  sleep 0.1
done
winpath() { echo "Z:$1" | tr / '\\'; }

rounds=${ORVO_BENCH_ROUNDS:-3}
for round in $(seq "$rounds"); do
  rm -rf "$work/native" "$work/wine"
  mkdir -m 700 "$work/native" "$work/wine"
  "$build/windows/k4tr_client_native" "$build/sysdir/libK4TR.so" file "$work/native" Check 0 \
    >/dev/null 2>"$work/native$round.err"
  ORVOSCAN_SERVICE=$url "$wine" "$client" "$(winpath "$dll")" file "$(winpath "$work/wine")" \
    Check 0 >/dev/null 2>"$work/wine$round.err" </dev/null
done
python3 - "$work" "$rounds" "$(basename "$(dirname "$client")")" <<'PY'
import re, sys
work, rounds, build = sys.argv[1], int(sys.argv[2]), sys.argv[3]
def rate(path):
    text = open(path).read()
    m = re.search(r"file batch: (\d+) pages in ([0-9.]+) s", text)
    if not m or int(m.group(1)) != 400:
        sys.exit(f"bench-windows: no batch of 400 pages in {path}: {text}")
    return int(m.group(1)) / float(m.group(2))
native = [rate(f"{work}/native{r}.err") for r in range(1, rounds + 1)]
dll = [rate(f"{work}/wine{r}.err") for r in range(1, rounds + 1)]
each = ", ".join(f"{d / n:.2f}" for n, d in zip(native, dll))
print(f"| GetOneImage through K4TR.dll ({build}, Wine), 200 two-sided cheques, G4, best of "
      f"{rounds} | {max(dll):,.0f} | pages/s | native driver {max(native):,.0f} pages/s "
      f"(each round: {each}) | {max(dll) / max(native):.2f}x |")
PY
