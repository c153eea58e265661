# Helpers shared by the packaging tests (cmake -P scripts).

# run(COMMAND...): runs the command, fails the test when it fails; its output
# (standard output and error together) is left in `output`.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "failed (${status}): ${command}\n${out}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

function(expect_output expected)
  string(STRIP "${output}" actual)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "expected \"${expected}\", got \"${actual}\"")
  endif()
endfunction()

function(expect_exists path)
  if(NOT EXISTS ${path} AND NOT IS_SYMLINK ${path})
    message(FATAL_ERROR "missing: ${path}")
  endif()
endfunction()

function(expect_missing path)
  if(EXISTS ${path} OR IS_SYMLINK ${path})
    message(FATAL_ERROR "should not be there: ${path}")
  endif()
endfunction()

# read_header_version(HEADER): sets `version` to INIREG_VERSION_STRING of that
# version.h, and `soversion` to the shared library's name suffix: the major
# version, and before 1.0 the minor one too.
function(read_header_version header)
  file(STRINGS ${header} lines REGEX "^#define INIREG_VERSION_")
  if(NOT lines MATCHES "INIREG_VERSION_STRING \"([0-9]+)\\.([0-9]+)\\.([0-9]+)\"")
    message(FATAL_ERROR "${header}: no INIREG_VERSION_STRING")
  endif()
  set(version ${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3} PARENT_SCOPE)
  if(CMAKE_MATCH_1 EQUAL 0)
    set(soversion 0.${CMAKE_MATCH_2} PARENT_SCOPE)
  else()
    set(soversion ${CMAKE_MATCH_1} PARENT_SCOPE)
  endif()
endfunction()

# needed_libraries(FILE): sets `needed` to the shared libraries the ELF file
# names as NEEDED.
function(needed_libraries file)
  run(readelf -d ${file})
  string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]+\\]" entries "${output}")
  set(names "")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE ".*\\[([^]]+)\\]" "\\1" name "${entry}")
    list(APPEND names ${name})
  endforeach()
  set(needed "${names}" PARENT_SCOPE)
endfunction()

# dynamic_symbols(FILE): sets `symbols` to the demangled names of the symbols
# the ELF file defines in its dynamic symbol table, one list item each.
function(dynamic_symbols file)
  run(nm -D --defined-only -C ${file})
  # Items of a CMake list cannot hold ";" or unbalanced brackets: symbols
  # with those would be mangled; inireg's own names have neither.
  string(REPLACE ";" "," text "${output}")
  string(REPLACE "[" "<" text "${text}")
  string(REPLACE "]" ">" text "${text}")
  string(REGEX REPLACE "\n$" "" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
    list(APPEND names "${name}")
  endforeach()
  set(symbols "${names}" PARENT_SCOPE)
endfunction()
