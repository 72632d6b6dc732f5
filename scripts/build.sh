#!/usr/bin/env bash
# Configures and builds everything native into build/ (modules, host library, quen, tests,
# benchmarks). Arguments are passed to CMake's configure step. The Windows modules have a tree of
# their own (scripts/windows.sh), so this one is always native only, even if an older
# configuration of build/ asked for them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQUEN_WINDOWS=OFF "$@"
cmake --build build -j"$(nproc)"
