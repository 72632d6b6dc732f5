#!/usr/bin/env bash
# Builds the Windows modules (and, the first time on a machine, FFTW for Windows) in their own
# tree, build-windows/, with the native modules they are compared with, and packages them into
# build-windows/dist/windows/: the .8bf files, libfftwx64_3-3.dll, INSTALL.txt and a zip of them.
# `ctest --test-dir build-windows` then tests them under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh windows
cmake -S . -B build-windows -DCMAKE_BUILD_TYPE=Release -DQUEN_WINDOWS=ON
cmake --build build-windows -j"$(nproc)"
cmake --build build-windows --target windows_dist
