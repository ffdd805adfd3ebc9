// Windows time-zone records, Eastern record, the process zone pinned to
// America/New_York:
// - machineZone once matched (one machine record and one comparison, then
//   the zone copied out), beside its floor: GetTimeZoneInformation alone;
// - zoneFromTzi (the tables scanned for the record) and the zone's record
//   back (zoneToTzi);
// - the calendar blob read into a record and written from one.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <string>

#include "timezone/WindowsZones.h"

using namespace tavlo::timezone;

namespace {

const TIME_ZONE_INFORMATION& eastern() {
    static const TIME_ZONE_INFORMATION record = [] {
        setenv("TZ", "America/New_York", 1);
        tzset();
        return currentTzi();
    }();
    return record;
}

void BM_GetTimeZoneInformation(benchmark::State& state) {
    eastern();
    TIME_ZONE_INFORMATION z;
    for (auto _ : state) {
        benchmark::DoNotOptimize(GetTimeZoneInformation(&z));
    }
}
BENCHMARK(BM_GetTimeZoneInformation);

void BM_MachineZoneMatched(benchmark::State& state) {
    eastern();
    bool matched = false;
    machineZone(&matched, nullptr);  // the match itself, once
    for (auto _ : state) {
        benchmark::DoNotOptimize(machineZone(&matched, nullptr));
    }
    state.counters["matched"] = matched;
}
BENCHMARK(BM_MachineZoneMatched);

void BM_ZoneFromTzi(benchmark::State& state) {
    const TIME_ZONE_INFORMATION& record = eastern();
    ZonePtr zone;
    zoneFromTzi(zone, &record);
    for (auto _ : state) {
        benchmark::DoNotOptimize(zoneFromTzi(zone, &record));
    }
}
BENCHMARK(BM_ZoneFromTzi);

void BM_ZoneToTzi(benchmark::State& state) {
    ZonePtr zone;
    zoneFromTzi(zone, &eastern());
    TIME_ZONE_INFORMATION out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zoneToTzi(*zone, &out));
    }
}
BENCHMARK(BM_ZoneToTzi);

void BM_BlobRoundTrip(benchmark::State& state) {
    const RegistryTzi registry = tziToRegTzi(eastern());
    TIME_ZONE_INFORMATION out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(mapiBlobToTzi(regTziToMapiBlob(registry), &out));
    }
}
BENCHMARK(BM_BlobRoundTrip);

}  // namespace

BENCHMARK_MAIN();
