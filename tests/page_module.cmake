# What the page sends before its first picture, checked where it is built:
# at most 64 KB, and a module every browser runs without a warning, which
# means none of the first, deprecated exception-handling instructions.
#   cmake -DWASM_DIS=wasm-dis -DDIR=build/web -P page_module.cmake
# (chain.mjs's code is inline in index.html; the file is fetched only where a
# host's policy refuses inline scripts.)
set(size 0)
foreach(file index.html page.js chain.wasm)
  file(SIZE ${DIR}/${file} bytes)
  math(EXPR size "${size} + ${bytes}")
endforeach()
if(size GREATER 65536)
  message(FATAL_ERROR "the page is ${size} bytes to its first picture, over 64 KB")
endif()
execute_process(COMMAND ${WASM_DIS} ${DIR}/chain.wasm OUTPUT_VARIABLE text RESULT_VARIABLE status)
if(status OR NOT text MATCHES "\\(func ")
  message(FATAL_ERROR "cannot read chain.wasm's code: ${status}")
endif()
string(REGEX MATCHALL "\\((try|catch|catch_all|delegate|rethrow)[ )\n]" legacy "${text}")
if(legacy)
  list(REMOVE_DUPLICATES legacy)
  message(FATAL_ERROR "chain.wasm holds legacy exception handling: ${legacy}")
endif()
message(STATUS "${size} bytes to the first picture; no legacy exception handling")
