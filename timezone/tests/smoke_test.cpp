#include <gtest/gtest.h>
#include "timezone/DateTime.h"
TEST(Smoke, Builds) { EXPECT_EQ(tavlo::timezone::DateTime(0).format(1), "1970-01-01T00:00:00Z"); }
