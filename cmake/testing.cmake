# GoogleTest for every build, and the one way a test program becomes CTest
# tests. Included once, from tests/CMakeLists.txt.
include(GoogleTest)

if(CMAKE_CROSSCOMPILING)
  # No GoogleTest is packaged for the cross compiler, but Debian ships its
  # sources with libgtest-dev: build them with the same compiler and flags as
  # the code under test.
  set(QV_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
  if(NOT EXISTS ${QV_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${QV_GTEST_SOURCE_DIR}: install libgtest-dev "
                        "and libgmock-dev (scripts/install-deps.sh)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${QV_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  foreach(library gtest gtest_main gmock gmock_main)
    # Not our code: its warnings are not ours to fail on.
    target_compile_options(${library} PRIVATE -w)
    # Recent GoogleTest makes these names itself; older releases do not.
    if(NOT TARGET GTest::${library})
      add_library(GTest::${library} ALIAS ${library})
    endif()
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()

# Seconds a single test program may run before CTest stops it. Under an
# emulator a whole program is one test, so it gets the emulator's start-up on
# top of all its cases.
set(QV_TEST_TIMEOUT 300)

# Registers the GoogleTest program `target` with CTest. Natively each case is
# its own test (named <PREFIX><Suite>.<Case>). Under an emulator such as Wine,
# where starting a process costs seconds, the whole program is one test named
# <PREFIX><target>, and nothing runs at build time.
#   qv_add_gtest(<target> [PREFIX <prefix>])
function(qv_add_gtest target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "PREFIX" "")
  if(CMAKE_CROSSCOMPILING)
    # A target name as the command gets the target's emulator in front of it.
    add_test(NAME ${arg_PREFIX}${target} COMMAND ${target})
    set_tests_properties(${arg_PREFIX}${target} PROPERTIES TIMEOUT ${QV_TEST_TIMEOUT})
  else()
    gtest_discover_tests(${target} TEST_PREFIX "${arg_PREFIX}"
                         PROPERTIES TIMEOUT ${QV_TEST_TIMEOUT})
  endif()
endfunction()
