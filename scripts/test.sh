#!/usr/bin/env bash
# Builds everything, the Windows modules included, and runs every test: the native suites
# (valgrind and the repeated-filtering memory check among them) and the Windows modules under
# Wine compared with the native ones; then the sanitizer stage with short fuzzing runs. Prints
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
stage build bash scripts/build.sh -DQUEN_WINDOWS=ON
stage tests ctest --test-dir build --output-on-failure -j"$(nproc)"
stage sanitizers+fuzzing bash scripts/sanitize.sh

echo "== stage timings"
printf '  %s\n' "${timings[@]}"
