#!/usr/bin/env bash
# The cleaning benchmark: photographs from Debian's scikit-image data files (unpacked from the
# package into the cache, not installed), each with seeded periodic noise of six kinds, cleaned
# file to file; prints per-picture lines and the summary table.
# Usage: bash scripts/bench-clean.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
cache="${XDG_CACHE_HOME:-$HOME/.cache}/quen/bench-pictures"
data="$cache/usr/lib/python3/dist-packages/skimage/data"
if [ ! -f "$data/astronaut.png" ]; then
  mkdir -p "$cache"
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  (cd "$cache" && apt-get download python3-skimage 2>/dev/null ||
     { $sudo apt-get update >/dev/null && apt-get download python3-skimage; })
  dpkg-deb -x "$cache"/python3-skimage_*.deb "$cache"
fi
pictures=()
for name in astronaut chelsea coffee motorcycle_left camera ihc; do pictures+=("$data/$name.png"); done
build/bin/bench_clean build/bench/clean "${pictures[@]}"
