#!/usr/bin/env bash
# The print benchmark: the photographs of both halves of scripts/bench-pictures.sh printed through
# halftone screens and scanned, cleaned with and without --print, against the best plain blur;
# prints per-print lines and a table per half.
# Usage: bash scripts/bench-prints.sh [--kinds K,K...] [--seeds N] [--reuse]  (see bench/bench_prints.cpp)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
mapfile -t tuning < <(bash scripts/bench-pictures.sh tuning)
mapfile -t heldout < <(bash scripts/bench-pictures.sh heldout)
build/bin/bench_prints build/bench/prints "$@" --tuning "${tuning[@]}" --heldout "${heldout[@]}"
