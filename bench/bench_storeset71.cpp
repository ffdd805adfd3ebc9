// Storeset_7_1 on the generated worlds of bench_storeset (BenchWorld.h), run
// in-process against the 7.1 stand-ins. The peer, Storeset on the same
// worlds, is bench_storeset's BM_Storeset: the two builds never share a
// binary, so compare the two programs' runs on one machine.
#include <benchmark/benchmark.h>

#include "Tools/Storeset_7_1/MapiImports71.h"
#include "Tools/Storeset_7_1/Storeset71.h"
#include "bench/BenchWorld.h"
#include "winplat/console.h"

namespace {

using namespace benchworld;

void BM_Storeset71(benchmark::State& state) {
    Generated& g = worldOf(static_cast<int>(state.range(0)), world::Build::v71);
    uint32_t status = 0;
    std::string message;
    if (!mapiImports::bind(&status, &message)) {
        state.SkipWithError(message.c_str());
        return;
    }
    std::string a0 = "Storeset_7_1", a1 = "/profile=Bench";
    char* argv[] = {a0.data(), a1.data(), nullptr};
    for (auto _ : state) {
        state.PauseTiming();
        restore(g);
        state.ResumeTiming();
        winplat::console::Capture quiet;
        if (storeset71::main(2, argv) != 0) {
            state.SkipWithError("Storeset_7_1 failed");
            break;
        }
    }
    state.counters["stores"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_Storeset71)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->MinWarmUpTime(kWarmUp);

}  // namespace

BENCHMARK_MAIN();
