// A wrapped backend call against what it is made of. The wrapped call posts
// IAppServer slot 10 of a do-nothing server to a calling thread and waits for
// it; its peer is a bare ping-pong over two auto-reset events between two
// threads, the least a hop to another thread and back can cost. A direct
// wrapper runs the call in place; its peer is the virtual call itself.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "BackendWrappers/v74/Wrappers.h"
#include "winplat/windows.h"

namespace {

using namespace BackendWrappers;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define DO_NOTHING(slot, name, params, args, treatment) \
    HRESULT STDMETHODCALLTYPE name params override {    \
        return S_OK;                                    \
    }
struct IdleServer : IAppServer {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    BACKEND_IAPPSERVER_SLOTS(DO_NOTHING)
};
#pragma GCC diagnostic pop

IAppServer* wrapped(IdleServer* server, bool direct) {
    void* face = nullptr;
    CreateWrapper(IID_IAppServer, &face, server, direct, OutOfThreadCaller::instance());
    return static_cast<IAppServer*>(face);
}

// Through an opaque pointer, as a client holds it.
void release(IAppServer* face) {
    benchmark::DoNotOptimize(face);
    face->Release();
}

void BM_WrappedCallOnCallingThread(benchmark::State& state) {
    IdleServer server;
    IAppServer* face = wrapped(&server, false);
    ULONG value = 0;
    face->Slot10(&value);  // the calling thread exists before the timing starts
    for (auto _ : state) {
        benchmark::DoNotOptimize(face->Slot10(&value));
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

void BM_WrappedCallDirect(benchmark::State& state) {
    IdleServer server;
    IAppServer* face = wrapped(&server, true);
    ULONG value = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(face->Slot10(&value));
    }
    release(face);
}
BENCHMARK(BM_WrappedCallDirect);

void BM_VirtualCall(benchmark::State& state) {
    IdleServer server;
    // Read through a volatile each time, so the call stays a virtual one.
    IAppServer* volatile face = &server;
    ULONG value = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(face->Slot10(&value));
    }
}
BENCHMARK(BM_VirtualCall);

}  // namespace

BENCHMARK_MAIN();
