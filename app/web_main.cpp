// chain in a web page: chain.mjs instantiates the program once for each
// canvas and calls chain_start, which opens Form1 on it. The form's frames
// then run in the page's animation frames, after chain_start has returned,
// so the form is never deleted: it lives as long as its instance.
#include <emscripten.h>

#include <exception>
#include <string>

#include "form1.hpp"
#include "window/process.hpp"

/// 0 once the window shows; 1 after a failure, which has been reported.
extern "C" EMSCRIPTEN_KEEPALIVE int chain_start() {
  app::Form1* form = nullptr;
  try {
    form = new app::Form1;
    form->Form_Load();
    return 0;
  } catch (const std::exception& e) {
    delete form;
    window::ReportFailure(std::string("chain: ") + e.what());
    return 1;
  }
}
