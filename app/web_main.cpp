// chain in a web page: chain.mjs instantiates the program once for each
// canvas and calls chain_start, which opens Form1 on it. The form's frames
// then run in the page's animation frames, after chain_start has returned,
// so the form is never deleted: it lives as long as its instance.
#include <emscripten.h>

#include <cstdlib>
#include <exception>
#include <string>

#include "form1.hpp"
#include "window/process.hpp"

// The page is built without exception handling: the only instructions this
// toolchain makes for it (try, catch, delegate) are the deprecated first
// kind, which browsers warn of and will drop. So a throw cannot be caught;
// it ends here instead, in the runtime's two entry points for it (weak in
// the C library, which would end the instance with no word): the failure's
// line is reported, then the instance traps and chain.mjs stops it. Every
// throw on the page's path is of a std::exception, the first base at
// offset 0 of each class thrown.
extern "C" void* __cxa_allocate_exception(std::size_t size) noexcept {
  if (void* thrown = std::malloc(size)) return thrown;
  window::ReportFailure("chain: out of memory");
  __builtin_trap();
}

extern "C" [[noreturn]] void __cxa_throw(void* thrown, void*, void (*)(void*)) {
  window::ReportFailure(std::string("chain: ") + static_cast<std::exception*>(thrown)->what());
  __builtin_trap();
}

/// 0 once the window shows; a failure has been reported and trapped.
extern "C" EMSCRIPTEN_KEEPALIVE int chain_start() {
  window::SetProgramName("chain");
  auto* form = new app::Form1;
  form->Form_Load();
  return 0;
}
