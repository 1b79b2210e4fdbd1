#!/usr/bin/env bash
# Builds the Debian packages orvoscan_<version>_amd64.deb (the programs and
# libraries) and orvoscan-dev_<version>_amd64.deb (for C clients) into build/package/
# from the normal build (preset "default", configured for /usr) and prints
# their paths.
#   scripts/package.sh [--built]     (--built: build/ is built already)
# Install them with: apt install ./build/package/orvoscan_<version>_amd64.deb \
#   ./build/package/orvoscan-dev_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ ${1:-} != --built ]]; then
  scripts/setup.sh
  scripts/build.sh default >/dev/null
fi
rm -f build/package/orvoscan_*.deb build/package/orvoscan-dev_*.deb
# CPack's notes (the private libraries have no shlibs entry) stay in its log.
if ! cpack --preset package >build/cpack.log 2>&1; then
  cat build/cpack.log >&2
  echo "package: cpack failed" >&2
  exit 1
fi
ls "$PWD"/build/package/orvoscan_*.deb "$PWD"/build/package/orvoscan-dev_*.deb
