// The wrapper layer's benchmarks, for the build whose Wrappers.h the including
// program included first. A wrapped call posts ISynchronize::Signal of a
// do-nothing object to a calling thread and waits for it; its peer is a bare
// ping-pong over two auto-reset events between two threads, the least a hop
// to another thread and back can cost. A direct wrapper runs the call in
// place; its peer is the virtual call itself. AddRef and Release of a wrapper
// are measured as a pair (in a build that forwards them to the backend
// object, each is a hop of its own).
#pragma once

#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "winplat/windows.h"

namespace {

using namespace BackendWrappers;

struct IdleSync : ISynchronize {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Wait(DWORD, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Signal() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
};

ISynchronize* wrapped(IdleSync* object, bool direct) {
    void* face = nullptr;
    CreateWrapper(IID_ISynchronize, &face, object, direct, OutOfThreadCaller::instance());
    ISynchronize* sync = static_cast<ISynchronize*>(face);
    sync->Signal();  // the calling thread exists before the timing starts
    return sync;
}

// Through an opaque pointer, as a client holds it.
void release(ISynchronize* face) {
    benchmark::DoNotOptimize(face);
    face->Release();
}

void BM_WrappedCallOnCallingThread(benchmark::State& state) {
    IdleSync object;
    ISynchronize* face = wrapped(&object, false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(face->Signal());
    }
    release(face);
}
BENCHMARK(BM_WrappedCallOnCallingThread);

void BM_PingPongOverTwoEvents(benchmark::State& state) {
    HANDLE ping = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE pong = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> stop{false};
    std::thread partner([&] {
        for (;;) {
            WaitForSingleObject(ping, INFINITE);
            if (stop) {
                break;
            }
            SetEvent(pong);
        }
    });
    for (auto _ : state) {
        SetEvent(ping);
        WaitForSingleObject(pong, INFINITE);
    }
    stop = true;
    SetEvent(ping);
    partner.join();
    CloseHandle(ping);
    CloseHandle(pong);
}
BENCHMARK(BM_PingPongOverTwoEvents);

void BM_AddRefReleaseOnCallingThread(benchmark::State& state) {
    IdleSync object;
    ISynchronize* face = wrapped(&object, false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(face->AddRef());
        benchmark::DoNotOptimize(face->Release());
    }
    release(face);
}
BENCHMARK(BM_AddRefReleaseOnCallingThread);

void BM_WrappedCallDirect(benchmark::State& state) {
    IdleSync object;
    ISynchronize* face = wrapped(&object, true);
    for (auto _ : state) {
        benchmark::DoNotOptimize(face->Signal());
    }
    release(face);
}
BENCHMARK(BM_WrappedCallDirect);

void BM_VirtualCall(benchmark::State& state) {
    IdleSync object;
    // Read through a volatile each time, so the call stays a virtual one.
    ISynchronize* volatile face = &object;
    for (auto _ : state) {
        benchmark::DoNotOptimize(face->Signal());
    }
}
BENCHMARK(BM_VirtualCall);

}  // namespace

BENCHMARK_MAIN();
