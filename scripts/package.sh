#!/usr/bin/env bash
# Builds the Debian package orvoscan_<version>_amd64.deb into BUILD_DIR/package/
# from the normal build tree (configured for /usr) and prints its path.
#   scripts/package.sh [BUILD_DIR]
# Install it with: apt install ./build/package/orvoscan_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
scripts/setup.sh
scripts/build.sh "$dir" -DCMAKE_INSTALL_PREFIX=/usr
rm -f "$dir"/package/orvoscan_*.deb
# CPack's notes (the private libraries have no shlibs entry) stay in its log.
if ! (cd "$dir" && cpack -G DEB --config CPackConfig.cmake >cpack.log 2>&1); then
  cat "$dir/cpack.log" >&2
  echo "package: cpack failed" >&2
  exit 1
fi
ls "$PWD/$dir"/package/orvoscan_*.deb
