#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each (default 600), all targets at once, from the generated
# seeds and the corpus kept from earlier campaigns in build-asan/fuzz/corpus/<target>/. Builds
# what it runs in build-asan/ first (see scripts/sanitize.sh). An input that fails is written to
# build-asan/fuzz/findings/; fix the fault and keep the input in fuzz/regressions/<target>/, where
# the tests replay it.
#   usage: scripts/fuzz.sh [SECONDS] [TARGET...]    targets: fuzz_entry fuzz_images (default: both)
#   QUEN_FUZZ_MODULE=QuenFwd scripts/fuzz.sh 3600 fuzz_entry    one module only
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_entry fuzz_images)

build=build-asan
# Always brought up to date, so that the sources as they are now get fuzzed, never older binaries.
bash scripts/deps.sh
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUEN_SANITIZE=ON -DQUEN_FUZZ=ON -DQUEN_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target make_fuzz_seeds "${targets[@]}"

"$build/fuzz/make_fuzz_seeds" "$build/fuzz/seeds" >/dev/null
mkdir -p "$build/fuzz/findings"

pids=()
for target in "${targets[@]}"; do
  corpus="$build/fuzz/corpus/${target#fuzz_}"
  mkdir -p "$corpus"
  seeds="$build/fuzz/seeds/${target#fuzz_}"
  # New inputs go into the first folder, the kept corpus; the seeds are only read. The kept
  # regressions are left to the tests: some claim huge pictures and cost seconds each under ASan.
  # Memory limits as in fuzz/CMakeLists.txt: 4 GiB resident, single allocations up to the largest
  # picture a reader accepts.
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -malloc_limit_mb=20000 \
    -print_final_stats=1 -artifact_prefix="$build/fuzz/findings/$target-" \
    "$corpus" "$seeds" \
    >"$build/fuzz/$target.log" 2>&1 &
  pids+=($!)
done

status=0
for i in "${!targets[@]}"; do
  if wait "${pids[$i]}"; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/fuzz/${targets[$i]}.log")
    echo "${targets[$i]}: ${runs:-?} inputs in ${seconds} s, nothing found"
  else
    status=1
    echo "${targets[$i]}: FAILED, see $build/fuzz/${targets[$i]}.log and $build/fuzz/findings/" >&2
    tail -n 40 "$build/fuzz/${targets[$i]}.log" >&2
  fi
done
exit $status
