#!/bin/sh
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

python3 - "$out/decode.json" "$out/driver.json" "$out/quality.json" <<'PY'
import json, sys

def load(path):
    runs = {}
    for b in json.load(open(path))["benchmarks"]:
        if b.get("aggregate_name", "median") != "median":
            continue
        runs[b.get("run_name", b["name"])] = b
    return runs

dec, drv, qual = load(sys.argv[1]), load(sys.argv[2]), load(sys.argv[3])
rows = []

def row(what, value, unit, against="", ratio=""):
    rows.append((what, value, unit, against, ratio))

for arg, page in (("0", "cheque 1728 wide"), ("1", "full page 2592x3000")):
    fast = dec["BM_DecodeMhPage/" + arg]["items_per_second"]
    ref = dec["BM_DecodeMhPageReference/" + arg]["items_per_second"]
    lines = dec["BM_LibtiffScanlines/" + arg]["items_per_second"]
    strip = dec["BM_LibtiffStrip/" + arg]["items_per_second"]
    row("DecodeMhPage, " + page, f"{fast:,.0f}", "pages/s",
        f"libtiff scanlines {lines:,.0f}", f"{fast / lines:.2f}x")
    row("DecodeMhPage, " + page, f"{fast:,.0f}", "pages/s",
        f"libtiff whole strip {strip:,.0f}", f"{fast / strip:.2f}x")
    row("  reference bit walk, " + page, f"{ref:,.0f}", "pages/s",
        f"fast path {fast:,.0f}", f"{ref / fast:.2f}x")

gray_ms = {}
for bits, arg, page in ((8, 0, "cheque 1728x800"), (8, 1, "noisy cheque (+-2 levels)"),
                        (4, 0, "cheque 1728x800")):
    fast = dec[f"BM_DecodeGray{bits}Page/{arg}"]["items_per_second"]
    ref = dec[f"BM_DecodeGray{bits}PageReference/{arg}"]["items_per_second"]
    if arg == 0:
        gray_ms[bits] = 1000 / fast
    row(f"DecodeGray{bits}Page, {page}", f"{fast:,.0f}", "pages/s",
        f"reference bit walk {ref:,.0f}", f"{fast / ref:.1f}x (target >= 10x)")
b = dec["BM_GrayFraming/real_time"]
framing_ms = 1000 / b["items_per_second"]
row("  gray page framing (RTC, EOL count)", f"{framing_ms:.3f}", "ms/page")

save_ms = {}
for arg, what in ((0, "8-bit gray, uncompressed"), (1, "8-bit gray, LZW, driver's coder"),
                  (3, "8-bit gray, LZW, libtiff's coder"), (2, "8-bit gray, PackBits (libtiff)"),
                  (4, "4-bit gray, uncompressed"), (5, "4-bit gray, LZW, driver's coder"),
                  (6, "bilevel, Group 4, driver's coder"),
                  (7, "bilevel, Group 4, libtiff's coder")):
    b = dec[f"BM_SaveTiff/{arg}/real_time"]
    save_ms[arg] = 1000 / b["items_per_second"]
    row("TIFF writer alone, cheque, " + what, f"{save_ms[arg]:.2f}", "ms/page",
        f"file {b['file_bytes'] / 1024:,.0f} KiB")

g4lib = drv["BM_LibtiffG3ToG4/real_time"]["pages_per_s"]
g4lib_cpu = drv["BM_LibtiffG3ToG4/real_time"]["cpu_ms_per_page"]
row("libtiff-only pipeline: G3 TIFF -> G4 TIFF file", f"{g4lib:,.0f}", "pages/s",
    f"{1000 / g4lib:.2f} ms/page, CPU {g4lib_cpu:.2f} ms/page")
# Gray retrievals: the decode and the coder of the benchmarks above as parts
# of the measured time per page (the rest: reading the page file, the MICR
# text, the file's fields and writing it out).
parts = {"gray_tiff": (8, 0), "gray_lzw_tiff": (8, 1), "gray4_lzw_tiff": (4, 5),
         "gray4_tiff": (4, 4)}
for cap, what, target in (("g4_tiff", "Group 4 TIFF", None), ("bmp", "BMP", None),
                          ("gray_tiff", "gray 8-bit TIFF (uncompressed)", 300),
                          ("gray_lzw_tiff", "gray 8-bit TIFF (LZW)", 150),
                          ("gray4_tiff", "gray 4-bit TIFF (uncompressed)", None),
                          ("gray4_lzw_tiff", "gray 4-bit TIFF (LZW)", None)):
    b = drv[f"BM_GetOneImage/{cap}/iterations:3/manual_time"]
    pps = b["pages_per_s"]
    if cap in ("g4_tiff", "bmp"):
        row("GetOneImage, " + what, f"{pps:,.0f}", "pages/s", f"libtiff G3->G4 {g4lib:,.0f}",
            f"{pps / g4lib:.2f}x" + (" (target >= 1.0x)" if cap == "g4_tiff" else ""))
        cpu = b["cpu_ms_per_page"]
        row("  the same in CPU time of the calling thread", f"{cpu:.2f}", "ms/page",
            f"libtiff G3->G4 {g4lib_cpu:.2f} ms/page", f"{g4lib_cpu / cpu:.2f}x")
    elif target is not None:
        row("GetOneImage, " + what, f"{pps:,.0f}", "pages/s", f"target >= {target}",
            f"{pps / target:.2f}x")
        cpu = b["cpu_ms_per_page"]
        row("  the same in CPU time of the calling thread", f"{1000 / cpu:,.0f}", "pages/s",
            f"target >= {target}", f"{1000 / cpu / target:.2f}x")
    else:
        row("GetOneImage, " + what, f"{pps:,.0f}", "pages/s")
    if cap in parts:
        bits, arg = parts[cap]
        total = 1000 / pps
        rest = total - gray_ms[bits] - framing_ms - save_ms[arg]
        row("  per page: decode + framing + coder + rest", f"{total:.2f}", "ms",
            f"{gray_ms[bits]:.2f} + {framing_ms:.2f} + {save_ms[arg]:.2f} + {rest:.2f} ms")

b = drv["BM_Batch200/iterations:2/manual_time"]
row("Batch 200 two-sided cheques, zero latency, G4", f"{b['docs_per_s']:,.1f}", "docs/s",
    "target >= 100", f"{b['docs_per_s'] / 100:.2f}x")
row("  CPU per document, zero latency", f"{b['cpu_ms_per_doc']:.2f}", "ms")
row("  peak resident memory", f"{b['rss_peak_MiB']:.1f}", "MiB",
    f"after OrvoScan_Init {b['rss_init_MiB']:.1f} MiB")
b = drv["BM_Batch200Checked/iterations:2/manual_time"]
row("Batch 200 cheques with quality checks, zero latency", f"{b['docs_per_s']:,.1f}", "docs/s",
    "target >= 100", f"{b['docs_per_s'] / 100:.2f}x")
row("  CPU per document, checks included", f"{b['cpu_ms_per_doc']:.2f}", "ms")
for arg, what, target in (("1", "bilevel side 1728x800", 2.0), ("8", "8-bit gray side 1728x800", 5.0),
                          ("4", "4-bit gray side 1728x800", 5.0)):
    ms = qual[f"BM_CheckSide/{arg}"]["cpu_ms_per_side"]
    row(f"Quality checks, {what}", f"{ms:.2f}", "ms CPU", f"target <= {target:g}",
        f"{ms / target:.2f}x")
ms = qual["BM_ReadGroup4Page"]["cpu_ms_per_side"]
row("  reading a Group 4 side back (libtiff)", f"{ms:.2f}", "ms CPU")
b = drv["BM_DefaultLatencyCpu/iterations:1/manual_time"]
row("CPU per document, default latency", f"{b['cpu_ms_per_doc']:.1f}", "ms",
    f"process CPU {b['cpu_percent']:.1f}% of one core")
b = drv["BM_PageWakeup/iterations:3/manual_time"]
row("Page written -> GetOneImage returns, median", f"{b['delay_median_ms']:.2f}", "ms",
    f"max {b['delay_max_ms']:.2f} ms (longest sleep 300 ms)")
row("CPU while the scanner has nothing (median of 3 pauses)", f"{b['idle_cpu_percent']:.2f}",
    "% of a core",
    f"{b['idle_cpu_percent_min']:.2f} to {b['idle_cpu_percent_max']:.2f}, target <= 1 %",
    f"{b['idle_cpu_percent']:.2f}x")
b = drv["BM_NoticeDelay/iterations:1/manual_time"]
row("Document ready -> worker notices, median", f"{b['notice_median_ms']:.0f}", "ms",
    f"max {b['notice_max_ms']:.0f} ms, target <= 20", f"{b['notice_max_ms'] / 20:.2f}x")

widths = [max(len(str(r[i])) for r in rows + [("What", "Value", "Unit", "Against", "Ratio")])
          for i in range(5)]
def line(r):
    return "| " + " | ".join(str(c).ljust(w) for c, w in zip(r, widths)) + " |"
print(line(("What", "Value", "Unit", "Against", "Ratio")))
print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
for r in rows:
    print(line(r))
PY
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

# The scanning service against orvoscan scan on the same stack.
"$root/scripts/build.sh" bench --target bench_service >/dev/null
"$build/service/bench_service" "$build/sysdir/orvoscand" "$build/sysdir/orvoscan" "$build/sysdir"

# The desktop utility's table (Qt, offscreen).
"$root/scripts/bench-viewer.sh"

# K4TR.dll under Wine against the native driver.
"$root/scripts/bench-windows.sh"
