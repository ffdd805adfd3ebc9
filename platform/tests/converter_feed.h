// Drives a converter as a streaming caller does, for the converter tests and
// the converter fuzz target.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string>
#include <vector>

#include "winplat/converter.h"

namespace winplat::testing {

struct Outcome {
    std::string out;
    int error = 0;      // errno of the call that stopped, or EBADF: not opened
    size_t offset = 0;  // input bytes consumed
    bool operator==(const Outcome&) const = default;
};

// Feeds `input` as two pieces cut at `cut` through an output buffer of `room`
// bytes: E2BIG drains the buffer, EINVAL waits for the next piece, the end
// returns to the initial state.
inline Outcome feed(const std::string& to, const std::string& from, const std::string& input, size_t cut,
                    size_t room) {
    Converter conv(to.c_str(), from.c_str());
    Outcome o;
    if (!conv.ok()) {
        o.error = EBADF;
        return o;
    }
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

}  // namespace winplat::testing
