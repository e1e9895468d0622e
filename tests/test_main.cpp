// The tests' main: GoogleTest, with the null display as the tests expect it.
#include <gtest/gtest.h>

#include "headless.hpp"

int main(int argc, char** argv) {
  UseNullDisplay();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
