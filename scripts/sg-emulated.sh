#!/usr/bin/env bash
# Runs a command with the ASPI layer's sg backend, the path of a real scanner,
# over an emulated device: a fake SCSI generic tree holding the virtual scanner
# of ORVOSCAN_SIM_SCENARIO (or its default stack), and the SG emulation
# preloaded, which answers every SG_IO on the tree's nodes as the kernel's sg
# driver would, with the virtual scanner's device model. For tests: no
# hardware, no kernel module.
#   scripts/sg-emulated.sh build/sysdir/orvoscan scan -p Check -o out/sg/A.tif
#   ORVOSCAN_SIM_SCENARIO=simulator/scenarios/jam_at_document_3.json scripts/sg-emulated.sh ...
# ORVO_BUILD_DIR names the build (default build/); ORVO_SG_EMULATION and
# ORVO_SG_TREE name the emulation library and the tree tool when they are
# elsewhere. The command's exit status is the script's.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVO_BUILD_DIR:-$root/build}
emulation=${ORVO_SG_EMULATION:-$build/simulator/sg_emulation/liborvo_sg_emulation.so}
tree_tool=${ORVO_SG_TREE:-$build/simulator/sg_emulation/orvo_sg_tree}

if [[ $# -eq 0 || $1 == --help ]]; then
  sed -n '2,12s/^# \{0,1\}//p' "$0"
  [[ $# -eq 0 ]] && exit 2 || exit 0
fi
for file in "$emulation" "$tree_tool"; do
  if [[ ! -x $file ]]; then
    echo "sg-emulated: $file is not built (ninja -C $build orvo_sg_emulation orvo_sg_tree_tool)" >&2
    exit 2
  fi
done

tree=$(mktemp -d "${TMPDIR:-/tmp}/orvo-sg-tree-XXXXXX")
trap 'rm -rf "$tree"' EXIT
"$tree_tool" "$tree"

# A sanitizer runtime the emulation was built with must come first.
preload=$(ldd "$emulation" | awk '$1 ~ /^(libclang_rt\.[a-z]+-|libasan|libtsan|libubsan)/ { print $3 }' |
  paste -sd: -)
preload=${preload:+$preload:}$emulation${LD_PRELOAD:+:$LD_PRELOAD}

status=0
ORVOSCAN_ASPI=sg ORVOSCAN_SYSFS_ROOT=$tree ORVOSCAN_DEV_ROOT=$tree LD_PRELOAD=$preload "$@" ||
  status=$?
exit "$status"
