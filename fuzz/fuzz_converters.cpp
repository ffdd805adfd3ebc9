// The platform's own converters over arbitrary bytes: no fault, the same
// answer however input and output are split, and text that decodes encodes
// and decodes back to itself.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "winplat/converter.h"

namespace {

const char* const kPages[] = {"HZ-GB-2312", "ISO-2022-JP-1", "MACARABIC", "MACUKRAINE"};

struct Outcome {
    std::string out;
    int error = 0;
    size_t offset = 0;
    bool operator==(const Outcome&) const = default;
};

// Two pieces cut at `cut`, an output buffer of `room` bytes.
Outcome run(const char* to, const char* from, const std::string& input, size_t cut, size_t room) {
    winplat::Converter conv(to, from);
    if (!conv.ok()) {
        std::abort();
    }
    Outcome o;
    std::vector<char> buffer(room);
    auto drain = [&](char** in, size_t* left) {
        while (true) {
            char* out = buffer.data();
            size_t outLeft = room;
            const size_t r = conv.convert(in, left, &out, &outLeft);
            const int error = r == static_cast<size_t>(-1) ? errno : 0;
            o.out.append(buffer.data(), room - outLeft);
            if (error != E2BIG || outLeft == room) {
                return error;
            }
        }
    };
    std::string pending;
    for (size_t start = 0; size_t end : {cut, input.size()}) {
        pending += input.substr(start, end - start);
        start = end;
        char* in = pending.data();
        size_t left = pending.size();
        const int error = drain(&in, &left);
        o.offset += pending.size() - left;
        pending.erase(0, pending.size() - left);
        if (error != 0 && !(error == EINVAL && end < input.size())) {
            o.error = error;
            return o;
        }
    }
    o.error = drain(nullptr, nullptr);
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
