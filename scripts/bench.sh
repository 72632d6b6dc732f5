#!/usr/bin/env bash
# Runs the benchmarks and writes bench/results.md: every module's continue call beside its FFTW
# floor, and the command-line host against ImageMagick's -fft on the same file.
# Usage: bash scripts/bench.sh [--quick]   (--quick: one repetition, 2048 only)
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
bash scripts/build.sh
command -v python3 >/dev/null && command -v convert >/dev/null && [ -x /usr/bin/time ] || {
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y python3 imagemagick time
}

reps=3
filter='.'
if [ "${1:-}" = "--quick" ]; then reps=1; filter='/2048'; fi
out=build/bench
mkdir -p "$out"
build/bin/bench_filters --benchmark_filter="$filter" --benchmark_repetitions="$reps" \
  --benchmark_report_aggregates_only=true --benchmark_format=json --benchmark_out="$out/filters.json" \
  --benchmark_out_format=json > /dev/null

# Command-line host against ImageMagick, file to file at 2048 x 2048 (8-bit PNG in), whole process.
build/bin/quen demo "$out/demo" > /dev/null
# The demo picture (a smooth scene with stripes, like a photograph) scaled up to 2048 x 2048.
convert "$out/demo/picture.png" -resize 2048x2048! -depth 8 "PNG24:$out/in2048.png" 2>/dev/null ||
  convert -size 2048x2048 plasma:fractal -depth 8 "PNG24:$out/in2048.png"
# label, command...: median wall seconds of 5 runs and the largest peak RSS. A run that fails
# stops the benchmark with its messages (time's own output would otherwise be read as figures).
measure() {
  local label=$1; shift
  local times=() peak=0
  for _ in 1 2 3 4 5; do
    if ! /usr/bin/time -f '%e %M' -o "$out/time.txt" "$@" > /dev/null 2> "$out/stderr.txt"; then
      echo "bench: '$*' failed:" >&2
      cat "$out/stderr.txt" "$out/time.txt" >&2
      exit 1
    fi
    read -r t m < "$out/time.txt"
    times+=("$t"); [ "$m" -gt "$peak" ] && peak=$m
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p)
  echo "$label|$median|$((peak / 1024))"
}
cli_rows=$(measure "quen apply QuenFwd" build/bin/quen apply QuenFwd "$out/in2048.png" -o "$out/quen_fft.png"
           measure "convert -fft (ImageMagick)" convert "$out/in2048.png" -fft "$out/im_fft.png")

python3 scripts/bench_table.py "$out/filters.json" "$cli_rows" > bench/results.md
cat bench/results.md
