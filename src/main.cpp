#include <iostream>
#include <new>
#include <system_error>

#include "base/run_stop.h"
#include "run/main_module.h"

#ifdef VANTRELLE_HAVE_GUI
#include "ui/window_main.h"
#endif

// Before main: a stop signal that comes while the program starts waits for
// the thread that takes stop signals instead of ending the run unheard.
__attribute__((constructor)) static void HoldStopSignalsAtStart() {
  vantrelle::HoldStopSignals();
}

int main(int argc, char** argv) {
  try {
#ifdef VANTRELLE_HAVE_GUI
    return vantrelle::Main(argc, argv, &vantrelle::WindowMain);
#else
    return vantrelle::Main(argc, argv, nullptr);
#endif
  } catch (const std::system_error& error) {
    std::cerr << "vantrelle: " << error.what() << "\n";
  } catch (const std::bad_alloc&) {
    std::cerr << "vantrelle: out of memory while starting; nothing was run.\n";
  }
  return 2;
}
