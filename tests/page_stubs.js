// The page's side of the web backend, for the tests under node, which link
// the backend but never open it (they use the null backend).
mergeInto(LibraryManager.library, {
  chain_page_open: () => 0,
  chain_page_scale: () => 1,
  chain_page_show: () => {},
  chain_page_present: () => {},
  chain_page_request_frame: () => {},
  chain_page_resting: () => {},
  chain_page_failure: () => {},
});
