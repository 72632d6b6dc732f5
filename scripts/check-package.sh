#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh) and checks it as a user would meet it: Debian's
# lintian finds no error in it, and unpacked into a throwaway folder (not installed) its quen lists
# the modules beside it and cleans a picture, its manual page renders, and GIMP, headless, loads
# its plug-in and runs a filter with it.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(bash scripts/package.sh "$@" | tail -n 1)
echo "package: $deb"
dpkg-deb --field "$deb"

echo "== lintian"
lintian --fail-on error --display-info "$deb"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
dpkg-deb -x "$deb" "$root"
quen=$root/usr/bin/quen

echo "== quen list (unpacked)"
"$quen" list | tee "$work/list"
module_dir=$(find "$root/usr/lib" -mindepth 2 -maxdepth 2 -type d -name quen)
for module in $(awk '!/^#/ && NF {print $1}' resources/modules.txt); do
  grep -qF "$module_dir/$module.so" "$work/list" || { echo "quen list did not find $module in $module_dir" >&2; exit 1; }
done

echo "== quen clean (unpacked)"
"$quen" demo "$work/demo" >/dev/null
"$quen" clean "$work/demo/picture.png" -o "$work/cleaned.png" --report
[ -s "$work/cleaned.png" ]

echo "== man quen (unpacked)"
man -l "$root/usr/share/man/man1/quen.1.gz" 2>"$work/man.err" | grep -q "quen clean"
if [ -s "$work/man.err" ]; then cat "$work/man.err" >&2; exit 1; fi

echo "== GIMP loads the plug-in (unpacked)"
plugins=$(find "$root/usr/lib" -type d -path '*/gimp/2.0/plug-ins')
mkdir -p "$work/gimp"
echo "(plug-in-path \"\${gimp_plug_in_dir}/plug-ins:$plugins\")" >"$work/gimp/gimprc"
in=$work/demo/picture.png out=$work/gimp-spectrum.png
GIMP2_DIRECTORY=$work/gimp timeout 300 gimp-console-2.10 -i -d -f \
  -b "(let* ((img (car (file-png-load 1 \"$in\" \"$in\"))) (dr (car (gimp-image-get-active-drawable img))))
        (plug-in-quen-fwd RUN-NONINTERACTIVE img dr)
        (file-png-save-defaults 1 img dr \"$out\" \"$out\"))" \
  -b "(gimp-quit 0)" >"$work/gimp.log" 2>&1 || true
if [ ! -s "$out" ]; then
  cat "$work/gimp.log" >&2
  echo "GIMP did not run plug-in-quen-fwd from the package" >&2
  exit 1
fi
echo "package checked: $deb"
