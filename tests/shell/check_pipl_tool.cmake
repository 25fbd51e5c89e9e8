# The resource file the tool writes for the Windows resource compiler must be
# byte for byte the ".pipl" section of the Linux plug-in.
set(from_tool ${WORK_DIR}/pipl_from_tool.bin)
set(from_module ${WORK_DIR}/pipl_from_module.bin)
file(REMOVE ${from_tool} ${from_module})
execute_process(COMMAND ${TOOL} ${from_tool} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${TOOL} failed: ${result}")
endif()
execute_process(COMMAND ${OBJCOPY} -O binary --only-section=.pipl ${MODULE} ${from_module}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "objcopy failed on ${MODULE}: ${result}")
endif()
file(SIZE ${from_tool} size)
if(size EQUAL 0)
  message(FATAL_ERROR "the tool wrote an empty resource")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${from_tool} ${from_module}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${from_tool} differs from the .pipl section of ${MODULE}")
endif()
