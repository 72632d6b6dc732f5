#!/usr/bin/env bash
# Measures unedited round trips on photographs at 8, 16 and 32 bits (the figures in docs/filters.md's
# "On photographs"): the nature photographs of Debian's mate-backgrounds package, installed here
# if missing (a measurement only: the build and the tests never need it).
# Usage: bash scripts/photo-round-trips.sh [PHOTO...]
set -euo pipefail
cd "$(dirname "$0")/.."
photos=("$@")
if [ ${#photos[@]} -eq 0 ]; then
  if ! dpkg-query -W -f='${Status}' mate-backgrounds 2>/dev/null | grep -q "install ok installed"; then
    sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y mate-backgrounds
  fi
  photos=(/usr/share/backgrounds/mate/nature/*.jpg)
fi
[ -x build/bin/photo_round_trips ] || bash scripts/build.sh
build/bin/photo_round_trips build/bin "${photos[@]}"
