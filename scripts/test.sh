#!/usr/bin/env bash
# Builds everything and runs every test: the native suites in build/ (valgrind and the
# repeated-filtering memory check among them), the Windows modules in build-windows/ under Wine
# compared with the native ones; then the sanitizer stage with short fuzzing runs, and the Debian
# package built from build/ and checked (lintian, run unpacked, GIMP loading its plug-in). Prints
# how long each stage took.
set -euo pipefail
cd "$(dirname "$0")/.."

timings=()
stage() {
  local name=$1 start=$SECONDS
  shift
  echo "== $name"
  "$@"
  timings+=("$name: $((SECONDS - start)) s")
}

bash scripts/deps.sh windows
stage build bash scripts/build.sh
stage tests ctest --test-dir build --output-on-failure -j"$(nproc)"
stage windows-build bash scripts/windows.sh
stage windows-tests ctest --test-dir build-windows --output-on-failure -j"$(nproc)"
stage sanitizers+fuzzing bash scripts/sanitize.sh
stage package bash scripts/check-package.sh

echo "== stage timings"
printf '  %s\n' "${timings[@]}"
