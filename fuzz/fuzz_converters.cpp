// The platform's own converters over arbitrary bytes: no fault, the same
// answer however input and output are split, and text that decodes encodes
// and decodes back to itself.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/tests/converter_feed.h"

namespace {

const char* const kPages[] = {"HZ-GB-2312", "ISO-2022-JP-1", "MACARABIC", "MACUKRAINE"};

using winplat::testing::Outcome;

Outcome run(const char* to, const char* from, const std::string& input, size_t cut, size_t room) {
    const Outcome o = winplat::testing::feed(to, from, input, cut, room);
    if (o.error == EBADF) {
        std::abort();
    }
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    const char* page = kPages[data[0] % std::size(kPages)];
    const size_t room = 8 + data[1] % 8;
    const std::string input(reinterpret_cast<const char*>(data + 2), size - 2);
    const size_t cut = data[size - 1] % (input.size() + 1);

    const Outcome decoded = run("UTF-16LE", page, input, input.size(), 4096);
    if (!(run("UTF-16LE", page, input, cut, room) == decoded)) {
        std::abort();
    }
    // The fuzz input read as UTF-16LE text to encode.
    const Outcome encoded = run(page, "UTF-16LE", input, input.size(), 4096);
    if (!(run(page, "UTF-16LE", input, cut & ~size_t{1}, room) == encoded)) {
        std::abort();
    }
    if (decoded.error == 0) {
        const Outcome again = run(page, "UTF-16LE", decoded.out, decoded.out.size(), 4096);
        if (again.error != 0 || run("UTF-16LE", page, again.out, again.out.size(), 4096).out != decoded.out) {
            std::abort();
        }
    }
    return 0;
}
