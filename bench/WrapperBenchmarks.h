// The wrapper layer's benchmarks, for the build whose Wrappers.h the including
// program included first. A wrapped call posts ISynchronize::Signal of a
// do-nothing object to a calling thread and waits for it; its peer is a bare
// ping-pong over two auto-reset events between two threads, the least a hop
// to another thread and back can cost. On a busy machine the two, timed one
// after the other, swing apart; BM_WrappedCallAgainstPingPong times them in
// turn within one loop and reports the ratio of their medians. A direct
// wrapper runs the call in place; its peer is the virtual call itself, on an
// object whose type only another translation unit knows. AddRef and Release
// of a wrapper are measured as a pair (in a build that forwards them to the
// backend object, each is a hop of its own).
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "winplat/windows.h"

// The do-nothing object (IdleSynchronize.cpp).
ISynchronize* idleSynchronize();

namespace {

using namespace BackendWrappers;

ISynchronize* wrapped(bool direct) {
    void* face = nullptr;
    CreateWrapper(IID_ISynchronize, &face, idleSynchronize(), direct, OutOfThreadCaller::instance());
    ISynchronize* sync = static_cast<ISynchronize*>(face);
    sync->Signal();  // the calling thread exists before the timing starts
    return sync;
}

// Through an opaque pointer, as a client holds it.
void release(ISynchronize* face) {
    benchmark::DoNotOptimize(face);
    face->Release();
}

// A partner thread that answers each ping with a pong.
class PingPong {
  public:
    PingPong() : partner_([this] { answer(); }) {}
    PingPong(const PingPong&) = delete;
    PingPong& operator=(const PingPong&) = delete;
    ~PingPong() {
        stop_ = true;
        SetEvent(ping_);
        partner_.join();
        CloseHandle(ping_);
        CloseHandle(pong_);
    }
    void round() {
        SetEvent(ping_);
        WaitForSingleObject(pong_, INFINITE);
    }

  private:
    void answer() {
        for (;;) {
            WaitForSingleObject(ping_, INFINITE);
            if (stop_) {
                return;
            }
            SetEvent(pong_);
        }
    }
    HANDLE ping_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE pong_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> stop_{false};
    std::thread partner_;
};

void BM_WrappedCallOnCallingThread(benchmark::State& state) {
    ISynchronize* face = wrapped(false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(face->Signal());
    }
    release(face);
}
BENCHMARK(BM_WrappedCallOnCallingThread);

void BM_PingPongOverTwoEvents(benchmark::State& state) {
    PingPong pingPong;
    for (auto _ : state) {
        pingPong.round();
    }
}
BENCHMARK(BM_PingPongOverTwoEvents);

double median(std::vector<double>& values) {
    if (values.empty()) {
        return 0;
    }
    auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// A batch of wrapped calls and a batch of ping-pong rounds per iteration,
// first one then the other first, so load from elsewhere falls on both
// alike. The counters are each one's median per call and their ratio.
void BM_WrappedCallAgainstPingPong(benchmark::State& state) {
    constexpr int kBatch = 8;
    using Clock = std::chrono::steady_clock;
    ISynchronize* face = wrapped(false);
    PingPong pingPong;
    std::vector<double> wrappedNs;
    std::vector<double> pingPongNs;
    wrappedNs.reserve(static_cast<size_t>(state.max_iterations));
    pingPongNs.reserve(static_cast<size_t>(state.max_iterations));
    const auto perCall = [](Clock::time_point from, Clock::time_point to) {
        return std::chrono::duration<double, std::nano>(to - from).count() / kBatch;
    };
    const auto timeWrapped = [&] {
        const Clock::time_point from = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            benchmark::DoNotOptimize(face->Signal());
        }
        wrappedNs.push_back(perCall(from, Clock::now()));
    };
    const auto timePingPong = [&] {
        const Clock::time_point from = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            pingPong.round();
        }
        pingPongNs.push_back(perCall(from, Clock::now()));
    };
    bool wrappedFirst = true;
    for (auto _ : state) {
        if (wrappedFirst) {
            timeWrapped();
            timePingPong();
        } else {
            timePingPong();
            timeWrapped();
        }
        wrappedFirst = !wrappedFirst;
    }
    release(face);
    const double wrappedMedian = median(wrappedNs);
    const double pingPongMedian = median(pingPongNs);
    state.counters["wrapped_ns"] = wrappedMedian;
    state.counters["pingpong_ns"] = pingPongMedian;
    state.counters["ratio"] = pingPongMedian > 0 ? wrappedMedian / pingPongMedian : 0;
}
BENCHMARK(BM_WrappedCallAgainstPingPong);

void BM_AddRefReleaseOnCallingThread(benchmark::State& state) {
    ISynchronize* face = wrapped(false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(face->AddRef());
        benchmark::DoNotOptimize(face->Release());
    }
    release(face);
}
BENCHMARK(BM_AddRefReleaseOnCallingThread);

void BM_WrappedCallDirect(benchmark::State& state) {
    ISynchronize* face = wrapped(true);
    for (auto _ : state) {
        benchmark::DoNotOptimize(face->Signal());
    }
    release(face);
}
BENCHMARK(BM_WrappedCallDirect);

void BM_VirtualCall(benchmark::State& state) {
    ISynchronize* face = idleSynchronize();
    for (auto _ : state) {
        benchmark::DoNotOptimize(face->Signal());
    }
}
BENCHMARK(BM_VirtualCall);

}  // namespace

BENCHMARK_MAIN();
