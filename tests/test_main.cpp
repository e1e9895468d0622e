// The tests' main: GoogleTest, with the null display as the tests expect it.
#include <gtest/gtest.h>

#include "headless.hpp"
#include "window/process.hpp"

int main(int argc, char** argv) {
  window::SetProgramName("chain");
  UseNullDisplay();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
