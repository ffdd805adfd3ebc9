#include <gtest/gtest.h>

#include "winplat/inject.h"

namespace inj = winplat::inject;

TEST(Inject, ArmedFailureFiresAfterSkipAndForTimes) {
    inj::Scope scope;
    inj::arm("Foo", 42, 2, 1);
    int64_t code = 0;
    EXPECT_FALSE(inj::take("Foo", &code));
    EXPECT_TRUE(inj::take("Foo", &code));
    EXPECT_EQ(code, 42);
    EXPECT_TRUE(inj::take("Foo", &code));
    EXPECT_FALSE(inj::take("Foo", &code));
    EXPECT_FALSE(inj::take("Bar", &code));
    EXPECT_EQ(inj::calls("Foo"), 4);
    EXPECT_EQ(inj::calls("Bar"), 1);
}

TEST(Inject, AlwaysUntilReset) {
    inj::Scope scope;
    inj::arm("Baz", 7, -1);
    int64_t code = 0;
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(inj::take("Baz", &code));
    }
    inj::reset();
    EXPECT_FALSE(inj::take("Baz", &code));
    EXPECT_EQ(inj::calls("Baz"), 1);
}
