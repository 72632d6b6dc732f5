#!/usr/bin/env bash
# The cleaning benchmark: six photographs of the tuning half of scripts/bench-pictures.sh
# (scikit-image's data files), each with seeded periodic noise of six kinds, cleaned
# file to file; prints per-picture lines and the summary table.
# Usage: bash scripts/bench-clean.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
cache="${XDG_CACHE_HOME:-$HOME/.cache}/quen/bench-pictures"
data="$cache/usr/lib/python3/dist-packages/skimage/data"
bash scripts/bench-pictures.sh tuning >/dev/null  # unpacks the package the first time
pictures=()
for name in astronaut chelsea coffee motorcycle_left camera ihc; do pictures+=("$data/$name.png"); done
build/bin/bench_clean build/bench/clean "${pictures[@]}"
