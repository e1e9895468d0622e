# What a user downloads, checked where it is built:
#   cmake -DFILE=chain.exe -DMOST=1048576 -P artefact_check.cmake   at most MOST bytes
#   cmake -DZIP=page.zip "-DHOLDS=a;b;c" -P artefact_check.cmake     exactly these entries
if(DEFINED FILE)
  file(SIZE ${FILE} bytes)
  if(bytes GREATER MOST)
    message(FATAL_ERROR "${FILE} is ${bytes} bytes, over ${MOST}")
  endif()
  message(STATUS "${FILE}: ${bytes} bytes, at most ${MOST}")
endif()
if(DEFINED ZIP)
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${ZIP} OUTPUT_VARIABLE listed
                  RESULT_VARIABLE status)
  string(REGEX REPLACE "\n$" "" listed "${listed}")
  string(REPLACE "\n" ";" listed "${listed}")
  list(SORT listed)
  set(expected ${HOLDS})
  list(SORT expected)
  if(status OR NOT listed STREQUAL expected)
    message(FATAL_ERROR "${ZIP} holds ${listed}, not ${expected}")
  endif()
  message(STATUS "${ZIP} holds the ${HOLDS}")
endif()
