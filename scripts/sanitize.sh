#!/usr/bin/env bash
# The sanitizer stage: a second build in build-asan/ with clang, AddressSanitizer and UBSan (the
# first report ends the process), every test run under them, then each fuzz target for a short,
# fixed time (scripts/fuzz.sh runs longer campaigns).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUEN_SANITIZE=ON -DQUEN_FUZZ=ON -DQUEN_BENCH=OFF
cmake --build build-asan -j"$(nproc)"
ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
bash scripts/fuzz.sh 60
