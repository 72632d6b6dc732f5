#!/usr/bin/env bash
# Runs the benchmarks and writes bench/results.md: every module's continue call beside its FFTW
# floor, the same under an editor's conditions (bench_editor), and the command-line host against
# ImageMagick's -fft on the same file. With --windows, times the Windows modules under Wine the
# editor's way instead; the editor's table shows the two systems side by side (each from its
# last run).
# Usage: bash scripts/bench.sh [--quick | --windows]   (--quick: one repetition, 2048 only)
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."

# bench_editor's table for one system (linux or windows), program and module folder: kept in
# build/bench/editor-SYSTEM.txt, and put into bench/results.md beside the other system's last one.
editor_section() {
  local system=$1
  shift
  mkdir -p build/bench
  {
    echo "Load while measuring: $(uptime | sed 's/.*load average/load average/')."
    "$@" --runs 3
  } > "build/bench/editor-$system.txt"
  local section
  section=$(mktemp)
  {
    echo "Each continue call on fresh input and output buffers and a fresh record, beside its FFTW floor"
    echo "from the same library in the same process (on Linux also beside the floor of Debian's own"
    echo "libfftw3, loaded apart); module and floor runs alternate, best of 3."
    echo
    python3 scripts/bench_table.py --editor build/bench/editor-linux.txt build/bench/editor-windows.txt
  } > "$section"
  python3 scripts/bench_table.py --section "Linux and Windows modules, as an editor calls them" "$section" bench/results.md
  rm -f "$section"
}

if [ "${1:-}" = "--windows" ]; then
  bash scripts/windows.sh
  win=build-windows/windows
  editor_section windows scripts/wine-run.sh "$PWD/$win/wine" "$win/bin/bench_editor.exe" 'Z:'"$PWD/$win/bin" --sizes 2048
  cat bench/results.md
  exit 0
fi

bash scripts/build.sh
# ImageMagick's convert itself: a `convert` that is something else does not count.
command -v python3 >/dev/null && convert -version 2>/dev/null | grep -q ImageMagick && [ -x /usr/bin/time ] || {
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

# The head of bench/results.md anew; the sections after it are kept.
{
  python3 scripts/bench_table.py "$out/filters.json" "$cli_rows"
  [ -f bench/results.md ] && sed -n '/^## /,$p' bench/results.md
} > "$out/results.md"
mv "$out/results.md" bench/results.md
editor_section linux build/bin/bench_editor build/bin --sizes 2048
cat bench/results.md
