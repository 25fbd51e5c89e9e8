# Fails unless EntryPointFunc is the one symbol the plug-in file exports.
execute_process(COMMAND ${NM} -D --defined-only ${MODULE}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${MODULE}: ${errors}")
endif()
string(REGEX REPLACE "\n$" "" symbols "${symbols}")
string(REPLACE "\n" ";" lines "${symbols}")
set(exported "")
foreach(line IN LISTS lines)
  # "<address> <type> <name>"
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
  list(APPEND exported "${name}")
endforeach()
if(NOT exported STREQUAL "EntryPointFunc")
  message(FATAL_ERROR "${MODULE} exports [${exported}], expected only EntryPointFunc")
endif()
