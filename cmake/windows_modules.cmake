# The Windows side of the modules, for a build configured with cmake/mingw-w64.cmake: each module
# becomes a .8bf DLL with its resources, the C++ runtime and libgcc linked in, FFTW delay-loaded
# from libfftwx64_3-3.dll, and a check after the link of what it exports and imports.
enable_language(RC)

set(QUEN_FFTW_WINDOWS "" CACHE PATH "FFTW built for Windows by scripts/fftw-windows.sh")
set(QUEN_FFTW_DLL_NAME libfftwx64_3-3.dll)
if(NOT EXISTS ${QUEN_FFTW_WINDOWS}/include/fftw3.h OR NOT EXISTS ${QUEN_FFTW_WINDOWS}/bin/${QUEN_FFTW_DLL_NAME})
  message(FATAL_ERROR "QUEN_FFTW_WINDOWS (\"${QUEN_FFTW_WINDOWS}\") holds no FFTW for Windows; "
                      "build one with scripts/fftw-windows.sh")
endif()

# Windows programs of the tests run under Wine, in a prefix of this build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh ${CMAKE_BINARY_DIR}/wine)

# Every FFTW function resolves through the delay-load helper on its first call, after the frame has
# found the DLL (frame/fftw_library_windows.cpp).
add_library(quen_fftw INTERFACE)
target_include_directories(quen_fftw INTERFACE ${QUEN_FFTW_WINDOWS}/include)
target_link_libraries(quen_fftw INTERFACE ${QUEN_FFTW_WINDOWS}/lib/libfftwx64_3.delay.a)

# The DLL sits beside the modules, as it will in the editor's plug-ins folder; without the
# symbols, which only the linker used.
add_custom_command(OUTPUT ${QUEN_BIN_DIR}/${QUEN_FFTW_DLL_NAME}
  COMMAND ${CMAKE_STRIP} -o ${QUEN_BIN_DIR}/${QUEN_FFTW_DLL_NAME} ${QUEN_FFTW_WINDOWS}/bin/${QUEN_FFTW_DLL_NAME}
  DEPENDS ${QUEN_FFTW_WINDOWS}/bin/${QUEN_FFTW_DLL_NAME})
add_custom_target(quen_fftw_dll ALL DEPENDS ${QUEN_BIN_DIR}/${QUEN_FFTW_DLL_NAME})

# The objects of the two runtimes are linked into each module, so that it imports nothing but
# Windows system DLLs and FFTW; symbols are stripped from what the editor loads.
function(quen_platform_module name)
  set(rc ${CMAKE_BINARY_DIR}/resources/${name}.rc)
  quen_write_module_rc(${name} ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${QUEN_RESOURCES_DIR}/manifest.xml)
  target_sources(${name} PRIVATE ${rc})
  set_target_properties(${name} PROPERTIES SUFFIX .8bf)
  target_link_options(${name} PRIVATE -static-libgcc -static-libstdc++ -s -Wl,--no-undefined)
  add_dependencies(${name} quen_fftw_dll)
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DOBJCOPY=${CMAKE_OBJCOPY} -DMODULE=$<TARGET_FILE:${name}>
            -DFFTW_DLL=${QUEN_FFTW_DLL_NAME} -P ${PROJECT_SOURCE_DIR}/cmake/check_windows_module.cmake
    VERBATIM)
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

  set(files ${QUEN_BIN_DIR}/${QUEN_FFTW_DLL_NAME} ${install_note})
  set(names ${QUEN_FFTW_DLL_NAME} INSTALL.txt)
  foreach(module IN LISTS QUEN_MODULES)
    list(APPEND files $<TARGET_FILE:${module}>)
    list(APPEND names $<TARGET_FILE_NAME:${module}>)
  endforeach()
  add_custom_target(windows_dist
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${dist}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dist}
    COMMAND ${CMAKE_COMMAND} -E copy ${files} ${dist}/
    COMMAND ${CMAKE_COMMAND} -E chdir ${dist} ${CMAKE_COMMAND} -E tar cf quen-windows-x64.zip --format=zip ${names}
    COMMAND ${CMAKE_COMMAND} -E echo "Windows package: ${dist}"
    DEPENDS ${QUEN_MODULES} quen_fftw_dll
    VERBATIM)
endfunction()
