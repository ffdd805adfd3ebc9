// The narrow main glue: UTF-8 arguments reach main in the ANSI code page.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "winplat/console.h"

namespace {

std::vector<std::string> received;
bool terminated = false;

int recordingMain(int argc, char** argv) {
    received.assign(argv, argv + argc);
    terminated = argv[argc] == nullptr;
    return static_cast<int>(0x80070057u);
}

}  // namespace

TEST(AnsiMain, ArgumentsArriveInTheAnsiCodePage) {
    char a0[] = "Storeset_7_1";
    char a1[] =
        "/profile=Postf\xC3\xA4"
        "cher \xE2\x82\xAC";                     // a-umlaut, euro sign
    char a2[] = "\xE4\xB8\xAD\xF0\x9F\x98\x80";  // outside the code page
    char a3[] = "";
    char* argv[] = {a0, a1, a2, a3, nullptr};
    // The result maps as runWmain's does: E_INVALIDARG exits with its low byte.
    EXPECT_EQ(winplat::runAnsiMain(4, argv, recordingMain), 0x57);
    ASSERT_EQ(received.size(), 4u);
    EXPECT_EQ(received[0], "Storeset_7_1");
    EXPECT_EQ(received[1],
              "/profile=Postf\xE4"
              "cher \x80");
    EXPECT_EQ(received[2], "???");  // the default character per UTF-16 unit
    EXPECT_EQ(received[3], "");
    EXPECT_TRUE(terminated);
}
