#!/usr/bin/env bash
# Renders the desktop utility's window to PNG files without a display (Qt's
# offscreen platform), on the virtual scanner: after start-up, after a
# two-sided batch, after a gray batch, the message box of a jam (alone and
# over the window whose batch it ended), a page zoomed
# into its MICR line next to a turned rear page, the delete question, a batch
# with image defects (flagged pages marked, the shown page's defects), and the
# driver's settings and QA dialogs opened with SETTING and QA.
#   scripts/screenshots.sh [OUTPUT_DIR]      (default out/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
out=${1:-out/screenshots}
echo "== building orvo_viewer_screenshots" >&2
scripts/build.sh default --target orvo_viewer_screenshots >/dev/null
mkdir -p "$out"
QT_QPA_PLATFORM=offscreen build/utility/viewer/orvo_viewer_screenshots "$out"
