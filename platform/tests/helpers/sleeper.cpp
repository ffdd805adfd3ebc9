// Test helper: waits until its standard input is closed, then exits with the
// code given as its first argument (0 without one). Tests end it by closing
// the pipe, so nothing depends on timing.
#include <unistd.h>

#include <cstdlib>

int main(int argc, char** argv) {
    char buffer[64];
    while (read(0, buffer, sizeof buffer) > 0) {
    }
    return argc > 1 ? std::atoi(argv[1]) : 0;
}
