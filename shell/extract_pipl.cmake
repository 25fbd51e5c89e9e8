# Writes the registration resource held by the object file of
# pipl_resource_data.cpp to a file for the resource compiler: the bytes of
# section .pipl, cut to the length stored in section .pipllen.
#   cmake -DOBJCOPY=<objcopy> -DOBJECT=<object file> -DOUTPUT=<file> -P extract_pipl.cmake
foreach(variable OBJCOPY OBJECT OUTPUT)
  if(NOT ${variable})
    message(FATAL_ERROR "extract_pipl.cmake needs -D${variable}=")
  endif()
endforeach()

set(padded ${OUTPUT}.padded)
set(length_file ${OUTPUT}.length)
file(REMOVE ${OUTPUT} ${padded} ${length_file})
execute_process(
  COMMAND ${OBJCOPY} --dump-section .pipl=${padded} --dump-section .pipllen=${length_file}
          ${OBJECT} ${OUTPUT}.scratch
  RESULT_VARIABLE result ERROR_VARIABLE errors)
file(REMOVE ${OUTPUT}.scratch)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJCOPY} could not read the resource sections of ${OBJECT}: ${errors}")
endif()

# The length: a little-endian 32-bit word.
file(READ ${length_file} length_hex LIMIT 4 HEX)
string(LENGTH "${length_hex}" digits)
if(NOT digits EQUAL 8)
  message(FATAL_ERROR "section .pipllen of ${OBJECT} is shorter than a 32-bit length")
endif()
string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" length_hex "${length_hex}")
math(EXPR length "0x${length_hex}")

# Everything past the length must be the section's zero padding.
file(SIZE ${padded} padded_size)
if(length EQUAL 0 OR length GREATER padded_size)
  message(FATAL_ERROR "resource length ${length} does not fit section .pipl (${padded_size} bytes)")
endif()
file(READ ${padded} tail OFFSET ${length} HEX)
if(NOT tail MATCHES "^(00)*$")
  message(FATAL_ERROR "section .pipl of ${OBJECT} holds more than ${length} bytes of resource")
endif()

execute_process(COMMAND head -c ${length} ${padded} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE result)
file(REMOVE ${padded} ${length_file})
if(NOT result EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "could not write ${OUTPUT}")
endif()
