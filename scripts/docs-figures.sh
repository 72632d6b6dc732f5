#!/usr/bin/env bash
# Makes the pictures the README and docs/ show, into docs/figures/ (or the folder given first),
# with the programs built in build/bin (or the folder given second). The test
# Cli.TheDocsFiguresAreWhatTheScriptMakes runs this script and compares its pictures with those
# committed.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/figures}
bin=${2:-build/bin}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
photograph=$(bash scripts/bench-pictures.sh tuning | grep "/chelsea.png$")

# Before and after: a photograph with three sinusoids over it, as the cleaning benchmark's
# generator makes them (its third seed), cleaned by quen clean with its default settings.
"$bin/bench_clean" "$work" "$photograph" >/dev/null
cp "$work/chelsea-1-2-noisy.png" "$out/noisy.png"
"$bin/quen" clean "$out/noisy.png" -o "$out/cleaned.png" --force >/dev/null

# docs/cleaning.md: scan lines (every k-th row darker) and a colour halftone print, the benchmark's
# fifth and sixth kinds on the same photograph, before and after.
for kind in 4-0:scan-lines 5-0:halftone; do
  cp "$work/chelsea-${kind%%:*}-noisy.png" "$out/${kind#*:}-noisy.png"
  "$bin/quen" clean "$out/${kind#*:}-noisy.png" -o "$out/${kind#*:}-cleaned.png" --force >/dev/null
done
