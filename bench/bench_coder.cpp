// Base64 and quoted-printable throughput of the coder, with OpenSSL's block
// coder as the Base64 peer in the same run. Base64 is measured in the form
// without line breaks, and decoded from text without newlines, like the peer.
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
    for (auto _ : state) {
        Coder::encodeBase64(in, out, false);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

void Base64EncodeLines_Coder(benchmark::State& state) {
    const std::string& in = randomBytes();
    std::string out;
    for (auto _ : state) {
        Coder::encodeBase64(in, out, true);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

void Base64Encode_OpenSSL(benchmark::State& state) {
    const std::string& in = randomBytes();
    std::vector<unsigned char> out(4 * (in.size() / 3 + 1) + 1);
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
    for (auto _ : state) {
        Coder::decodeBase64(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

void Base64Decode_OpenSSL(benchmark::State& state) {
    const std::string& in = base64Text();
    std::vector<unsigned char> out(in.size() / 4 * 3 + 3);
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
    for (auto _ : state) {
        Coder::encodeQP(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

void QpDecode_Coder(benchmark::State& state) {
    const std::string& in = qpText();
    std::string out;
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

BENCHMARK_MAIN();
