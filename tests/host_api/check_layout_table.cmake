# Fails when our copy of the layout table differs from the shared one.
# Usage: cmake -DOURS=... -DSHARED=... -P check_layout_table.cmake
if(NOT EXISTS "${SHARED}")
  # A clone on its own has no shared folder beside it: nothing to compare.
  message("skipped: no shared layout table at ${SHARED}")
  return()
endif()
file(READ "${OURS}" ours)
file(READ "${SHARED}" shared)
if(NOT ours STREQUAL shared)
  message(FATAL_ERROR "${OURS} differs from ${SHARED}: copy the shared table over ours and rebuild, "
                      "so that the compile-time checks follow it")
endif()
message(STATUS "the layout table is the shared one")
