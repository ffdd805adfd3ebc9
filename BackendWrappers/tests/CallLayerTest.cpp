#include <gtest/gtest.h>

#include "BackendWrappers/OutOfThreadCaller.h"

TEST(CallLayerSmoke, Direct) {
    auto caller = BackendWrappers::OutOfThreadCaller::instance();
    EXPECT_EQ(caller->call(true, [] { return S_FALSE; }), S_FALSE);
    EXPECT_EQ(caller->call(false, [] { return S_FALSE; }), S_FALSE);
}
