# FFTW built from Debian's fftw3 source package by scripts/fftw.sh, the same way for the Linux and
# the Windows modules (the same codelets: SSE2, AVX, AVX2, AVX-512; the same patches), once per machine, into a cache
# shared by every build tree. A folder's name says what it holds: changing how FFTW is built means
# a new name, so that no tree takes an older build for a new one.
include_guard(GLOBAL)

set(QUEN_FFTW_VERSION 3.3.10)
# The codelets and the patches (resources/fftw): "buffered", FFTW_ESTIMATE buffers transforms whose
# elements lie a page apart.
set(QUEN_FFTW_FLAVOUR avx512-buffered)
if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
  set(cache_home $ENV{XDG_CACHE_HOME})
else()
  set(cache_home $ENV{HOME}/.cache)
endif()
set(QUEN_CACHE_DIR ${cache_home}/quen CACHE PATH "Where FFTW is built once and kept for every build tree")

# Target fftw_<system> (linux or windows) builds FFTW for that system into `prefix`, and returns at
# once when the cache holds it already; `byproducts` are the files the build depends on.
function(quen_fftw_build system prefix)
  add_custom_target(fftw_${system}
    COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/fftw.sh ${system} ${QUEN_FFTW_VERSION} ${prefix}
    BYPRODUCTS ${ARGN}
    USES_TERMINAL VERBATIM)
endfunction()
