#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: a normal build (and
# its Debian package, checked in a scratch root), the same tests under
# AddressSanitizer + UndefinedBehaviorSanitizer, a short run of every fuzz
# target, then the threaded parts under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1

echo "== source format"
scripts/check-format.sh

echo "== build and test (RelWithDebInfo)"
scripts/build.sh build
ctest --test-dir build -j"$jobs" --timeout 600

echo "== Debian package (from the build tree), unpacked and run as an operator"
deb=$(scripts/package.sh build | tail -n 1)
scripts/check-package.sh "$deb"

echo "== build and test (AddressSanitizer + UndefinedBehaviorSanitizer)"
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DORVO_SANITIZE=address,undefined
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -j"$jobs" --timeout 900 -LE slow

echo "== fuzz targets, a short run of each (clang, libFuzzer, ASan + UBSan)"
scripts/fuzz.sh 5

echo "== build and test (ThreadSanitizer: ASPI layer, worker, batches, tool, SANE backend)"
scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=Debug -DORVO_SANITIZE=thread -DORVO_BUILD_GUI=OFF
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan -j"$jobs" --timeout 900 -L "^(e2e|aspi|platform|batch|orvoscan|scanrun|simulator|sane)$" -LE slow
