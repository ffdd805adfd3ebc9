// The quoted-printable decoding rules read one byte at a time, the plain form
// the coder's fast paths are checked against (by the tests and the fuzzer).
#pragma once

#include <cctype>
#include <cstdint>
#include <string>

namespace qpreference {

inline bool isHex(uint8_t c) {
    return std::isxdigit(c) != 0;
}

inline std::string decode(const std::string& in, bool dots) {
    std::string out;
    int expect = 0;  // the partner byte expected after a written break
    bool lineStart = true;
    size_t i = 0;
    while (i < in.size()) {
        uint8_t b = static_cast<uint8_t>(in[i++]);
        if (b == '\r' || b == '\n') {
            if (expect == b) {
                expect = 0;
            } else {
                out += "\r\n";
                expect = b == '\r' ? '\n' : '\r';
                lineStart = true;
            }
            continue;
        }
        expect = 0;
        if (b == '=') {
            int got = 0;
            uint8_t read[2] = {0, 0};
            while (got < 2 && i < in.size()) {
                read[got++] = static_cast<uint8_t>(in[i++]);
            }
            if (got == 2 && isHex(read[0]) && isHex(read[1])) {
                out +=
                    static_cast<char>(std::stoi(std::string(reinterpret_cast<char*>(read), 2), nullptr, 16));
                lineStart = false;
            } else if (got >= 1 && read[0] == '\r') {
                if (got == 2 && read[1] != '\n') {
                    --i;  // read again
                }
                lineStart = true;
            } else if (got >= 1 && read[0] == '\n') {
                if (got == 2) {
                    --i;
                }
                lineStart = true;
            } else {
                out += '=';
                for (int k = 0; k < got; ++k) {
                    if (read[k] != 0) {
                        out += static_cast<char>(read[k]);
                    }
                }
                lineStart = false;
            }
            continue;
        }
        if (dots && lineStart && b == '.') {
            lineStart = false;
            continue;
        }
        out += static_cast<char>(b);
        lineStart = false;
    }
    return out;
}

}  // namespace qpreference
