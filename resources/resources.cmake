# Reads the module list, resources/modules.txt, and produces from it the table of modules for the
# C++ side and the Windows resources of the modules: the property list the
# editor reads to list and enable a filter, the version block and the manifest. The property list
# bytes are computed here once and written both into each module's resource script and into a
# C++ header that the tests compare against.

set(QUEN_RESOURCES_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QUEN_PIPL_BYTES 294)

# The module list: resources/modules.txt, or another file given as QUEN_MANIFEST (the check that
# a new line is all a module needs uses a copy with one more line).
set(QUEN_MANIFEST ${QUEN_RESOURCES_DIR}/modules.txt CACHE FILEPATH "The module list")

# Reads the module list: QUEN_MANIFEST_MODULES lists the names in order; for each name,
# QUEN_<name>_SOURCE (relative to the source tree), _SHAPE, _SPECTRUM, _DIRECTION,
# _FILE_VERSION (a.b.c), _PRODUCT_VERSION (a.b.c.d) and _DESCRIPTION hold its fields.
function(quen_read_manifest)
  set(file ${QUEN_MANIFEST})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  file(STRINGS ${file} lines)
  set(names "")
  set(fields SOURCE SHAPE SPECTRUM DIRECTION FILE_VERSION PRODUCT_VERSION DESCRIPTION)
  set(s "[ \t]+")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*(#|$)")
      continue()
    endif()
    if(NOT line MATCHES "^([A-Za-z0-9]+)${s}([^ \t]+)${s}(FullComplex|LastTwoColumnsLeftOut)${s}(Full|Half|Volume)${s}(Forward|Inverse)${s}([0-9]+\\.[0-9]+\\.[0-9]+)${s}([0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+)${s}([^\"\\\\]*[^\"\\\\ \t])[ \t]*$")
      message(FATAL_ERROR "${file}: cannot read \"${line}\" (expected: name transform shape spectrum "
                          "direction a.b.c a.b.c.d description, see the head of the file)")
    endif()
    set(name ${CMAKE_MATCH_1})
    string(LENGTH "${name}" length)
    if(length GREATER 9)
      message(FATAL_ERROR "${file}: module name ${name} is longer than the 9 characters of a property list name")
    endif()
    if(name IN_LIST names)
      message(FATAL_ERROR "${file}: module ${name} is listed twice")
    endif()
    list(APPEND names ${name})
    set(i 2)
    foreach(field IN LISTS fields)
      set(QUEN_${name}_${field} "${CMAKE_MATCH_${i}}" PARENT_SCOPE)
      math(EXPR i "${i} + 1")
    endforeach()
  endforeach()
  if(NOT names)
    message(FATAL_ERROR "${file} lists no module")
  endif()
  set(QUEN_MANIFEST_MODULES ${names} PARENT_SCOPE)
endfunction()

# A C++ header with one entry per module of the list (quen::manifest::kModules), for everything
# that loops over the modules or describes them.
function(quen_write_module_table path)
  quen_read_manifest()
  set(entries "")
  foreach(name IN LISTS QUEN_MANIFEST_MODULES)
    string(APPEND entries "    {\"${name}\", Shape::${QUEN_${name}_SHAPE}, Spectrum::${QUEN_${name}_SPECTRUM}, "
                          "Direction::${QUEN_${name}_DIRECTION}, \"${QUEN_${name}_FILE_VERSION}\", "
                          "\"${QUEN_${name}_PRODUCT_VERSION}\",\n     \"${QUEN_${name}_DESCRIPTION}\"},\n")
  endforeach()
  file(CONFIGURE OUTPUT ${path} @ONLY CONTENT [[
// The modules of this build, generated from the module list by resources/resources.cmake.
#pragma once

#include <string_view>

#include "shape.h"

namespace quen::manifest {

// The layout of the spectrum a module writes (Forward) or reads (Inverse).
enum class Spectrum {
    Full,    // one complex spectrum of the luminance: magnitude in red, phase in green
    Half,    // each channel its own half spectrum: magnitudes, then phases, in every row
    Volume,  // the three channels as the planes of one 3-D half spectrum, same row layout
};

enum class Direction { Forward, Inverse };

struct ModuleEntry {
    std::string_view name;
    Shape shape;
    Spectrum spectrum;
    Direction direction;
    std::string_view file_version;     // a.b.c
    std::string_view product_version;  // a.b.c.d
    std::string_view description;      // one line, for quen list
};

inline constexpr ModuleEntry kModules[] = {
@entries@};

}  // namespace quen::manifest
]])
endfunction()

# --- Bytes (kept as decimal numbers in CMake lists) ---------------------------------------------

# The unsigned value as `size` little-endian bytes.
function(_quen_le value size out)
  set(bytes "")
  foreach(i RANGE 1 ${size})
    math(EXPR byte "${value} & 255")
    math(EXPR value "${value} >> 8")
    list(APPEND bytes ${byte})
  endforeach()
  set(${out} ${bytes} PARENT_SCOPE)
endfunction()

# The characters of `text`, then zero bytes up to `size` bytes in all.
function(_quen_text text size out)
  string(HEX "${text}" hex)
  string(LENGTH "${hex}" hex_length)
  set(bytes "")
  if(hex_length GREATER 0)
    math(EXPR last "${hex_length} - 2")
    foreach(i RANGE 0 ${last} 2)
      string(SUBSTRING "${hex}" ${i} 2 pair)
      math(EXPR byte "0x${pair}")
      list(APPEND bytes ${byte})
    endforeach()
  endif()
  list(LENGTH bytes count)
  if(count GREATER size)
    message(FATAL_ERROR "\"${text}\" does not fit into ${size} bytes")
  endif()
  while(count LESS size)
    list(APPEND bytes 0)
    math(EXPR count "${count} + 1")
  endwhile()
  set(${out} ${bytes} PARENT_SCOPE)
endfunction()

# A four-character code as the host stores it: a little-endian 32-bit integer, so "8BIM" is
# stored as the characters "MIB8".
function(_quen_code code out)
  string(SUBSTRING "${code}" 3 1 c0)
  string(SUBSTRING "${code}" 2 1 c1)
  string(SUBSTRING "${code}" 1 1 c2)
  string(SUBSTRING "${code}" 0 1 c3)
  _quen_text("${c0}${c1}${c2}${c3}" 4 bytes)
  set(${out} ${bytes} PARENT_SCOPE)
endfunction()

# A length byte, the characters, then zero bytes up to `size`.
function(_quen_counted_text text size out)
  string(LENGTH "${text}" length)
  math(EXPR rest "${size} - 1")
  _quen_text("${text}" ${rest} chars)
  set(${out} ${length} ${chars} PARENT_SCOPE)
endfunction()

# One property: vendor "8BIM", key, identifier 0, data length, data padded to a multiple of 4.
macro(_quen_property key)
  set(_data ${ARGN})
  list(LENGTH _data _length)
  _quen_code("8BIM" _vendor)
  _quen_code("${key}" _key)
  _quen_le(0 4 _id)
  _quen_le(${_length} 4 _len)
  list(APPEND bytes ${_vendor} ${_key} ${_id} ${_len} ${_data})
  math(EXPR _pad "(4 - ${_length} % 4) % 4")
  if(_pad GREATER 0)
    foreach(_i RANGE 1 ${_pad})
      list(APPEND bytes 0)
    endforeach()
  endif()
endmacro()

# The menu name of module `name`, always 9 characters: the module name, then "." up to 9.
function(quen_menu_name name out)
  set(menu_name "${name}")
  string(LENGTH "${menu_name}" length)
  while(length LESS 9)
    string(APPEND menu_name ".")
    math(EXPR length "${length} + 1")
  endwhile()
  set(${out} ${menu_name} PARENT_SCOPE)
endfunction()

# The filter interface version in the property lists: 4.1 for the modules as delivered, and 4.0
# for a companion set that is the same modules in every other respect, for editors that list only
# filters of interface version 4.0 (the Windows package carries both sets).
set(QUEN_INTERFACE_VERSION 0x00040001)
set(QUEN_INTERFACE40_VERSION 0x00040000)

# The property list of module `name`, declaring filter interface `version`: what the editor reads
# to find, name and enable the filter.
function(quen_pipl_bytes name version out)
  quen_menu_name(${name} menu_name)

  set(bytes "")
  _quen_le(1 2 head_version)      # property list format
  _quen_le(0 4 list_version)
  _quen_le(9 4 count)             # nine properties
  list(APPEND bytes ${head_version} ${list_version} ${count})

  _quen_code("8BFM" kind)         # a filter module
  _quen_property("kind" ${kind})
  _quen_counted_text("${menu_name}" 12 data)
  _quen_property("name" ${data})
  _quen_counted_text("TAVL 2018" 12 data)       # the filter menu's category
  _quen_property("catg" ${data})
  _quen_le(${version} 4 data)                   # filter interface version
  _quen_property("vers" ${data})
  _quen_text("ENTRYPOINT" 12 data)              # entry point for 64-bit x86
  _quen_property("8664" ${data})
  _quen_le(0x10 4 data)                         # image modes: RGB colour only
  _quen_property("mode" ${data})
  _quen_text("in (PSHOP_ImageMode, RGBMode, RGB48Mode, RGB96Mode)" 56 data)  # RGB at 8, 16 and 32 bits
  _quen_property("enbl" ${data})
  # Filter cases in the host's order: flat image, flat with selection, floating selection,
  # editable transparency without and with selection, protected transparency without and with
  # selection. Input and output handling 4 (matte against white); flags: no copy of the source
  # (bit 0), works on blank data (bit 1), filters layer masks (bit 2) and, with a selection,
  # writes outside it (bit 3), since the whole image is always rewritten.
  set(data "")
  foreach(flags 0x07 0x0F 0x0F 0x07 0x0F 0x07 0x0F)
    math(EXPR flags "${flags}")
    list(APPEND data 4 4 ${flags} 0)
  endforeach()
  _quen_property("fici" ${data})
  _quen_le(2000000 4 height)                    # largest image accepted
  _quen_le(2000000 4 width)
  _quen_property("ms32" ${height} ${width})

  list(LENGTH bytes size)
  if(NOT size EQUAL QUEN_PIPL_BYTES)
    message(FATAL_ERROR "the property list of ${name} has ${size} bytes, not ${QUEN_PIPL_BYTES}")
  endif()
  set(${out} ${bytes} PARENT_SCOPE)
endfunction()

# --- Outputs ------------------------------------------------------------------------------------

# Values as hexadecimal text of `digits` digits, joined by ", ", `per_line` to a line.
function(_quen_hex_lines out digits per_line indent)
  set(text "")
  set(column 0)
  foreach(value IN LISTS ARGN)
    math(EXPR hex "${value}" OUTPUT_FORMAT HEXADECIMAL)
    string(SUBSTRING "${hex}" 2 -1 hex)
    string(LENGTH "${hex}" length)
    while(length LESS digits)
      string(PREPEND hex "0")
      math(EXPR length "${length} + 1")
    endwhile()
    string(PREPEND hex "0x")
    if(column EQUAL 0)
      string(APPEND text "${indent}")
    else()
      string(APPEND text " ")
    endif()
    string(APPEND text "${hex},")
    math(EXPR column "(${column} + 1) % ${per_line}")
    if(column EQUAL 0)
      string(APPEND text "\n")
    endif()
  endforeach()
  string(REGEX REPLACE ",\n?$" "\n" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# A C++ header with the property list of every described module in both sets, for the tests.
function(quen_write_pipl_header path)
  quen_read_manifest()
  set(entries "")
  set(entries40 "")
  foreach(name IN LISTS QUEN_MANIFEST_MODULES)
    foreach(version_and_entries "${QUEN_INTERFACE_VERSION};entries" "${QUEN_INTERFACE40_VERSION};entries40")
      list(GET version_and_entries 0 version)
      list(GET version_and_entries 1 set_name)
      quen_pipl_bytes(${name} ${version} bytes)
      _quen_hex_lines(text 2 12 "      " ${bytes})
      string(APPEND ${set_name} "    {\"${name}\",\n     {\n${text}     }},\n")
    endforeach()
  endforeach()
  file(CONFIGURE OUTPUT ${path} @ONLY CONTENT [[
// The property lists of the Windows modules as the build puts them into the modules, generated
// from resources/modules.txt by resources/resources.cmake.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace quen::resources {

struct PropertyList {
    std::string_view module;
    std::array<uint8_t, @QUEN_PIPL_BYTES@> bytes;
};

// The modules as delivered.
inline constexpr PropertyList kPropertyLists[] = {
@entries@};

// The interface-4.0 companion set: the same modules declaring filter interface version 4.0.
inline constexpr PropertyList kPropertyListsInterface40[] = {
@entries40@};

}  // namespace quen::resources
]])
endfunction()

# The resource script of module `name`: property list (declaring filter interface `version`),
# version block and manifest, all in English (United States).
function(quen_write_module_rc name version path)
  quen_read_manifest()
  if(NOT name IN_LIST QUEN_MANIFEST_MODULES)
    message(FATAL_ERROR "module ${name} has no line in ${QUEN_MANIFEST}")
  endif()
  set(file_version ${QUEN_${name}_FILE_VERSION})
  set(product_version ${QUEN_${name}_PRODUCT_VERSION})
  string(REPLACE "." "," file_version_commas "${file_version}.0")
  string(REPLACE "." "," product_version_commas "${product_version}")
  # "1.0.5" gives "1.05": the file version with its second point left out.
  string(REGEX REPLACE "^([0-9]+\\.[0-9]+)\\.([0-9]+)$" "\\1\\2" internal_version "${file_version}")

  # The resource compiler reads a user-defined resource's data as 16-bit little-endian words.
  quen_pipl_bytes(${name} ${version} bytes)
  set(words "")
  list(LENGTH bytes size)
  math(EXPR last "${size} - 2")
  foreach(i RANGE 0 ${last} 2)
    math(EXPR next "${i} + 1")
    list(GET bytes ${i} low)
    list(GET bytes ${next} high)
    math(EXPR word "${low} + 256 * ${high}")
    list(APPEND words ${word})
  endforeach()
  _quen_hex_lines(pipl_words 4 8 "  " ${words})

  set(manifest ${QUEN_RESOURCES_DIR}/manifest.xml)
  file(CONFIGURE OUTPUT ${path} @ONLY CONTENT [[
// Resources of @name@.8bf, generated from resources/modules.txt by resources/resources.cmake.
LANGUAGE 0x09, 0x01

// The property list (@QUEN_PIPL_BYTES@ bytes).
16000 PIPL
BEGIN
@pipl_words@END

1 VERSIONINFO
FILEVERSION @file_version_commas@
PRODUCTVERSION @product_version_commas@
FILEFLAGSMASK 0x3F
FILEFLAGS 0x0
FILEOS 0x4
FILETYPE 0x2
FILESUBTYPE 0x0
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904E4"
    BEGIN
      VALUE "CompanyName", "TAVL"
      VALUE "FileDescription", "@name@"
      VALUE "FileVersion", "@file_version@"
      VALUE "InternalName", "@name@v@internal_version@"
      VALUE "LegalCopyright", "Copyright (C) TAVL"
      VALUE "OriginalFilename", "@name@.8bf"
      VALUE "ProductName", "Quen Fourier spectrum filters"
      VALUE "ProductVersion", "1.0"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x0409, 0x04E4
  END
END

// Manifest (type 24, id 2 for a DLL): runs with the rights of the editor that loads it.
2 24 "@manifest@"
]])
endfunction()
