#!/usr/bin/env python3
# One row of scripts/bench-instructions.sh: instructions per page from a callgrind output
# and the benchmark's JSON.
#   bench_instructions_row.py NAME CALLGRIND_OUT BENCH_JSON
import json, sys
name, cg, js = sys.argv[1:]
total = 0
for line in open(cg):
    if line.startswith("summary:"):
        total = int(line.split()[1])
bench = json.load(open(js))["benchmarks"][0]
pages = bench.get("pages", 0) * bench["iterations"]
print(f"| {name:<34} | {total / pages / 1e6:6.2f} | {int(pages):5d} |")
