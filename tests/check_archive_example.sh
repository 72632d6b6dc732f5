#!/usr/bin/env bash
# Runs the GNU parallel example of docs/archive.md (the shell block after the line naming this
# test) on a small archive of pictures in nested folders, with the built quen on the PATH: every
# picture must be cleaned into cleaned/ under its own path, the job log must record every task as
# done, and a second run must find nothing left to do.
# Usage: check_archive_example.sh DOC QUEN_BIN_DIR WORK_DIR
set -euo pipefail
doc=$1 bin=$2 work=$3
block=$(awk '/test archive_example runs/ {armed = 1; next}
             armed && /^```sh/ {inside = 1; next}
             inside && /^```/ {exit}
             inside {print}' "$doc")
[ -n "$block" ] || { echo "no example block in $doc" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work/scans/1998/box 3" "$work/scans/1999"
cd "$work"
PATH="$bin:$PATH"
quen demo demo >/dev/null
cp demo/picture.png "scans/1998/box 3/p001.png"
cp demo/picture.png scans/1998/p002.png
quen apply QuenFwd,QuenInv demo/picture.png -o scans/1999/p003.tif >/dev/null
bash -euo pipefail -c "$block"
for f in "scans/1998/box 3/p001.png" scans/1998/p002.png scans/1999/p003.tif; do
  [ -s "cleaned/$f" ] || { echo "not cleaned: $f" >&2; exit 1; }
done
[ "$(awk 'NR > 1 && $7 == 0' clean.log | wc -l)" -eq 3 ] || { cat clean.log >&2; exit 1; }
# Resumed with everything done, nothing runs again.
bash -euo pipefail -c "$block"
[ "$(awk 'NR > 1' clean.log | wc -l)" -eq 3 ] || { echo "the second run did tasks again:" >&2; cat clean.log >&2; exit 1; }
echo "archive example: 3 pictures cleaned, resumed run did nothing"
