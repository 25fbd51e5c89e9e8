# The plug-in's identity as shell/plugin_facts.h declares it, read for what the
# build writes about the plug-in: the project's version (and with it the
# package's and the release archive's names and the tool's --version), the man
# page and the archive's INSTALL.txt. The header stays the one place these facts
# are written. Included before project(); sets
#   QV_VERSION_MAJOR, QV_VERSION_MINOR, QV_VERSION_BUGFIX, QV_VERSION (M.m.b)
#   QV_PLUGIN_NAME, QV_PLUGIN_CATEGORY, QV_PLUGIN_MATCH_NAME
include_guard(GLOBAL)

set(QV_PLUGIN_FACTS_FILE ${CMAKE_CURRENT_LIST_DIR}/../shell/plugin_facts.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QV_PLUGIN_FACTS_FILE})
file(READ ${QV_PLUGIN_FACTS_FILE} qv_plugin_facts)

# Sets `variable` to the value the header gives the constant `name`, whose
# value matches `pattern` (one capture group); a header that no longer says it
# that way stops the configuration rather than leaving a stale copy.
function(qv_read_fact variable name pattern)
  if(NOT qv_plugin_facts MATCHES "inline constexpr [^=;]* ${name} = ${pattern};")
    message(FATAL_ERROR "${QV_PLUGIN_FACTS_FILE} does not declare ${name} as this file expects")
  endif()
  set(${variable} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

qv_read_fact(QV_VERSION_MAJOR kMajorVersion "([0-9]+)")
qv_read_fact(QV_VERSION_MINOR kMinorVersion "([0-9]+)")
qv_read_fact(QV_VERSION_BUGFIX kBugfixVersion "([0-9]+)")
set(QV_VERSION ${QV_VERSION_MAJOR}.${QV_VERSION_MINOR}.${QV_VERSION_BUGFIX})
qv_read_fact(QV_PLUGIN_NAME kName "\"([^\"]+)\"")
qv_read_fact(QV_PLUGIN_CATEGORY kCategory "\"([^\"]+)\"")
qv_read_fact(QV_PLUGIN_MATCH_NAME kMatchName "\"([^\"]+)\"")
