#!/usr/bin/env bash
# Builds FFTW (double precision) from Debian's fftw3 source package and installs it into PREFIX,
# for one of two targets:
#   linux     the native build's FFTW, linked statically into each module (position-independent):
#               lib/libfftw3.a, include/fftw3.h
#   windows   cross-built for 64-bit Windows with MinGW-w64:
#               bin/libfftwx64_3-3.dll        the DLL the modules load
#               lib/libfftwx64_3.dll.a        its import library
#               lib/libfftwx64_3.delay.a      a delay-import library for the same DLL (what the modules link)
#               lib/libfftwx64_3-3.def        its exports
#               include/fftw3.h
# Both get the same codelets (SSE2, AVX, AVX2 and AVX-512; FFTW picks at run time among those the
# processor has) and the same patches (resources/fftw: FFTW_ESTIMATE buffers transforms whose
# elements lie a page apart), so that FFTW_ESTIMATE plans the same transforms on both and the
# modules of the two targets compute the same bits. FFTW's threads library is combined into the library, for
# fftw_make_planner_thread_safe().
# PREFIX is a cache shared by every build tree; a finished PREFIX is left alone, so only the first
# build on a machine pays for the compilation. The source comes through deb-src entries derived
# from the machine's own apt sources, in a private apt state that leaves the system's untouched.
#
# usage: scripts/fftw.sh linux|windows VERSION PREFIX     (VERSION: the upstream version, e.g. 3.3.10)
set -euo pipefail

if [ $# -ne 3 ] || { [ "$1" != linux ] && [ "$1" != windows ]; }; then
  echo "usage: $0 linux|windows VERSION PREFIX" >&2
  exit 2
fi
target=$1
version=$2
prefix=$3
patch_dir=$(cd "$(dirname "$0")/../resources/fftw" && pwd)
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
  echo "fftw ($target): $*" >&2
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
echo "fftw ($target): fetching Debian's fftw3 source package"
apt-get "${apt_opts[@]}" -q update >>"$log" 2>&1 || fail "apt-get update with deb-src entries failed"
# The newest Debian revision of the wanted upstream version.
src_version=$(apt-cache "${apt_opts[@]}" showsrc fftw3 | sed -n 's/^Version: //p' |
  awk -v v="$version" '{ u = $0; sub(/^[0-9]+:/, "", u); sub(/-[^-]*$/, "", u); if (u == v) print }' |
  sort -V | tail -n 1)
[ -n "$src_version" ] || fail "the apt sources offer no fftw3 source package of version $version"
(cd "$work" && apt-get "${apt_opts[@]}" -q source --download-only "fftw3=$src_version") >>"$log" 2>&1 ||
  fail "apt-get source fftw3=$src_version failed"
(cd "$work" && dpkg-source -x ./fftw3_*.dsc src) >>"$log" 2>&1 || fail "dpkg-source could not unpack fftw3"
# Our patches on top of Debian's: resources/fftw/*.patch, in name order.
patches=()
for p in "$patch_dir"/*.patch; do
  [ -e "$p" ] || continue
  (cd "$work/src" && patch -p1 --forward --quiet) <"$p" >>"$log" 2>&1 || fail "patch $(basename "$p") does not apply"
  patches+=("$(basename "$p")")
done

# --- Build ----------------------------------------------------------------------------------
# The same codelets and the same compiler options for both targets. -mtune=generic: FFTW's
# configure would otherwise tune for the build machine.
flags=(--enable-sse2 --enable-avx --enable-avx2 --enable-avx512
  --enable-threads --with-combined-threads --disable-fortran --disable-doc)
cflags="-O2 -mtune=generic"
if [ "$target" = windows ]; then
  # 64-bit Windows keeps the stack only 16-byte aligned and GCC does not realign it for the AVX and
  # AVX-512 registers a codelet spills: aligned moves to the stack could fault, so the assembler
  # makes every vector move an unaligned one (as fast on aligned data). Our own aligned allocator
  # keeps fftw_malloc independent of the C runtime's aligned allocation functions.
  flags+=(--host=$host --enable-shared --disable-static --with-our-malloc)
  cflags+=" -Wa,-muse-unaligned-vector-move"
  cc=$host-gcc
  what="for Windows"
else
  # Position-independent, to be linked into the modules (shared objects).
  flags+=(--enable-static --disable-shared --with-pic)
  cflags+=" -fPIC"
  cc=gcc
  what="for Linux"
fi
echo "fftw ($target): building FFTW $src_version $what (several minutes; done once per machine)"
cd "$work/src"
./configure "${flags[@]}" CFLAGS="$cflags" >>"$log" 2>&1 || fail "configure failed"
# Only the library's own folders; the test programs and tools are not needed.
for d in support kernel simd-support dft rdft reodft api threads; do
  make -j"$(nproc)" -C "$d" >>"$log" 2>&1 || fail "make in $d failed"
done

out=$work/out
mkdir -p "$out/lib" "$out/include"
cp api/fftw3.h "$out/include/"
probe='#include <fftw3.h>\nint main(void) { fftw_make_planner_thread_safe(); fftw_free(fftw_malloc(16)); return 0; }\n'

if [ "$target" = linux ]; then
  make libfftw3.la >>"$log" 2>&1 || fail "linking libfftw3.a failed"
  [ -f .libs/libfftw3.a ] || fail "libtool made no .libs/libfftw3.a"
  cp .libs/libfftw3.a "$out/lib/"
  for f in fftw_plan_dft_2d fftw_make_planner_thread_safe; do
    nm --defined-only "$out/lib/libfftw3.a" 2>/dev/null | grep -E " T $f\$" >/dev/null || fail "libfftw3.a defines no $f"
  done
  # Every codelet set must be there: FFTW leaves out silently what the compiler cannot build.
  for s in sse2 avx avx2 avx512; do
    nm --defined-only "$out/lib/libfftw3.a" 2>/dev/null | grep -E " T fftw_have_simd_$s\$" >/dev/null ||
      fail "libfftw3.a has no $s codelets"
  done
  # A shared object linked with it needs nothing of FFTW at run time.
  printf "$probe" >"$work/probe.c"
  gcc -fPIC -I"$out/include" "$work/probe.c" "$out/lib/libfftw3.a" -lm -lpthread -o "$work/probe" ||
    fail "cannot link a program with libfftw3.a"
  "$work/probe" || fail "a program linked with libfftw3.a fails"
  imports=$(objdump -p "$work/probe" | sed -nE 's/^[[:space:]]*NEEDED[[:space:]]+(.*)$/\1/p' | sort -u)
else
  # The library's own link rule under the name the modules import, so that the DLL, its export
  # directory and the import library all carry that name. (Renaming the finished DLL would leave
  # the import library pointing at the old name.)
  cat >quen-relink.mk <<'MK'
libfftwx64_3.la: $(libfftw3_la_OBJECTS) $(libfftw3_la_DEPENDENCIES)
	$(libfftw3_la_LINK) -rpath $(libdir) $(libfftw3_la_OBJECTS) $(libfftw3_la_LIBADD) $(LIBS)
MK
  make -f Makefile -f quen-relink.mk $name.la >>"$log" 2>&1 || fail "linking $dll failed"
  [ -f ".libs/$dll" ] && [ -f ".libs/$name.dll.a" ] || fail "libtool made no .libs/$dll"

  mkdir -p "$out/bin"
  cp ".libs/$dll" "$out/bin/"
  cp ".libs/$name.dll.a" "$out/lib/"
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
  printf "$probe" >"$work/probe.c"
  $host-gcc -I"$out/include" "$work/probe.c" -L"$out/lib" -l:$name.dll.a -o "$work/probe.exe" ||
    fail "cannot link a program with $name.dll.a"
  # (grep reads all of objdump's output: with grep -q, objdump could die of a closed pipe when grep
  # stops at the first match, and pipefail would call that a failure.)
  $host-objdump -p "$work/probe.exe" | grep -F "DLL Name: $dll" >/dev/null || fail "$name.dll.a does not name $dll"
fi

cat >"$out/BUILD-INFO" <<INFO
FFTW $src_version (Debian source package fftw3), built $what
patches ${patches[*]:-none}
configure ${flags[*]} CFLAGS="$cflags"
compiler $($cc --version | head -n 1)
imports $(echo $imports)
built in $((SECONDS - start)) s on $(date -u +%Y-%m-%dT%H:%M:%SZ)
INFO
mv "$out" "$prefix"
echo "fftw ($target): $prefix ready after $((SECONDS - start)) s"
