#!/usr/bin/env bash
# The photographs the cleaning benchmarks put noise on, in two halves from different sources:
#   tuning   scikit-image's data files (python3-skimage): the pictures rules may be tuned on;
#   heldout  MATE's nature wallpapers (mate-backgrounds): only ever measured, never tuned on.
#   extra    OpenCV's sample photographs (opencv-doc): more pictures to tune on, from a third source,
#            for the cases the tuning half has too few of.
# Each package is downloaded and unpacked into the cache (not installed) the first time.
# Prints the pictures of the half asked for, one path a line; the benchmarks scale large ones down.
# Usage: bash scripts/bench-pictures.sh tuning|heldout|extra
set -euo pipefail
cache="${XDG_CACHE_HOME:-$HOME/.cache}/quen/bench-pictures"

# Unpacks Debian package $1 into the cache unless file $2 (a path inside it) is already there.
unpack() {
  [ -f "$cache/$2" ] && return 0
  mkdir -p "$cache"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  (cd "$cache" && { apt-get download "$1" >/dev/null 2>&1 ||
     { $sudo apt-get update >/dev/null && apt-get download "$1" >/dev/null; }; })
  dpkg-deb -x "$cache/$1"_*.deb "$cache"
}

case "${1:-}" in
  tuning)
    data=usr/lib/python3/dist-packages/skimage/data
    unpack python3-skimage "$data/astronaut.png"
    # Colour and grey photographs; the last three dark, with wide black ground (a night sky, a
    # fundus photograph) where noise sits at the end of the range.
    for name in astronaut.png chelsea.png coffee.png motorcycle_left.png camera.png ihc.png \
                rocket.jpg hubble_deep_field.jpg retina.jpg; do
      echo "$cache/$data/$name"
    done ;;
  heldout)
    data=usr/share/backgrounds/mate/nature
    unpack mate-backgrounds "$data/Storm.jpg"
    for name in Aqua Blinds Dune FreshFlower Garden GreenMeadow LadyBird RainDrops Storm TwoWings \
                Wood YellowFlower; do
      echo "$cache/$data/$name.jpg"
    done ;;
  extra)
    data=usr/share/doc/opencv-doc/examples/data
    unpack opencv-doc "$data/baboon.jpg"
    # Colour photographs, and two grey ones (an office, a kitchen table).
    for name in aloeL.jpg apple.jpg baboon.jpg building.jpg butterfly.jpg fruits.jpg home.jpg \
                leuvenA.jpg messi5.jpg orange.jpg squirrel_cls.jpg aero1.jpg rubberwhale1.png \
                basketball1.png box_in_scene.png; do
      echo "$cache/$data/$name"
    done ;;
  *)
    echo "usage: $0 tuning|heldout|extra" >&2
    exit 2 ;;
esac
