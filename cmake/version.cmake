# The version as users see it: major.minor of the project's version record,
# the minor in two digits ("1.00" for 1.0.0.0). Included by CMakeLists.txt,
# whose project() call holds the record; run as a script, it prints the
# string for the recipes in tools/:
#   cmake -P cmake/version.cmake
function(chain_version_string major minor out)
  string(LENGTH "${minor}" length)
  if(length EQUAL 1)
    set(${out} "${major}.0${minor}" PARENT_SCOPE)
  else()
    set(${out} "${major}.${minor}" PARENT_SCOPE)
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  file(READ ${CMAKE_CURRENT_LIST_DIR}/../CMakeLists.txt top)
  if(NOT top MATCHES "project\\(chain VERSION ([0-9]+)\\.([0-9]+)")
    message(FATAL_ERROR "no project(chain VERSION ...) in CMakeLists.txt")
  endif()
  chain_version_string(${CMAKE_MATCH_1} ${CMAKE_MATCH_2} version)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${version}")
endif()
