# The page's service worker names its cache by its files' contents: the same
# files give the same name, and a change to any one of them another, so that
# an update is fetched and the old files leave.
#   cmake -DSCRIPT=service_worker.cmake -DTEMPLATE=sw.js.in -DWORK=dir -P page_cache_name.cmake
function(cache_name out)
  execute_process(COMMAND ${CMAKE_COMMAND} -DTEMPLATE=${TEMPLATE} -DOUT=${WORK}/sw.js -DDIR=${WORK}
                          "-DFILES=page.js;chain.wasm" -DCHAIN_VERSION_STRING=0 -DHEADER=x -P ${SCRIPT}
                  RESULT_VARIABLE status)
  file(STRINGS ${WORK}/sw.js line REGEX "^const cache ")
  if(status OR NOT line MATCHES "'[0-9a-f]+'")
    message(FATAL_ERROR "no cache name written (${status}): ${line}")
  endif()
  set(${out} "${line}" PARENT_SCOPE)
endfunction()

file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/page.js "one")
file(WRITE ${WORK}/chain.wasm "two")
cache_name(first)
cache_name(again)
file(WRITE ${WORK}/chain.wasm "two, rebuilt")
cache_name(changed)
if(NOT first STREQUAL again OR first STREQUAL changed)
  message(FATAL_ERROR "cache names: ${first} | ${again} | ${changed}")
endif()
message(STATUS "same files, same name; another chain.wasm, another name")
