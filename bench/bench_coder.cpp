// Base64 and quoted-printable throughput of the coder, with a peer for each in
// the same run: OpenSSL's block coder for Base64 (measured without line
// breaks, like the peer), and a plain byte loop that decodes "=XX" escapes and
// soft breaks for quoted-printable. Every benchmark warms up first and reuses
// its output buffer, so a plain run reports steady state.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "CommonBase/Coder.h"

namespace {

constexpr size_t kSize = 64u << 20;

const std::string& randomBytes() {
    static const std::string data = [] {
        std::string s(kSize, '\0');
        std::mt19937_64 random(42);
        for (size_t i = 0; i < s.size(); i += 8) {
            uint64_t v = random();
            std::memcpy(&s[i], &v, 8);
        }
        return s;
    }();
    return data;
}

// Mail-like text: mostly printable words, line breaks every 60-80
// characters, a few '=' signs, tabs and 8-bit characters.
const std::string& mixedText() {
    static const std::string text = [] {
        std::string s;
        s.reserve(kSize);
        std::mt19937 random(7);
        size_t column = 0;
        while (s.size() < kSize) {
            unsigned r = random() % 100;
            char c;
            if (r < 80) {
                c = static_cast<char>('a' + random() % 26);
            } else if (r < 92) {
                c = ' ';
            } else if (r < 95) {
                c = static_cast<char>(0xC0 + random() % 64);
            } else if (r < 97) {
                c = '=';
            } else if (r < 98) {
                c = '\t';
            } else {
                c = static_cast<char>('0' + random() % 10);
            }
            s += c;
            if (++column >= 60 + random() % 20) {
                s += "\r\n";
                column = 0;
            }
        }
        s.resize(kSize);
        return s;
    }();
    return text;
}

const std::string& base64Text() {
    static const std::string text = [] {
        std::string out;
        Coder::encodeBase64(randomBytes(), out, false);
        return out;
    }();
    return text;
}

const std::string& qpText() {
    static const std::string text = [] {
        std::string out;
        Coder::encodeQP(mixedText(), out);
        return out;
    }();
    return text;
}

void Base64Encode_Coder(benchmark::State& state) {
    const std::string& in = randomBytes();
    std::string out;
    Coder::encodeBase64(in, out, false);  // untimed: grows the output, faults its pages in
    for (auto _ : state) {
        Coder::encodeBase64(in, out, false);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

void Base64EncodeLines_Coder(benchmark::State& state) {
    const std::string& in = randomBytes();
    std::string out;
    Coder::encodeBase64(in, out, true);  // untimed: grows the output, faults its pages in
    for (auto _ : state) {
        Coder::encodeBase64(in, out, true);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

void Base64Encode_OpenSSL(benchmark::State& state) {
    const std::string& in = randomBytes();
    std::vector<unsigned char> out(4 * (in.size() / 3 + 1) + 1);
    // Untimed: faults the output's pages in.
    EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char*>(in.data()),
                    static_cast<int>(in.size()));
    for (auto _ : state) {
        int n = EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char*>(in.data()),
                                static_cast<int>(in.size()));
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

void Base64Decode_Coder(benchmark::State& state) {
    const std::string& in = base64Text();
    std::string out;
    Coder::decodeBase64(in, out);  // untimed: grows the output, faults its pages in
    for (auto _ : state) {
        Coder::decodeBase64(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

void Base64Decode_OpenSSL(benchmark::State& state) {
    const std::string& in = base64Text();
    std::vector<unsigned char> out(in.size() / 4 * 3 + 3);
    // Untimed: faults the output's pages in.
    EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(in.data()),
                    static_cast<int>(in.size()));
    for (auto _ : state) {
        int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(in.data()),
                                static_cast<int>(in.size()));
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

void QpEncode_Coder(benchmark::State& state) {
    const std::string& in = mixedText();
    std::string out;
    Coder::encodeQP(in, out);  // untimed: grows the output, faults its pages in
    for (auto _ : state) {
        Coder::encodeQP(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

// The straightforward decoder: one byte at a time into a buffer sized once.
size_t qpDecodeLoop(const std::string& in, char* out) {
    auto hex = [](unsigned char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                      : -1;
    };
    const unsigned char* p = reinterpret_cast<const unsigned char*>(in.data());
    const size_t n = in.size();
    char* o = out;
    size_t i = 0;
    while (i < n) {
        unsigned char c = p[i];
        if (c == '=' && i + 2 < n) {
            if (p[i + 1] == '\r' && p[i + 2] == '\n') {
                i += 3;
                continue;
            }
            int hi = hex(p[i + 1]);
            int lo = hex(p[i + 2]);
            if (hi >= 0 && lo >= 0) {
                *o++ = static_cast<char>((hi << 4) | lo);
                i += 3;
                continue;
            }
        }
        *o++ = static_cast<char>(c);
        ++i;
    }
    return static_cast<size_t>(o - out);
}

void QpDecode_Loop(benchmark::State& state) {
    const std::string& in = qpText();
    std::vector<char> out(in.size());
    qpDecodeLoop(in, out.data());  // untimed: faults the output's pages in
    for (auto _ : state) {
        size_t n = qpDecodeLoop(in, out.data());
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

void QpDecode_Coder(benchmark::State& state) {
    const std::string& in = qpText();
    std::string out;
    Coder::decodeQP(in, out);  // untimed: grows the output, faults its pages in
    for (auto _ : state) {
        Coder::decodeQP(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

}  // namespace

BENCHMARK(Base64Encode_Coder)->Unit(benchmark::kMillisecond);
BENCHMARK(Base64Encode_OpenSSL)->Unit(benchmark::kMillisecond);
BENCHMARK(Base64EncodeLines_Coder)->Unit(benchmark::kMillisecond);
BENCHMARK(Base64Decode_Coder)->Unit(benchmark::kMillisecond);
BENCHMARK(Base64Decode_OpenSSL)->Unit(benchmark::kMillisecond);
BENCHMARK(QpEncode_Coder)->Unit(benchmark::kMillisecond);
BENCHMARK(QpDecode_Coder)->Unit(benchmark::kMillisecond);
BENCHMARK(QpDecode_Loop)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
