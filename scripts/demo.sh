#!/usr/bin/env bash
# Installs what is missing, builds, and scans one batch on the virtual
# scanner: the default stack of ten two-sided cheques into out/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
echo "== building the driver, the ASPI layer, the virtual scanner and orvoscan" >&2
scripts/build.sh demo

export ORVOSCAN_ASPI=sim
out="$PWD/out/demo"
mkdir -p "$out"
rm -f "$out"/A*F.tif "$out"/A*R.tif "$out"/micr.txt "$out"/quality.txt

echo "== orvoscan info" >&2
build/sysdir/orvoscan info
echo "== orvoscan scan --profile Check --output $out/A.tif --start 1" >&2
build/sysdir/orvoscan scan --profile Check --output "$out/A.tif" --start 1
echo "== pages in $out:" >&2
ls "$out"
echo "== $out/micr.txt:" >&2
cat "$out/micr.txt"
