#!/usr/bin/env bash
# Installs the Debian packages the project needs (only those missing).
set -euo pipefail

PACKAGES=(
  cmake g++ make ninja-build pkg-config
  ccache                # a compiler cache for rebuilds (used when present)
  libtiff-dev           # image files
  nlohmann-json3-dev    # scenario files of the virtual scanner
  libsimpleini-dev      # the limits file of the image quality checks
  libleptonica-dev      # image quality checks: the content's angle (skew)
  libcpp-httplib-dev libssl-dev libsystemd-dev libpng-dev  # the scanning service orvoscand (httplib calls OpenSSL)
  chromium chromium-driver python3-selenium     # the demo page's test in headless Chromium
  libgtest-dev          # tests
  libbenchmark-dev      # benchmarks
  valgrind              # instruction counts of the benchmarks (scripts/bench-instructions.sh)
  clang libclang-rt-dev  # fuzz targets (libFuzzer) and the sanitizer runtimes
  clang-format-19 git   # source format check: one clang-format version on every release
  qt6-base-dev          # desktop utility and the driver's dialogs (Qt 6 Widgets, D-Bus, Test)
  fonts-nanum           # a font with Hangul for the Korean texts of the utility
  dbus                  # a session bus for the utility's automation test (dbus-run-session)
  xvfb xauth libxcb1-dev  # an X server for the utility's test of the title-bar close under a message box
  libsane-dev sane-utils  # the SANE backend; scanimage, saned, the dll and net backends for its tests
  python3-sane          # a SANE client in Python in the backend's tests
  dpkg-dev file         # the Debian package (CPack: dpkg-shlibdeps)
  lintian desktop-file-utils man-db  # checks of the package, its desktop entry and man pages
  gcc-mingw-w64-i686 gcc-mingw-w64-x86-64-win32  # K4TR.dll for Windows programs (and its 64-bit test build)
  wine wine32:i386 wine64  # the Windows test client of K4TR.dll (wine64 where 32-bit programs cannot run)
)

# wine32 comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture (wine32)" >&2
  if [[ $(id -u) -ne 0 ]]; then sudo dpkg --add-architecture i386; else dpkg --add-architecture i386; fi
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
