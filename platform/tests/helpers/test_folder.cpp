// Test helper: makes a fresh test folder (test_folder.h), its name the prefix
// given as the only argument, and prints its path: the shell tests make
// theirs where the C++ tests make theirs.
#include <cstdio>
#include <exception>

#include "../test_folder.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: test_folder <prefix>\n");
        return 2;
    }
    try {
        std::printf("%s\n", testfolder::fresh(argv[1]).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "test_folder: %s\n", e.what());
        return 1;
    }
    return 0;
}
