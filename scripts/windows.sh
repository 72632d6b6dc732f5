#!/usr/bin/env bash
# Builds the Windows modules (and, the first time on a machine, FFTW for Windows) and packages
# them into dist/windows/: the .8bf files, libfftwx64_3-3.dll, INSTALL.txt and a zip of them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh windows
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQUEN_WINDOWS=ON
cmake --build build --target windows_dist -j"$(nproc)"
