#!/usr/bin/env python3
# The table of scripts/bench-viewer.sh from bench_viewer's JSON output.
#   bench_viewer_table.py VIEWER_JSON
import json, sys

runs = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    runs[b["run_name"]] = b

def ms(b, key="real_time"):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
    return b[key] * scale

rows = []
for arg, page in (("0", "Group 4 cheque 1728x799"), ("1", "8-bit gray LZW cheque 1728x799")):
    view = runs["BM_ViewDisplay/" + arg]
    decode = runs["BM_LibtiffDecode/" + arg]
    rows.append((f"Image view display, {page}, fit 600x400", f"{ms(view):.2f}", "ms",
                 f"libtiff decode {ms(decode):.2f} ms", f"{ms(view) / ms(decode):.2f}x (target <= 3x)"))
    cpu_view, cpu_decode = ms(view, "cpu_time"), ms(decode, "cpu_time")
    rows.append(("  the same in CPU time", f"{cpu_view:.2f}", "ms",
                 f"libtiff decode {cpu_decode:.2f} ms", f"{cpu_view / cpu_decode:.2f}x"))
shrink = runs["BM_ViewShrink/0"]
plain = runs["BM_ViewShrinkPlain/0"]
decode = runs["BM_LibtiffDecode/0"]
rows.append(("  shrinking alone, Group 4 cheque to 600x277, CPU time", f"{ms(shrink, 'cpu_time'):.2f}",
             "ms", f"plain passes {ms(plain, 'cpu_time'):.2f} ms",
             f"{ms(plain, 'cpu_time') / ms(shrink, 'cpu_time'):.2f}x faster"))
shrink = runs["BM_ViewShrink/1"]
rows.append(("  shrinking alone, 8-bit gray cheque to 600x277, CPU time",
             f"{ms(shrink, 'cpu_time'):.2f}", "ms", "", ""))
run = runs["BM_GuiScanRun200/iterations:3/manual_time"]
rows.append(("GUI scan run, 200 two-sided cheques, zero latency", f"{run['docs_per_s']:.1f}",
             "docs/s", "target 30", f"{run['docs_per_s'] / 30:.2f}x"))
rows.append(("  resident memory after the 1st / last run", f"{run['rss_after_first_MiB']:.1f}",
             "MiB", f"last {run['rss_after_last_MiB']:.1f} MiB", ""))
rows.append(("  event loop away at most during the run", f"{run['longest_away_ms']:.1f}", "ms",
             "target <= 100", f"{run['longest_away_ms'] / 100:.2f}x"))
waits = runs["BM_GuiBatchWithWaits/iterations:1/manual_time"]
rows.append(("GUI batch, scanner timing, waits of 2 s and 4 s for cheques",
             f"{waits['longest_away_ms']:.1f}", "ms", "target <= 100",
             f"{waits['longest_away_ms'] / 100:.2f}x"))

head = ("What", "Value", "Unit", "Against", "Ratio")
widths = [max(len(str(r[i])) for r in rows + [head]) for i in range(5)]
def line(r):
    return "| " + " | ".join(str(c).ljust(w) for c, w in zip(r, widths)) + " |"
print(line(head))
print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
for r in rows:
    print(line(r))
