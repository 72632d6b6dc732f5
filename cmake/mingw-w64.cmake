# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 toolchain.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUEN_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${QUEN_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${QUEN_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${QUEN_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${QUEN_MINGW_PREFIX}-objdump)
set(CMAKE_OBJCOPY ${QUEN_MINGW_PREFIX}-objcopy)
set(CMAKE_STRIP ${QUEN_MINGW_PREFIX}-strip)

# Libraries and headers come from the MinGW tree and from paths given explicitly, never from the
# build machine's own /usr.
set(CMAKE_FIND_ROOT_PATH /usr/${QUEN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
