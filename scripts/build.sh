#!/usr/bin/env bash
# Configures and builds one of the presets of CMakePresets.json (Ninja).
#   scripts/build.sh [PRESET] [more `cmake --build` arguments, e.g. --target orvoscan]
# PRESET: default (build/, the default), asan (build-asan/), tsan (build-tsan/),
# fuzz (build-fuzz/), bench (build-bench/); or, in build/, demo: only orvoscan
# and the virtual scanner, viewer: only orvo_viewer, the virtual scanner and
# the dialogs.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
shift || true
configure=$preset
[[ $preset != viewer ]] || configure=default
[[ $preset != demo ]] || configure=default
cmake --preset "$configure" >/dev/null
cmake --build --preset "$preset" "$@"
