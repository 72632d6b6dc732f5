#!/usr/bin/env bash
# Shows the Clean Periodic Noise dialog in a real GIMP on a virtual screen and saves a screenshot,
# to look at by eye: bash scripts/gimp-dialog.sh [OUTPUT.png] (default build/gimp-dialog.png).
# GIMP runs with a private configuration folder into which tools/gimp/install.sh puts the built
# plug-in; a first, non-interactive run with options of its own (sensitivity 2, protected period
# 24, zero fill, no low-pass) must leave them as the values the dialog then opens with.
# Needs the GIMP GUI, Xvfb, xwd and netpbm (apt-get install gimp xvfb x11-apps netpbm).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/gimp-dialog.png}")
for tool in gimp-2.10 Xvfb xwd xwdtopnm pnmtopng; do
  command -v "$tool" >/dev/null || { echo "gimp-dialog.sh: $tool not found (apt-get install gimp xvfb x11-apps netpbm)" >&2; exit 1; }
done
work=$(mktemp -d)
display=:$((90 + RANDOM % 100))
cleanup() {
  [ -n "${gimp_pid:-}" ] && kill "$gimp_pid" 2>/dev/null || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export GIMP2_DIRECTORY="$work/config"
bash tools/gimp/install.sh build >/dev/null
Xvfb "$display" -screen 0 1024x640x24 -nolisten tcp &
xvfb_pid=$!
sleep 2
DISPLAY=$display gimp-2.10 --no-splash -d -f -b '
  (let* ((img (car (gimp-image-new 96 64 RGB)))
         (layer (car (gimp-layer-new img 96 64 RGB-IMAGE "scan" 100 LAYER-MODE-NORMAL))))
    (gimp-image-insert-layer img layer 0 0)
    (plug-in-quen-clean RUN-NONINTERACTIVE img layer 2 24 1 0)
    (plug-in-quen-clean RUN-INTERACTIVE img layer 1 48 0 1))' >"$work/gimp.log" 2>&1 &
gimp_pid=$!
# Wait for the dialog's window to be mapped, then give it a moment to draw.
for _ in $(seq 60); do
  DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -q '"Clean Periodic Noise"' && break
  sleep 1
done
sleep 2
DISPLAY=$display xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$out"
if ! DISPLAY=$display xwininfo -root -tree | grep -q '"Clean Periodic Noise"'; then
  echo "gimp-dialog.sh: the dialog did not open; GIMP said:" >&2
  cat "$work/gimp.log" >&2
  exit 1
fi
echo "$out"
