# The Windows side of the modules, for a build configured with cmake/mingw-w64.cmake: each module
# becomes a .8bf DLL with its resources, the C++ runtime and libgcc linked in, FFTW delay-loaded
# from libfftwx64_3-3.dll, and a check after the link of what it exports and imports.
enable_language(RC)

set(QUEN_FFTW_WINDOWS "" CACHE PATH "FFTW built for Windows by scripts/fftw.sh")
set(QUEN_FFTW_DLL_NAME libfftwx64_3-3.dll)
if(NOT EXISTS ${QUEN_FFTW_WINDOWS}/include/fftw3.h OR NOT EXISTS ${QUEN_FFTW_WINDOWS}/bin/${QUEN_FFTW_DLL_NAME})
  message(FATAL_ERROR "QUEN_FFTW_WINDOWS (\"${QUEN_FFTW_WINDOWS}\") holds no FFTW for Windows; "
                      "build one with scripts/fftw.sh windows")
endif()

# xsimd's headers, from the build machine's package (they are the same for every target), seen
# through a folder that holds nothing else, so that no other header of the build machine's
# /usr/include can reach the Windows build.
set(QUEN_XSIMD_HEADERS "" CACHE PATH "The folder that holds xsimd/xsimd.hpp")
if(NOT EXISTS ${QUEN_XSIMD_HEADERS}/xsimd/xsimd.hpp)
  message(FATAL_ERROR "QUEN_XSIMD_HEADERS (\"${QUEN_XSIMD_HEADERS}\") holds no xsimd/xsimd.hpp")
endif()
set(QUEN_XSIMD_INCLUDE_DIR ${CMAKE_BINARY_DIR}/xsimd-include)
file(MAKE_DIRECTORY ${QUEN_XSIMD_INCLUDE_DIR})
file(CREATE_LINK ${QUEN_XSIMD_HEADERS}/xsimd ${QUEN_XSIMD_INCLUDE_DIR}/xsimd SYMBOLIC)

# Windows programs of the tests run under Wine, in a prefix of this build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh ${CMAKE_BINARY_DIR}/wine)

# Every FFTW function resolves through the delay-load helper on its first call, after the frame has
# found the DLL (frame/fftw_library_windows.cpp).
add_library(quen_fftw INTERFACE)
target_include_directories(quen_fftw INTERFACE ${QUEN_FFTW_WINDOWS}/include)
target_link_libraries(quen_fftw INTERFACE ${QUEN_FFTW_WINDOWS}/lib/libfftwx64_3.delay.a)

# The DLL sits beside the modules of each set (see the interface-4.0 set below), as it will in
# the editor's plug-ins folder; without the symbols, which only the linker used.
set(QUEN_INTERFACE40_DIR ${QUEN_BIN_DIR}/interface-4.0)
add_custom_command(OUTPUT ${QUEN_BIN_DIR}/${QUEN_FFTW_DLL_NAME} ${QUEN_INTERFACE40_DIR}/${QUEN_FFTW_DLL_NAME}
  COMMAND ${CMAKE_STRIP} -o ${QUEN_BIN_DIR}/${QUEN_FFTW_DLL_NAME} ${QUEN_FFTW_WINDOWS}/bin/${QUEN_FFTW_DLL_NAME}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QUEN_INTERFACE40_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy ${QUEN_BIN_DIR}/${QUEN_FFTW_DLL_NAME} ${QUEN_INTERFACE40_DIR}/
  DEPENDS ${QUEN_FFTW_WINDOWS}/bin/${QUEN_FFTW_DLL_NAME})
add_custom_target(quen_fftw_dll ALL
  DEPENDS ${QUEN_BIN_DIR}/${QUEN_FFTW_DLL_NAME} ${QUEN_INTERFACE40_DIR}/${QUEN_FFTW_DLL_NAME})

# The objects of the two runtimes are linked into each module, so that it imports nothing but
# Windows system DLLs and FFTW; symbols are stripped from what the editor loads. `target` is
# module `name` with a property list that declares filter interface `version`.
function(_quen_windows_module target name version)
  set(rc ${CMAKE_BINARY_DIR}/resources/${target}.rc)
  quen_write_module_rc(${name} ${version} ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${QUEN_RESOURCES_DIR}/manifest.xml)
  target_sources(${target} PRIVATE ${rc})
  set_target_properties(${target} PROPERTIES SUFFIX .8bf)
  # The same sources give the same file, whichever set and whenever built: no link time stamp,
  # and a preferred load address from the module's name alone (the linker's own choice hashes
  # the output path, which differs between the sets).
  string(MD5 hash "${name}")
  string(SUBSTRING "${hash}" 0 3 hash)
  math(EXPR image_base "0x200000000 + (0x${hash} << 18)" OUTPUT_FORMAT HEXADECIMAL)
  target_link_options(${target} PRIVATE -static-libgcc -static-libstdc++ -s -Wl,--no-undefined
    -Wl,--no-insert-timestamp -Wl,--image-base=${image_base})
  add_dependencies(${target} quen_fftw_dll)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DOBJCOPY=${CMAKE_OBJCOPY} -DMODULE=$<TARGET_FILE:${target}>
            -DFFTW_DLL=${QUEN_FFTW_DLL_NAME} -P ${PROJECT_SOURCE_DIR}/cmake/check_windows_module.cmake
    VERBATIM)
endfunction()

# The interface-4.0 companion set: each module once more, from the same sources with the same
# settings, as a file of the same name in bin/interface-4.0/; only its property list differs.
set(QUEN_INTERFACE40_MODULES "")

function(quen_platform_module name)
  set(companion ${name}_interface40)
  get_target_property(sources ${name} SOURCES)
  add_library(${companion} MODULE ${sources})
  foreach(property LINK_LIBRARIES COMPILE_DEFINITIONS PREFIX CXX_VISIBILITY_PRESET VISIBILITY_INLINES_HIDDEN)
    get_target_property(value ${name} ${property})
    if(NOT value STREQUAL "value-NOTFOUND")
      set_property(TARGET ${companion} PROPERTY ${property} "${value}")
    endif()
  endforeach()
  set_target_properties(${companion} PROPERTIES OUTPUT_NAME ${name}
    LIBRARY_OUTPUT_DIRECTORY ${QUEN_INTERFACE40_DIR} RUNTIME_OUTPUT_DIRECTORY ${QUEN_INTERFACE40_DIR})
  _quen_windows_module(${name} ${name} ${QUEN_INTERFACE_VERSION})
  _quen_windows_module(${companion} ${name} ${QUEN_INTERFACE40_VERSION})
  set(QUEN_INTERFACE40_MODULES ${QUEN_INTERFACE40_MODULES} ${companion} PARENT_SCOPE)
endfunction()

# The package: the modules, the FFTW DLL and the install note, and a zip of the same files, ready
# for the editor's plug-ins folder, in a folder of the build (never the source tree). Called once
# all modules are declared.
set(QUEN_WINDOWS_DIST_DIR ${CMAKE_BINARY_DIR}/dist/windows CACHE PATH "Where target windows_dist puts the package")
function(quen_windows_dist)
  set(dist ${QUEN_WINDOWS_DIST_DIR})
  # The install note names the modules and their menu names.
  set(module_files "")
  set(menu_names "")
  foreach(module IN LISTS QUEN_MODULES)
    list(APPEND module_files ${module}.8bf)
    quen_menu_name(${module} menu_name)
    list(APPEND menu_names ${menu_name})
  endforeach()
  list(JOIN module_files ", " module_files)
  list(POP_BACK menu_names last_menu_name)
  list(JOIN menu_names ", " menu_names)
  if(menu_names)
    string(APPEND menu_names " and ")
  endif()
  string(APPEND menu_names ${last_menu_name})
  set(install_note ${CMAKE_BINARY_DIR}/resources/INSTALL.txt)
  configure_file(${QUEN_RESOURCES_DIR}/INSTALL.txt.in ${install_note} @ONLY)

  # The default set at the top, the interface-4.0 set in its folder; the zip holds both.
  set(files ${QUEN_BIN_DIR}/${QUEN_FFTW_DLL_NAME} ${install_note})
  set(files40 ${QUEN_INTERFACE40_DIR}/${QUEN_FFTW_DLL_NAME})
  set(names ${QUEN_FFTW_DLL_NAME} INSTALL.txt interface-4.0/${QUEN_FFTW_DLL_NAME})
  foreach(module IN LISTS QUEN_MODULES)
    list(APPEND files $<TARGET_FILE:${module}>)
    list(APPEND files40 $<TARGET_FILE:${module}_interface40>)
    list(APPEND names $<TARGET_FILE_NAME:${module}> interface-4.0/$<TARGET_FILE_NAME:${module}>)
  endforeach()
  add_custom_target(windows_dist
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${dist}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dist}/interface-4.0
    COMMAND ${CMAKE_COMMAND} -E copy ${files} ${dist}/
    COMMAND ${CMAKE_COMMAND} -E copy ${files40} ${dist}/interface-4.0/
    COMMAND ${CMAKE_COMMAND} -E chdir ${dist} ${CMAKE_COMMAND} -E tar cf quen-windows-x64.zip --format=zip ${names}
    COMMAND ${CMAKE_COMMAND} -E echo "Windows package: ${dist}"
    DEPENDS ${QUEN_MODULES} ${QUEN_INTERFACE40_MODULES} quen_fftw_dll
    VERBATIM)
endfunction()
