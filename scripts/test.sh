#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the normal build (and
# its Debian package, checked in a scratch root), the same tests under
# AddressSanitizer + UndefinedBehaviorSanitizer, a short run of every fuzz
# target, then the threaded parts under ThreadSanitizer. Each stage says how
# long it took.
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

stage "source format"
scripts/check-format.sh

stage "normal build (RelWithDebInfo)"
scripts/build.sh default
stage "normal tests"
ctest --preset default

stage "Debian package, unpacked and run as an operator"
deb=$(scripts/package.sh | tail -n 1)
scripts/check-package.sh "$deb"

stage "AddressSanitizer + UndefinedBehaviorSanitizer build"
scripts/build.sh asan
stage "AddressSanitizer + UndefinedBehaviorSanitizer tests"
ctest --preset asan

stage "fuzz targets, a short run of each (clang, libFuzzer, ASan + UBSan)"
scripts/fuzz.sh 5

stage "ThreadSanitizer build (no Qt parts)"
scripts/build.sh tsan
stage "ThreadSanitizer tests (label threads)"
ctest --preset tsan

stage ""
printf '== all stages passed in %d s\n' $((SECONDS - started))
