#!/usr/bin/env bash
# Installs what is missing, builds the desktop utility and starts it on the
# virtual scanner (ten two-sided cheques per SCAN, fed like a real scanner).
#   scripts/viewer.sh [orvo_viewer arguments...]
# ORVOSCAN_SIM_SCENARIO=<file.json> feeds your own cheque images
# (simulator/README.md); ORVOSCAN_ASPI=sg uses a real scanner.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
echo "== building orvo_viewer" >&2
scripts/build.sh viewer >/dev/null
export ORVOSCAN_ASPI=${ORVOSCAN_ASPI:-sim}
echo "== build/sysdir/orvo_viewer (ORVOSCAN_ASPI=$ORVOSCAN_ASPI)" >&2
exec build/sysdir/orvo_viewer "$@"
