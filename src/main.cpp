#include "run/main_module.h"

#ifdef VANTRELLE_HAVE_GUI
#include "ui/window_main.h"
#endif

int main(int argc, char** argv) {
#ifdef VANTRELLE_HAVE_GUI
  return vantrelle::Main(argc, argv, &vantrelle::WindowMain);
#else
  return vantrelle::Main(argc, argv, nullptr);
#endif
}
