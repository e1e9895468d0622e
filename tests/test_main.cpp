// The tests' main: GoogleTest, with the window on no display where possible.
#include <gtest/gtest.h>

#include "headless.hpp"

int main(int argc, char** argv) {
  UseHeadlessVideo();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
