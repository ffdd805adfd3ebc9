// Tests that only root can set up: they give files to other users or run
// processes as them. Run by any other user they are skipped, and say why,
// rather than fail at their first step.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

namespace needsroot {

inline constexpr const char* kFile = "gives a file to another user";
inline constexpr const char* kProcess = "runs a process as another user";
inline constexpr const char* kFileAndProcess = "gives a file to another user and runs a process as that user";

inline bool missing() {
    return ::geteuid() != 0;
}

}  // namespace needsroot

// Skips the rest of the test where it does not run as root; `why` is one of
// needsroot's reasons. Run as root, the test fails there instead: ctest
// counts a skip as a pass (and takes gtest's skip line for a skip, whatever
// the exit status), so a wrong missing() would skip every such test as root
// and fail nothing. That check asks geteuid() itself, not missing().
#define NEEDS_ROOT(why)                                                                    \
    if (!::needsroot::missing()) {                                                         \
    } else if (::geteuid() == 0) {                                                         \
        GTEST_FAIL() << "run as root, yet skipped for want of root (needs root: " << (why) \
                     << "): needsroot::missing() is wrong";                                \
    } else                                                                                 \
        GTEST_SKIP() << "needs root: " << (why)
