#!/usr/bin/env bash
# Cross-builds FFTW (double precision) for 64-bit Windows with MinGW-w64 from Debian's fftw3 source
# package and installs it into PREFIX:
#   bin/libfftwx64_3-3.dll        the DLL the modules load
#   lib/libfftwx64_3.dll.a        its import library
#   lib/libfftwx64_3.delay.a      a delay-import library for the same DLL (what the modules link)
#   lib/libfftwx64_3-3.def        its exports
#   include/fftw3.h
# FFTW's threads library is combined into the DLL, for fftw_make_planner_thread_safe().
# PREFIX is a cache shared by every build tree; a finished PREFIX is left alone, so only the first
# build on a machine pays for the compilation. The source comes through deb-src entries derived
# from the machine's own apt sources, in a private apt state that leaves the system's untouched.
#
# usage: scripts/fftw-windows.sh VERSION PREFIX     (VERSION: the upstream version, e.g. 3.3.10)
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 VERSION PREFIX" >&2
  exit 2
fi
version=$1
prefix=$2
host=x86_64-w64-mingw32
dll=libfftwx64_3-3.dll
name=libfftwx64_3
[ -f "$prefix/BUILD-INFO" ] && exit 0

cache=$(dirname "$prefix")
mkdir -p "$cache"
# One builder at a time per PREFIX; a second one waits and then finds the result.
exec 9>"$prefix.lock"
flock 9
[ -f "$prefix/BUILD-INFO" ] && exit 0
rm -rf "$prefix"

start=$SECONDS
work=$(mktemp -d "$cache/.fftw-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
log=$work/build.log
fail() {
  echo "fftw-windows: $*" >&2
  [ -s "$log" ] && tail -n 40 "$log" >&2
  exit 1
}

# --- Source: Debian's fftw3 source package --------------------------------------------------
apt=$work/apt
mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial"
: >"$apt/sources.list"
for f in /etc/apt/sources.list.d/*.sources; do
  [ -e "$f" ] && sed -E 's/^Types:.*/Types: deb-src/' "$f" >"$apt/sources.list.d/$(basename "$f")"
done
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -e "$f" ] && sed -nE 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$f" >>"$apt/sources.list.d/derived.list"
done
apt_opts=(
  -o "Dir::Etc::sourcelist=$apt/sources.list"
  -o "Dir::Etc::sourceparts=$apt/sources.list.d"
  -o "Dir::State::Lists=$apt/lists"
  -o "Dir::Cache=$apt/cache"
  -o "APT::Sandbox::User=$(id -un)"
)
echo "fftw-windows: fetching Debian's fftw3 source package"
apt-get "${apt_opts[@]}" -q update >>"$log" 2>&1 || fail "apt-get update with deb-src entries failed"
# The newest Debian revision of the wanted upstream version.
src_version=$(apt-cache "${apt_opts[@]}" showsrc fftw3 | sed -n 's/^Version: //p' |
  awk -v v="$version" '{ u = $0; sub(/^[0-9]+:/, "", u); sub(/-[^-]*$/, "", u); if (u == v) print }' |
  sort -V | tail -n 1)
[ -n "$src_version" ] || fail "the apt sources offer no fftw3 source package of version $version"
(cd "$work" && apt-get "${apt_opts[@]}" -q source --download-only "fftw3=$src_version") >>"$log" 2>&1 ||
  fail "apt-get source fftw3=$src_version failed"
(cd "$work" && dpkg-source -x ./fftw3_*.dsc src) >>"$log" 2>&1 || fail "dpkg-source could not unpack fftw3"

# --- Build ----------------------------------------------------------------------------------
# -mtune=generic: FFTW's configure would otherwise tune for the build machine. Our own aligned
# allocator keeps fftw_malloc independent of the C runtime's aligned allocation functions.
flags=(--host=$host --enable-shared --disable-static --enable-sse2 --enable-avx --enable-avx2
  --enable-threads --with-combined-threads --with-our-malloc --disable-fortran --disable-doc)
cflags="-O2 -mtune=generic"
echo "fftw-windows: building FFTW $src_version for Windows (several minutes; done once per machine)"
cd "$work/src"
./configure "${flags[@]}" CFLAGS="$cflags" >>"$log" 2>&1 || fail "configure failed"
# Only the library's own folders; the test programs and tools are not needed.
for d in support kernel simd-support dft rdft reodft api threads; do
  make -j"$(nproc)" -C "$d" >>"$log" 2>&1 || fail "make in $d failed"
done
# The library's own link rule under the name the modules import, so that the DLL, its export
# directory and the import library all carry that name. (Renaming the finished DLL would leave
# the import library pointing at the old name.)
cat >quen-relink.mk <<'MK'
libfftwx64_3.la: $(libfftw3_la_OBJECTS) $(libfftw3_la_DEPENDENCIES)
	$(libfftw3_la_LINK) -rpath $(libdir) $(libfftw3_la_OBJECTS) $(libfftw3_la_LIBADD) $(LIBS)
MK
make -f Makefile -f quen-relink.mk $name.la >>"$log" 2>&1 || fail "linking $dll failed"
[ -f ".libs/$dll" ] && [ -f ".libs/$name.dll.a" ] || fail "libtool made no .libs/$dll"

# --- Install into a fresh tree, check it, then move it into place ------------------------------
out=$work/out
mkdir -p "$out/bin" "$out/lib" "$out/include"
cp ".libs/$dll" "$out/bin/"
cp ".libs/$name.dll.a" "$out/lib/"
cp api/fftw3.h "$out/include/"
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  $host-objdump -p "$out/bin/$dll" |
    sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -nE 's/^[[:space:]]*\[ *[0-9]+\] +([A-Za-z_][A-Za-z0-9_]*)$/    \1/p'
} >"$out/lib/$name-3.def"
for f in fftw_plan_dft_2d fftw_make_planner_thread_safe; do
  grep -q "^    $f\$" "$out/lib/$name-3.def" || fail "no $f among the exports of $dll"
done
$host-dlltool --input-def "$out/lib/$name-3.def" --dllname "$dll" --output-delaylib "$out/lib/$name.delay.a" ||
  fail "dlltool could not make the delay-import library"

# The DLL may import nothing but Windows system DLLs.
imports=$($host-objdump -p "$out/bin/$dll" | sed -nE 's/^[[:space:]]*DLL Name: (.*)$/\1/p' | sort -u)
for i in $imports; do
  case "${i,,}" in
  kernel32.dll | msvcrt.dll | ntdll.dll | user32.dll | advapi32.dll) ;;
  *) fail "$dll imports $i, not a Windows system DLL" ;;
  esac
done
# A program linked with the import library must import the DLL under its new name.
printf '#include <fftw3.h>\nint main(void) { fftw_free(fftw_malloc(16)); return 0; }\n' >"$work/probe.c"
$host-gcc -I"$out/include" "$work/probe.c" -L"$out/lib" -l:$name.dll.a -o "$work/probe.exe" ||
  fail "cannot link a program with $name.dll.a"
# (grep reads all of objdump's output: with grep -q, objdump could die of a closed pipe when grep
# stops at the first match, and pipefail would call that a failure.)
$host-objdump -p "$work/probe.exe" | grep -F "DLL Name: $dll" >/dev/null || fail "$name.dll.a does not name $dll"

cat >"$out/BUILD-INFO" <<INFO
FFTW $src_version (Debian source package fftw3), cross-built for x86_64-w64-mingw32
configure ${flags[*]} CFLAGS="$cflags"
compiler $($host-gcc --version | head -n 1)
imports $(echo $imports)
built in $((SECONDS - start)) s on $(date -u +%Y-%m-%dT%H:%M:%SZ)
INFO
mv "$out" "$prefix"
echo "fftw-windows: $prefix ready after $((SECONDS - start)) s"
