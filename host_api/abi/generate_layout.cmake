# Turns the host's layout table (host-abi.csv: record, title, member, index,
# offset, size, kind, used; for kind "size" the offset column holds sizeof and
# the size column alignof) into a list of macro calls, one per row:
#
#   QV_ABI_RECORD(Type, sizeof, alignof)
#   QV_ABI_MEMBER(Type, member, offset, size, used)
#   QV_ABI_SLOT(Type, member, offset, size, used)          a function pointer
#   QV_ABI_NESTED_RECORD(Type, path, sizeof, alignof)      an anonymous record
#   QV_ABI_NESTED_MEMBER(Type, path, member, offset, size, used)  inside Type::path
#
# A title such as "PF_ParamDef.uu" names the anonymous union `uu` of
# PF_ParamDef; its member offsets count from the union's start.
#
# Usage: cmake -DCSV=host-abi.csv -DOUTPUT=abi_layout.inc -P generate_layout.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT CSV OR NOT OUTPUT)
  message(FATAL_ERROR "generate_layout.cmake needs -DCSV=... and -DOUTPUT=...")
endif()

file(STRINGS "${CSV}" rows)
set(text "/* Generated from host-abi.csv by generate_layout.cmake: do not edit. */\n")
set(count 0)
foreach(row IN LISTS rows)
  if(row MATCHES "^[ \t]*(#|$)")
    continue()
  endif()
  string(REPLACE "," ";" fields "${row}")
  list(LENGTH fields n)
  if(NOT n EQUAL 8)
    message(FATAL_ERROR "${CSV}: a row without 8 fields: ${row}")
  endif()
  list(GET fields 1 title)
  list(GET fields 2 member)
  list(GET fields 4 offset)
  list(GET fields 5 size)
  list(GET fields 6 kind)
  list(GET fields 7 used)
  if(NOT offset MATCHES "^[0-9]+$" OR NOT size MATCHES "^[0-9]+$" OR NOT used MATCHES "^[01]$")
    message(FATAL_ERROR "${CSV}: a row with a bad number: ${row}")
  endif()
  set(path "")
  if(title MATCHES "^([A-Za-z_0-9]+)\\.([A-Za-z_0-9]+)$")
    set(title "${CMAKE_MATCH_1}")
    set(path "${CMAKE_MATCH_2}")
  elseif(NOT title MATCHES "^[A-Za-z_][A-Za-z_0-9]*$")
    message(FATAL_ERROR "${CSV}: a record title that is no C name: ${row}")
  endif()
  if(kind STREQUAL "size")
    if(path)
      string(APPEND text "QV_ABI_NESTED_RECORD(${title}, ${path}, ${offset}, ${size})\n")
    else()
      string(APPEND text "QV_ABI_RECORD(${title}, ${offset}, ${size})\n")
    endif()
  elseif(kind STREQUAL "member" OR kind STREQUAL "slot")
    if(NOT member MATCHES "^[A-Za-z_][A-Za-z_0-9]*$")
      message(FATAL_ERROR "${CSV}: a member that is no C name: ${row}")
    endif()
    if(path AND kind STREQUAL "slot")
      message(FATAL_ERROR "${CSV}: a function slot inside an anonymous record: ${row}")
    elseif(path)
      string(APPEND text "QV_ABI_NESTED_MEMBER(${title}, ${path}, ${member}, ${offset}, ${size}, ${used})\n")
    elseif(kind STREQUAL "slot")
      string(APPEND text "QV_ABI_SLOT(${title}, ${member}, ${offset}, ${size}, ${used})\n")
    else()
      string(APPEND text "QV_ABI_MEMBER(${title}, ${member}, ${offset}, ${size}, ${used})\n")
    endif()
  else()
    message(FATAL_ERROR "${CSV}: unknown kind \"${kind}\": ${row}")
  endif()
  math(EXPR count "${count} + 1")
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "${CSV} holds no rows")
endif()

# Written only when it changes, so that an unchanged table rebuilds nothing.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL text)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${text}")
