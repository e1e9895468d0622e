// The page's side of the web backend, for the tests under node, which link
// the backend but never open it (they name the null backend). Written as
// functions: emscripten's library format takes no arrow functions.
mergeInto(LibraryManager.library, {
  chain_page_open: function() { return 0; },
  chain_page_scale: function() { return 1; },
  chain_page_show: function() {},
  chain_page_present: function() {},
  chain_page_request_frame: function() {},
  chain_page_resting: function() {},
  chain_page_failure: function() {},
});
