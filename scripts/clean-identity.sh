#!/usr/bin/env bash
# Byte-identity check for `quen clean`: cleans a corpus of pictures with the default options and
# the option variants, and lists the sha256 of every output and the --report text (timings taken
# out). `record` writes the listing, `check` compares against it and prints any difference.
#
# The corpus (in $QUEN_CORPUS, default the cache): pictures from Debian packages (scikit-image's
# data, matplotlib's test figures and images) unpacked with apt-get download + dpkg-deb, synthetic
# grids, tables, text, halftones, dithers and barcodes (scripts/clean-corpus.py), and the noisy
# pictures of the cleaning benchmark.
# Usage: bash scripts/clean-identity.sh record|check [LISTING]   (default LISTING: $QUEN_CORPUS/listing.txt)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
mode=${1:-check}
cache="${XDG_CACHE_HOME:-$HOME/.cache}/quen"
corpus=${QUEN_CORPUS:-$cache/identity-corpus}
listing=${2:-$corpus/listing.txt}
quen=$repo/build/bin/quen
[ -x "$quen" ] || { echo "build first: bash scripts/build.sh" >&2; exit 2; }

# Pictures from Debian packages.
if [ ! -d "$corpus/debian" ]; then
  debs="$cache/identity-debs"
  mkdir -p "$debs"
  (cd "$debs" && for p in python3-skimage python3-matplotlib python-matplotlib-data; do
     ls "$p"_*.deb >/dev/null 2>&1 || apt-get download "$p"; done)
  rm -rf "$debs/root" && mkdir -p "$debs/root"
  for d in "$debs"/*.deb; do dpkg-deb -x "$d" "$debs/root"; done
  mkdir -p "$corpus/debian.tmp"
  (cd "$debs/root" && find . -type f \( -name '*.png' -o -name '*.jpg' -o -name '*.tif' \) | sort |
     while read -r f; do name=${f#./usr/}; cp "$f" "$corpus/debian.tmp/${name//\//_}"; done)
  mv "$corpus/debian.tmp" "$corpus/debian"
fi
# Synthetic pictures.
if [ ! -d "$corpus/synthetic" ]; then
  python3 scripts/clean-corpus.py "$corpus/synthetic.tmp" && mv "$corpus/synthetic.tmp" "$corpus/synthetic"
fi
# The cleaning benchmark's noisy pictures (it writes them beside its results).
if [ ! -d "$corpus/bench" ]; then
  data="$cache/identity-debs/root/usr/lib/python3/dist-packages/skimage/data"
  pictures=()
  for name in astronaut chelsea coffee motorcycle_left camera ihc; do pictures+=("$data/$name.png"); done
  build/bin/bench_clean "$corpus/bench.tmp" "${pictures[@]}" >/dev/null
  mkdir -p "$corpus/bench" && mv "$corpus/bench.tmp"/*-noisy.png "$corpus/bench/"
  for name in astronaut chelsea coffee motorcycle_left camera ihc; do mv "$corpus/bench.tmp/$name.png" "$corpus/bench/"; done
  rm -rf "$corpus/bench.tmp"
fi

cd "$corpus"
mapfile -t inputs < <(find debian synthetic bench -type f | sort)
# The benchmark's pictures and those with something to clean are where the fill and low-pass
# options act; the rest run with the default options and the higher sensitivity.
mapfile -t busy < <(printf '%s\n' "${inputs[@]}" | grep -E '^(bench|synthetic/(halftone|scene|grid|table))' || true)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
run() {  # name, options..., then the inputs after --
  local name=$1; shift
  local opts=()
  while [ "$1" != -- ]; do opts+=("$1"); shift; done; shift
  mkdir -p "$out/$name"
  "$quen" clean "$@" --out-dir "$out/$name" --report -j 2 "${opts[@]}" 2>&1 |
    sed -E 's/, [0-9.]+ s$//; s|'"$out"'/||g' | sed "s|^|$name report |" || true
  (cd "$out/$name" && find . -type f | sort | xargs -d '\n' sha256sum -- | sed "s|^|$name sha |")
}
{
  echo "corpus ${#inputs[@]} pictures, ${#busy[@]} with the fill and low-pass options"
  run default -- "${inputs[@]}"
  run sensitivity2 --sensitivity 2 -- "${inputs[@]}"
  run fill-zero --fill zero -- "${busy[@]}"
  run no-lowpass --no-lowpass -- "${busy[@]}"
} >"$out/listing.txt"
if [ "$mode" = record ]; then
  cp "$out/listing.txt" "$listing"
  echo "recorded $(grep -c ' sha ' "$listing") outputs in $listing"
else
  if diff "$listing" "$out/listing.txt" >"$out/diff.txt"; then
    echo "identical: $(grep -c ' sha ' "$listing") outputs"
  else
    cat "$out/diff.txt"
    echo "DIFFERENT: $(grep -c '^>' "$out/diff.txt") lines differ" >&2
    exit 1
  fi
fi
