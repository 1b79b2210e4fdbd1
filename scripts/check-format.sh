#!/usr/bin/env bash
# Fails when a C or C++ source differs from what .clang-format makes of it.
# One clang-format version on every supported release: versions format
# differently, and clang-format-19 is packaged by Debian 12 and 13 alike.
set -euo pipefail
cd "$(dirname "$0")/.."
CLANG_FORMAT=${CLANG_FORMAT:-clang-format-19}
if ! command -v "$CLANG_FORMAT" >/dev/null; then
  echo "format: $CLANG_FORMAT not found (scripts/setup.sh installs it)" >&2
  exit 2
fi
git ls-files '*.c' '*.cpp' '*.h' | xargs "$CLANG_FORMAT" --dry-run --Werror
echo "format: all sources formatted"
