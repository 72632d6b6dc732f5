#!/usr/bin/env bash
# Copies the built GIMP plug-in folder (build/gimp/quen-gimp, or <build dir>/gimp/quen-gimp for a
# build folder given as the argument) into the user's GIMP 2.10 plug-ins folder, replacing an
# earlier copy: the plug-ins folder of GIMP2_DIRECTORY when that is set (GIMP then keeps its whole
# configuration there), else of ~/.config/GIMP/2.10. Restart GIMP afterwards.
set -euo pipefail
build=${1:-"$(dirname "$0")/../../build"}
source_dir="$build/gimp/quen-gimp"
target_parent="${GIMP2_DIRECTORY:-${XDG_CONFIG_HOME:-$HOME/.config}/GIMP/2.10}/plug-ins"
if [ ! -x "$source_dir/quen-gimp" ]; then
  echo "install.sh: $source_dir/quen-gimp not found; build first (cmake -S . -B build && cmake --build build)" >&2
  exit 1
fi
mkdir -p "$target_parent"
# Copy beside the target first, so that a failed copy leaves an earlier installation whole.
staging=$(mktemp -d "$target_parent/.quen-gimp.XXXXXX")
trap 'rm -rf "$staging"' EXIT
cp -R "$source_dir/." "$staging/"
chmod 755 "$staging"
rm -rf "$target_parent/quen-gimp"
mv "$staging" "$target_parent/quen-gimp"
trap - EXIT
echo "installed into $target_parent/quen-gimp; restart GIMP, then see Filters > Quen"
