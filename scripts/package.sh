#!/usr/bin/env bash
# Builds the Debian package of quen (the quen command, the modules, the GIMP plug-in, the manual
# page and the documentation) with CPack from the build in build/, and prints the .deb's path on
# its last line. Arguments are passed to scripts/build.sh's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh "$@" >&2
out=build/package
rm -rf "$out"
# fakeroot: the files in the package belong to root whoever builds it.
(cd build && fakeroot cpack -G DEB -B "$PWD/package") >&2
debs=("$out"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "package.sh: no single .deb in $out" >&2; exit 1; }
realpath "${debs[0]}"
