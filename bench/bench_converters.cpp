// The platform's own converters on 64 KiB of text, each beside the C
// library's converter of the nearest page as its peer: Mac Roman (a table of
// ours) beside MACINTOSH, HZ beside EUC-CN and ISO-2022-JP-1 beside
// ISO-2022-JP-2 over the same characters, both ways. The converter and the
// buffers are reused, so a run shows the steady state.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "winplat/converter.h"

namespace {

constexpr size_t kTextBytes = 64 * 1024;

std::string repeat(const std::string& piece) {
    std::string text;
    while (text.size() + piece.size() <= kTextBytes) {
        text += piece;
    }
    return text;
}

// One line of mixed text in each page: Latin with accents; "Zhongwen" and
// ASCII; Japanese with a JIS X 0212 letter.
const std::string kMacRoman = repeat(
    "Caf\x8E cr\x8F"
    "me br\x9Bl\x8E"
    "e \xA5 na\x95"
    "ve\r");
const std::string kHz = repeat("GB ~{VPND~} text ~{VPND~}\n");
const std::string kEucCn = repeat("GB \xD6\xD0\xCE\xC4 text \xD6\xD0\xCE\xC4\n");
const std::string kJp1 = repeat("JIS \x1b$BCf\x1b$(D+1\x1b(B text \x1b$BCf\x1b(B\n");

void convertAll(benchmark::State& state, const char* to, const char* from, const std::string& input) {
    winplat::Converter conv(to, from);
    if (!conv.ok()) {
        state.SkipWithError("no converter");
        return;
    }
    std::string in = input;
    std::vector<char> out(4 * in.size() + 16);
    for (auto _ : state) {
        char* inPtr = in.data();
        size_t inLeft = in.size();
        char* outPtr = out.data();
        size_t outLeft = out.size();
        if (conv.convert(&inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) ||
            conv.convert(nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
            state.SkipWithError("conversion failed");
            return;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

// The same text as UTF-16LE, for the encoding runs.
std::string wide(const char* from, const std::string& input) {
    winplat::Converter conv("UTF-16LE", from);
    std::string in = input;
    std::string out(4 * in.size() + 16, '\0');
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    conv.convert(&inPtr, &inLeft, &outPtr, &outLeft);
    out.resize(out.size() - outLeft);
    return out;
}

void BM_DecodeMacRoman(benchmark::State& s) {
    convertAll(s, "UTF-16LE", "MACROMAN", kMacRoman);
}
void BM_DecodeMacintoshPeer(benchmark::State& s) {
    convertAll(s, "UTF-16LE", "MACINTOSH", kMacRoman);
}
void BM_DecodeHz(benchmark::State& s) {
    convertAll(s, "UTF-16LE", "HZ-GB-2312", kHz);
}
void BM_DecodeEucCnPeer(benchmark::State& s) {
    convertAll(s, "UTF-16LE", "EUC-CN", kEucCn);
}
void BM_DecodeIso2022Jp1(benchmark::State& s) {
    convertAll(s, "UTF-16LE", "ISO-2022-JP-1", kJp1);
}
void BM_DecodeIso2022Jp2Peer(benchmark::State& s) {
    convertAll(s, "UTF-16LE", "ISO-2022-JP-2", kJp1);
}
void BM_EncodeMacRoman(benchmark::State& s) {
    convertAll(s, "MACROMAN", "UTF-16LE", wide("MACROMAN", kMacRoman));
}
void BM_EncodeMacintoshPeer(benchmark::State& s) {
    convertAll(s, "MACINTOSH", "UTF-16LE", wide("MACROMAN", kMacRoman));
}
void BM_EncodeHz(benchmark::State& s) {
    convertAll(s, "HZ-GB-2312", "UTF-16LE", wide("HZ-GB-2312", kHz));
}
void BM_EncodeEucCnPeer(benchmark::State& s) {
    convertAll(s, "EUC-CN", "UTF-16LE", wide("HZ-GB-2312", kHz));
}
void BM_EncodeIso2022Jp1(benchmark::State& s) {
    convertAll(s, "ISO-2022-JP-1", "UTF-16LE", wide("ISO-2022-JP-1", kJp1));
}
void BM_EncodeIso2022Jp2Peer(benchmark::State& s) {
    convertAll(s, "ISO-2022-JP-2", "UTF-16LE", wide("ISO-2022-JP-1", kJp1));
}

BENCHMARK(BM_DecodeMacRoman);
BENCHMARK(BM_DecodeMacintoshPeer);
BENCHMARK(BM_DecodeHz);
BENCHMARK(BM_DecodeEucCnPeer);
BENCHMARK(BM_DecodeIso2022Jp1);
BENCHMARK(BM_DecodeIso2022Jp2Peer);
BENCHMARK(BM_EncodeMacRoman);
BENCHMARK(BM_EncodeMacintoshPeer);
BENCHMARK(BM_EncodeHz);
BENCHMARK(BM_EncodeEucCnPeer);
BENCHMARK(BM_EncodeIso2022Jp1);
BENCHMARK(BM_EncodeIso2022Jp2Peer);

}  // namespace

BENCHMARK_MAIN();
