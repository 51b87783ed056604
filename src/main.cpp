#include "run/main_module.h"

int main(int argc, char** argv) { return vantrelle::Main(argc, argv); }
