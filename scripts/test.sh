#!/usr/bin/env bash
# Builds everything, the Windows modules included, and runs every test: the native suites, and
# the Windows modules under Wine compared with the native ones.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh windows
bash scripts/build.sh -DQUEN_WINDOWS=ON
ctest --test-dir build --output-on-failure -j"$(nproc)"
