#include "base/pubdef.h"

#include <ctime>

namespace vantrelle {

std::tm PubDef::LocalNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

}  // namespace vantrelle
