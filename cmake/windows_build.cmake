# From a native tree configured with QUEN_WINDOWS (build-windows/): cross-builds the Windows modules
# from this same source tree in its windows/ folder (cmake/mingw-w64.cmake), after FFTW for
# Windows, which is built once per machine into a cache outside the build tree; runs their tests
# under Wine as one of this tree's tests, and packages them into its dist/windows/ (target
# windows_dist).
include(ExternalProject)

include(${PROJECT_SOURCE_DIR}/cmake/fftw.cmake)
set(QUEN_FFTW_WINDOWS ${QUEN_CACHE_DIR}/fftw-${QUEN_FFTW_VERSION}-${QUEN_FFTW_FLAVOUR}-mingw64)
set(QUEN_WINDOWS_BINARY_DIR ${CMAKE_BINARY_DIR}/windows)
quen_fftw_build(windows ${QUEN_FFTW_WINDOWS})

ExternalProject_Add(quen_windows
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${QUEN_WINDOWS_BINARY_DIR}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64.cmake
             -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
             -DQUEN_FFTW_WINDOWS=${QUEN_FFTW_WINDOWS}
             -DQUEN_WINDOWS_DIST_DIR=${CMAKE_BINARY_DIR}/dist/windows
             -DQUEN_MANIFEST=${QUEN_MANIFEST}
             -DQUEN_XSIMD_HEADERS=${QUEN_XSIMD_INCLUDE_DIR}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  DEPENDS fftw_windows
  USES_TERMINAL_CONFIGURE ON
  USES_TERMINAL_BUILD ON)

add_custom_target(windows_dist
  COMMAND ${CMAKE_COMMAND} --build ${QUEN_WINDOWS_BINARY_DIR} --target windows_dist
  DEPENDS quen_windows
  USES_TERMINAL VERBATIM)

# The Windows build's own tests (resources, filtering, a folder without FFTW) under Wine; they
# leave the filtered images that test_windows_match compares with the native modules.
add_test(NAME windows_under_wine
  COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${QUEN_WINDOWS_BINARY_DIR} --output-on-failure)
set_tests_properties(windows_under_wine PROPERTIES FIXTURES_SETUP windows_results)
