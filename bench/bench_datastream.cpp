// DataStream over memory: sequential 1 MiB writes and reads of 256 MiB beside
// plain memcpy into and out of a fresh buffer (page faults included on both
// sides), and the cost of the adaptive back-end's move to a temporary file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CommonBase/DataStream.h"
#include "CommonBase/StreamUtils.h"

namespace {

// Untimed runs first (modules loaded, files cached, allocator pools made), so
// a plain run reports steady state.
constexpr double kWarmUp = 0.2;

constexpr size_t kTotal = 256u << 20;
constexpr size_t kPiece = 1u << 20;

const std::vector<char>& piece() {
    static const std::vector<char> data = [] {
        std::vector<char> v(kPiece);
        for (size_t i = 0; i < v.size(); ++i) {
            v[i] = static_cast<char>(i * 7);
        }
        return v;
    }();
    return data;
}

void Write256MiB_Memcpy(benchmark::State& state) {
    const std::vector<char>& src = piece();
    for (auto _ : state) {
        char* buffer = static_cast<char*>(std::malloc(kTotal));
        for (size_t offset = 0; offset < kTotal; offset += kPiece) {
            std::memcpy(buffer + offset, src.data(), kPiece);
        }
        benchmark::DoNotOptimize(buffer);
        std::free(buffer);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTotal));
}

void Write256MiB_DataStream(benchmark::State& state) {
    const std::vector<char>& src = piece();
    for (auto _ : state) {
        IStream* stream = nullptr;
        streamUtils::createStream(streamUtils::MemoryStream, &stream, false, false, false);
        for (size_t offset = 0; offset < kTotal; offset += kPiece) {
            stream->Write(src.data(), static_cast<ULONG>(kPiece), nullptr);
        }
        benchmark::DoNotOptimize(stream);
        stream->Release();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTotal));
}

void Read256MiB_Memcpy(benchmark::State& state) {
    std::vector<char> source(kTotal, 'r');
    std::vector<char> target(kPiece);
    for (auto _ : state) {
        for (size_t offset = 0; offset < kTotal; offset += kPiece) {
            std::memcpy(target.data(), source.data() + offset, kPiece);
            benchmark::DoNotOptimize(target.data());
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTotal));
}

void Read256MiB_DataStream(benchmark::State& state) {
    IStream* stream = nullptr;
    streamUtils::createStream(streamUtils::MemoryStream, &stream, false, false, false);
    const std::vector<char>& src = piece();
    for (size_t offset = 0; offset < kTotal; offset += kPiece) {
        stream->Write(src.data(), static_cast<ULONG>(kPiece), nullptr);
    }
    std::vector<char> target(kPiece);
    for (auto _ : state) {
        LARGE_INTEGER zero{};
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        ULONG got = 0;
        for (size_t offset = 0; offset < kTotal; offset += kPiece) {
            stream->Read(target.data(), static_cast<ULONG>(kPiece), &got);
            benchmark::DoNotOptimize(target.data());
        }
    }
    stream->Release();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTotal));
}

// One write that takes the content to the threshold: the adaptive stream
// moves 1,999,999 bytes from memory to a temporary file; the memory stream
// beside it takes the same write in place.
template <int Kind>
void ThresholdWrite(benchmark::State& state) {
    std::string content(1999999, 'a');
    for (auto _ : state) {
        state.PauseTiming();
        IStream* stream = nullptr;
        streamUtils::createStream(Kind, &stream, content.data(), content.size(), false, false, false);
        LARGE_INTEGER end{};
        stream->Seek(end, STREAM_SEEK_END, nullptr);
        state.ResumeTiming();
        stream->Write("b", 1, nullptr);
        state.PauseTiming();
        stream->Release();
        state.ResumeTiming();
    }
}

void ThresholdWrite_Adaptive(benchmark::State& state) {
    ThresholdWrite<streamUtils::AdaptiveStream>(state);
}
void ThresholdWrite_Memory(benchmark::State& state) {
    ThresholdWrite<streamUtils::MemoryStream>(state);
}

}  // namespace

BENCHMARK(Write256MiB_Memcpy)->Unit(benchmark::kMillisecond)->MinWarmUpTime(kWarmUp);
BENCHMARK(Write256MiB_DataStream)->Unit(benchmark::kMillisecond)->MinWarmUpTime(kWarmUp);
BENCHMARK(Read256MiB_Memcpy)->Unit(benchmark::kMillisecond)->MinWarmUpTime(kWarmUp);
BENCHMARK(Read256MiB_DataStream)->Unit(benchmark::kMillisecond)->MinWarmUpTime(kWarmUp);
BENCHMARK(ThresholdWrite_Adaptive)->Unit(benchmark::kMicrosecond)->MinWarmUpTime(kWarmUp);
BENCHMARK(ThresholdWrite_Memory)->Unit(benchmark::kMicrosecond)->MinWarmUpTime(kWarmUp);

BENCHMARK_MAIN();
