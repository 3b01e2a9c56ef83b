// placeholder
#include <gtest/gtest.h>
#include "run/runflags.h"
TEST(CommandLine, Builds) { EXPECT_EQ(RUN_ONLY_MASK, 0x3C060000u); }
