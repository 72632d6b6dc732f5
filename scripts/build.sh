#!/usr/bin/env bash
# Configures and builds everything native into build/ (modules, host library, quen, tests,
# benchmarks). Arguments are passed to CMake's configure step, e.g. -DQUEN_WINDOWS=ON to build the
# Windows modules as well.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build build -j"$(nproc)"
