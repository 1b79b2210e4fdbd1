#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the normal build and
# its tests (beside them the Debian package, checked in a scratch root, and a
# short run of every fuzz target), the same tests under AddressSanitizer +
# UndefinedBehaviorSanitizer, then the threaded parts under ThreadSanitizer.
# The two sanitizer builds start right after the normal build and run at the
# lowest priority beside the tests. Each stage says how long it took.
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

# Ends a background job with everything it started (the builds' compilers).
stop_tree() {
  local child
  for child in $(pgrep -P "$1" 2>/dev/null); do stop_tree "$child"; done
  kill "$1" 2>/dev/null || true
}
background=()
trap 'for p in "${background[@]}"; do stop_tree "$p"; done' EXIT

# From here on the sanitizer builds run beside the tests at the lowest
# priority: the tests mostly wait (one of them on the driver's 25 s clock),
# and the builds take what the tests leave of the cores. Each build leaves
# its log and its exit status in build/.
rm -f build/asan-build.status build/tsan-build.status
(
  set +e
  nice -n 19 scripts/build.sh asan >build/asan-build.log 2>&1
  status=$?
  echo $status >build/asan-build.status
  ((status == 0)) || exit
  nice -n 19 scripts/build.sh tsan >build/tsan-build.log 2>&1
  echo $? >build/tsan-build.status
) &
background+=($!)
# Waits for one of them (asan or tsan); a failed build ends the run with its log.
await_build() {
  local status=build/$1-build.status
  while [[ ! -f $status ]]; do
    if ! kill -0 "${background[0]}" 2>/dev/null && [[ ! -f $status ]]; then
      echo "== the $1 build did not finish" >&2
      exit 1
    fi
    sleep 1
  done
  if [[ $(cat "$status") != 0 ]]; then
    cat "build/$1-build.log"
    echo "== $1 build failed" >&2
    exit 1
  fi
}

stage "normal tests, with the Debian package and the fuzz targets beside them"
run_tests default build >build/normal-tests.log 2>&1 &
normal_tests=$!
background+=($normal_tests)
echo "-- Debian package, unpacked and run as an operator"
mapfile -t debs < <(scripts/package.sh --built)
scripts/check-package.sh "${debs[@]}"
echo "-- fuzz targets, a short run of each (clang, libFuzzer, ASan + UBSan)"
nice -n 10 scripts/fuzz.sh 5
echo "-- normal tests"
if ! wait "$normal_tests"; then
  cat build/normal-tests.log
  echo "== normal tests failed" >&2
  exit 1
fi
sed -n '/tests passed/,$p' build/normal-tests.log

stage "AddressSanitizer + UndefinedBehaviorSanitizer build (what remains of it)"
await_build asan
stage "AddressSanitizer + UndefinedBehaviorSanitizer tests"
run_tests asan build-asan

stage "ThreadSanitizer build, no Qt parts (what remains of it)"
await_build tsan
stage "ThreadSanitizer tests (label threads)"
run_tests tsan build-tsan

stage ""
printf '== all stages passed in %d s\n' $((SECONDS - started))
