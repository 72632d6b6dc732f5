#!/usr/bin/env bash
# The held-out cleaning benchmark: noise made otherwise than bench_clean's on the photographs of
# each half of scripts/bench-pictures.sh (the tuning half, then the held-out half), cleaned file to
# file; prints per-picture lines and a table per half.
# Usage: bash scripts/bench-heldout.sh [tuning|heldout] [--kind TEXT] [--seeds N]   (both halves when
# none is named; --kind: only the kinds of noise whose name holds TEXT; --seeds: N noisy copies of
# each picture for every kind, the first ones those of the standard run)
set -euo pipefail
cd "$(dirname "$0")/.."
halves=(tuning heldout)
case "${1:-}" in tuning|heldout) halves=("$1"); shift ;; esac
bash scripts/build.sh
for half in "${halves[@]}"; do
  mapfile -t pictures < <(bash scripts/bench-pictures.sh "$half")
  echo "## $half half"
  build/bin/bench_heldout "$@" "build/bench/heldout-$half" "${pictures[@]}"
done
