#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the normal build and
# its tests (beside them the Debian package, checked in a scratch root, and a
# short run of every fuzz target), the same tests under AddressSanitizer +
# UndefinedBehaviorSanitizer, then the threaded parts under ThreadSanitizer.
# Each stage says how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

started=$SECONDS
stage_start=$SECONDS
stage() {
  if [[ -n ${stage_name:-} ]]; then
    printf '== %s: %d s\n' "$stage_name" $((SECONDS - stage_start))
  fi
  stage_name=$1
  stage_start=$SECONDS
  [[ -z $stage_name ]] || echo "== $stage_name"
}

# A fresh build tree has no record of how long each test takes; ctest then
# starts them in any order and a long one may start last. tests/costs/ holds
# the times of an earlier run (tests over half a second), so the longest start first.
run_tests() {
  local preset=$1 dir=$2
  mkdir -p "$dir/Testing/Temporary"
  [[ -f $dir/Testing/Temporary/CTestCostData.txt ]] ||
    cp "tests/costs/$preset.txt" "$dir/Testing/Temporary/CTestCostData.txt"
  ctest --preset "$preset"
}

stage "source format"
scripts/check-format.sh

stage "normal build (RelWithDebInfo)"
scripts/build.sh default
# The normal tests mostly wait (one of them on the driver's 25 s clock), so the
# package check and the fuzz targets run meanwhile; their output follows.
stage "normal tests, with the Debian package and the fuzz targets beside them"
run_tests default build >build/normal-tests.log 2>&1 &
normal_tests=$!
trap 'kill "$normal_tests" 2>/dev/null || true' EXIT
echo "-- Debian package, unpacked and run as an operator"
mapfile -t debs < <(scripts/package.sh --built)
scripts/check-package.sh "${debs[@]}"
echo "-- fuzz targets, a short run of each (clang, libFuzzer, ASan + UBSan)"
scripts/fuzz.sh 5
echo "-- normal tests"
if ! wait "$normal_tests"; then
  cat build/normal-tests.log
  echo "== normal tests failed" >&2
  exit 1
fi
sed -n '/tests passed/,$p' build/normal-tests.log

stage "AddressSanitizer + UndefinedBehaviorSanitizer build"
scripts/build.sh asan
stage "AddressSanitizer + UndefinedBehaviorSanitizer tests"
run_tests asan build-asan

stage "ThreadSanitizer build (no Qt parts)"
scripts/build.sh tsan
stage "ThreadSanitizer tests (label threads)"
run_tests tsan build-tsan

stage ""
printf '== all stages passed in %d s\n' $((SECONDS - started))
