#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that are missing: among
# them the tools that unpack and build FFTW's source package (scripts/fftw.sh), and Debian's own
# FFTW, the reference of tests and benchmarks. With the argument "windows", also what the Windows
# modules need: the MinGW-w64 cross compiler and Wine to test them.
set -euo pipefail

packages=(
  build-essential cmake pkg-config dpkg-dev file
  libfftw3-dev libpng-dev libtiff-dev libjpeg62-turbo-dev libwebp-dev libxsimd-dev
  libgtest-dev libbenchmark-dev
  valgrind
  help2man lintian fakeroot dpkg-dev file parallel
  gimp libgimp2.0-dev
  clang llvm
)
if [ "${1:-}" = windows ]; then
  packages+=(g++-mingw-w64-x86-64 wine wine64)
elif [ $# -gt 0 ]; then
  echo "usage: $0 [windows]" >&2
  exit 2
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
updated=no
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  [ $updated = yes ] || $sudo apt-get update
  updated=yes
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y "${missing[@]}"
}

install_missing "${packages[@]}"
# The sanitizer and fuzzer runtimes of the clang that is installed, whichever version that is.
clang_major=$(clang -dumpversion | cut -d. -f1)
install_missing "libclang-rt-$clang_major-dev"
