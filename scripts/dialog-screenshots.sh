#!/usr/bin/env bash
# Renders the driver's settings and QA dialogs to PNG files without a display
# (offscreen), as the dialog tests open them on the virtual scanner.
#   scripts/dialog-screenshots.sh [OUTPUT_DIR]   (default: out/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-out/screenshots}")
mkdir -p "$out"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target dialogs_dialogs_test >/dev/null
ORVO_SCREENSHOT_DIR="$out" ORVOSCAN_SYSTEM_DIR="$PWD/build/sysdir" QT_QPA_PLATFORM=offscreen \
  build/dialogs/dialogs_dialogs_test --gtest_filter='*SetupShows*:*QaShows*' >/dev/null
ls "$out"/setup-dialog.png "$out"/qa-dialog.png
