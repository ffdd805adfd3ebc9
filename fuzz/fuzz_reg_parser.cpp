// The `.reg` parser takes any bytes without crashing, and what it accepts it
// writes in a form that reads back to the same text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "winplat/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error, canonical;
    if (!winplat::registry::parseText(data, size, &error, &canonical)) {
        if (error.rfind("line ", 0) != 0) {
            std::fprintf(stderr, "error without a line number: %s\n", error.c_str());
            std::abort();
        }
        return 0;
    }
    std::string again;
    if (!winplat::registry::parseText(canonical.data(), canonical.size(), &error, &again)) {
        std::fprintf(stderr, "the written form does not parse: %s\n%s\n", error.c_str(), canonical.c_str());
        std::abort();
    }
    if (again != canonical) {
        std::fprintf(stderr, "the written form changes when read back:\n%s\n---\n%s\n", canonical.c_str(),
                     again.c_str());
        std::abort();
    }
    return 0;
}
