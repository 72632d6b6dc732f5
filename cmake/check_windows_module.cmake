# Fails unless the Windows module MODULE exports ENTRYPOINT and nothing else, imports only Windows
# system DLLs, and delay-loads FFTW_DLL, also naming no other DLL.
# cmake -DOBJDUMP=... -DOBJCOPY=... -DMODULE=... -DFFTW_DLL=... -P check_windows_module.cmake
cmake_minimum_required(VERSION 3.20)
execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed on ${MODULE}")
endif()
get_filename_component(file ${MODULE} NAME)

# Windows' own DLLs, which every Windows has; compared in lower case.
set(system_dlls kernel32.dll msvcrt.dll ntdll.dll user32.dll advapi32.dll)

# Exports: the names listed after "[Ordinal/Name Pointer] Table", up to the next blank line.
# (The "[ n]" prefixes go first: brackets would confuse CMake's lists.)
set(exports "")
if(dump MATCHES "\\[Ordinal/Name Pointer\\] Table\n(([ \t]+\\[[ 0-9]+\\][^\n]*\n)*)")
  string(REGEX REPLACE "[ \t]*\\[[ 0-9]+\\][ \t]+" "" names "${CMAKE_MATCH_1}")
  string(REGEX MATCHALL "[^\n]+" exports "${names}")
endif()
if(NOT exports STREQUAL "ENTRYPOINT")
  message(FATAL_ERROR "${file} exports [${exports}], expected only ENTRYPOINT")
endif()

# Load-time imports: the "DLL Name:" lines of the import tables.
string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
set(imports "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  list(APPEND imports ${dll})
  string(TOLOWER "${dll}" lower)
  if(NOT lower IN_LIST system_dlls)
    message(FATAL_ERROR "${file} imports ${dll} when it is loaded; a module may import only "
                        "Windows system DLLs then (FFTW is delay-loaded)")
  endif()
endforeach()

# Delay-loaded DLLs are not in a directory that the linker fills in, but their names sit in the
# import section beside those of the load-time imports: every DLL named there must be a system
# DLL or FFTW's, and FFTW's must be one of them.
set(idata ${MODULE}.idata)
execute_process(COMMAND ${OBJCOPY} -O binary --only-section=.idata ${MODULE} ${idata} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJCOPY} could not extract the import section of ${MODULE}")
endif()
file(STRINGS ${idata} names REGEX "[A-Za-z0-9_.-]+\\.[dD][lL][lL]$")
file(REMOVE ${idata})
set(fftw_named OFF)
foreach(name IN LISTS names)
  string(REGEX MATCH "[A-Za-z0-9_.-]+\\.[dD][lL][lL]$" dll "${name}")
  string(TOLOWER "${dll}" lower)
  if(lower STREQUAL FFTW_DLL)
    set(fftw_named ON)
  elseif(NOT lower IN_LIST system_dlls)
    message(FATAL_ERROR "${file} loads ${dll}, which is neither a Windows system DLL nor ${FFTW_DLL}")
  endif()
endforeach()
if(NOT fftw_named)
  message(FATAL_ERROR "${file} does not delay-load ${FFTW_DLL}")
endif()
list(JOIN imports ", " imports)
message(STATUS "${file}: exports ENTRYPOINT; imports ${imports}; delay-loads ${FFTW_DLL}")
