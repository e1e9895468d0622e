# Runs chain-replay on a mouse path and compares its output with the
# recorded one, byte for byte. Usage:
#   cmake [-DEMULATOR=wine] -DREPLAY=<chain-replay> -DPATH_FILE=<x.path> -DEXPECTED=<x.expected>
#         -P compare.cmake
execute_process(COMMAND ${EMULATOR} "${REPLAY}" INPUT_FILE "${PATH_FILE}"
                OUTPUT_VARIABLE actual ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "chain-replay failed (${status}): ${errors}")
endif()
file(READ "${EXPECTED}" expected)
if(NOT actual STREQUAL expected)
  string(REPLACE "\n" ";" actual_lines "${actual}")
  string(REPLACE "\n" ";" expected_lines "${expected}")
  set(index 0)
  foreach(line IN LISTS expected_lines)
    list(GET actual_lines ${index} got)
    if(NOT got STREQUAL line)
      message(FATAL_ERROR "point ${index} differs: expected '${line}', got '${got}'\nwhole output:\n${actual}")
    endif()
    math(EXPR index "${index} + 1")
  endforeach()
  message(FATAL_ERROR "output differs in length:\n${actual}")
endif()
