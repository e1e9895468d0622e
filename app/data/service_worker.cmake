# Writes sw.js from its template (TEMPLATE to OUT) with the page's files
# (FILES, in DIR) and the hash of their contents, which names the build's cache.
include(${CMAKE_CURRENT_LIST_DIR}/page_text.cmake)
set(hashes "")
set(names "")
foreach(file IN LISTS FILES)
  file(SHA256 ${DIR}/${file} hash)
  string(APPEND hashes ${hash})
  list(APPEND names "'${file}'")
endforeach()
string(SHA256 CHAIN_PAGE_HASH "${hashes}")
string(SUBSTRING ${CHAIN_PAGE_HASH} 0 16 CHAIN_PAGE_HASH)
list(JOIN names ", " CHAIN_PAGE_FILES)
chain_page_text(${TEMPLATE} ${OUT} "${HEADER}")
