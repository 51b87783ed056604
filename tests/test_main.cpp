#include <clocale>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  // Tests pin the locale they need; the default is the process environment's.
  std::setlocale(LC_ALL, "");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
