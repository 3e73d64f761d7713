// Entry of the test programs: they run only inside the sandbox prefix.
#include <gtest/gtest.h>

#include "support/sandbox.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing_support::RequireSandbox();
  return RUN_ALL_TESTS();
}
