# The native build renders the fixed frames and writes them; the cross build's
# program renders them under the emulator and compares.
#   cmake -DNATIVE_PROGRAM=<program> -DEMULATOR=<wrapper> -DPROGRAM=<program.exe>
#         -DFRAMES=<file> -P cross_build_check.cmake
foreach(variable NATIVE_PROGRAM EMULATOR PROGRAM FRAMES)
  if(NOT ${variable})
    message(FATAL_ERROR "cross_build_check.cmake needs -D${variable}=")
  endif()
endforeach()
if(NOT EXISTS ${NATIVE_PROGRAM})
  message(FATAL_ERROR "${NATIVE_PROGRAM} does not exist: build the Linux preset first (make test does)")
endif()

file(REMOVE ${FRAMES})
execute_process(COMMAND ${NATIVE_PROGRAM} write ${FRAMES} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the Linux build could not render the frames (${result})")
endif()
execute_process(COMMAND ${EMULATOR} ${PROGRAM} compare ${FRAMES} RESULT_VARIABLE result)
file(REMOVE ${FRAMES})
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the Windows build's frames are not those of the Linux build (${result})")
endif()
