// Zones against their peers, each measured in the same run:
// - UTC to local: a DateTime of an instant attached to the Eastern row, its
//   offset and wall fields, random instants 2020-2030 (arg 0) and 1970-2037
//   (arg 1); peers the date library's to_local with its field split
//   (America/New_York, system tzdb) and glibc localtime_r;
// - local to UTC: setZone on the Eastern row; peer to_sys (earliest);
// - offsetAt when every call misses the per-year cache (simple and
//   month-day rules), the fingerprint against a one-shot EVP_Digest of the
//   same text, findByName, and one machine-zone detection.
// The process zone is pinned to America/New_York before the benchmarks run.
#include <benchmark/benchmark.h>
#include <date/date.h>
#include <date/tz.h>
#include <openssl/evp.h>
#include <stdlib.h>
#include <time.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "timezone/XTimeZone.h"
#include "timezone/ZoneOffsetCache.h"

using namespace tavlo::timezone;

namespace {

constexpr size_t kCount = 4096;  // a power of two: the index wraps with a mask

int64_t utc(int y, int m, int d) {
    CalendarFields f{0, 0, 0, d, m - 1, y - 1900};
    return timeFromCalendar(f);
}

const std::vector<int64_t>& instants(int range) {
    static const std::array<std::vector<int64_t>, 2> values = [] {
        std::vector<int64_t> v[2];
        const int64_t bounds[2][2] = {{utc(2020, 1, 1), utc(2031, 1, 1)}, {utc(1970, 1, 1), utc(2038, 1, 1)}};
        for (int r = 0; r < 2; ++r) {
            std::mt19937_64 rng(2020 + r);
            std::uniform_int_distribution<int64_t> dist(bounds[r][0], bounds[r][1] - 1);
            for (size_t i = 0; i < kCount; ++i) {
                v[r].push_back(dist(rng));
            }
        }
        return std::array<std::vector<int64_t>, 2>{v[0], v[1]};
    }();
    return values[range];
}

const ZonePtr& eastern() {
    static const ZonePtr zone =
        boost::make_shared<XTimeZone>(XTimeZone::findByName("Eastern Time (US & Canada)"));
    return zone;
}

void BM_MachineZoneDetection(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(XTimeZone::local());
    }
}
// The first call detects; later ones copy the held zone.
BENCHMARK(BM_MachineZoneDetection)->Iterations(1);

void BM_ZoneWallFields(benchmark::State& state) {
    const std::vector<int64_t>& times = instants(static_cast<int>(state.range(0)));
    size_t i = 0;
    for (auto _ : state) {
        DateTime v(times[i++ & (kCount - 1)]);
        v.attachZone(eastern());
        const Duration offset = v.offset();
        benchmark::DoNotOptimize(calendarFromTime(v.value() + offset.seconds()));
    }
}
BENCHMARK(BM_ZoneWallFields)->Arg(0)->Arg(1);

void BM_DateToLocal(benchmark::State& state) {
    const std::vector<int64_t>& times = instants(static_cast<int>(state.range(0)));
    const date::time_zone* zone = date::locate_zone("America/New_York");
    size_t i = 0;
    for (auto _ : state) {
        const date::sys_seconds t{std::chrono::seconds(times[i++ & (kCount - 1)])};
        const auto local = zone->to_local(t);
        const auto day = date::floor<date::days>(local);
        benchmark::DoNotOptimize(date::year_month_day(day));
        benchmark::DoNotOptimize(date::hh_mm_ss<std::chrono::seconds>(local - day));
    }
}
BENCHMARK(BM_DateToLocal)->Arg(0)->Arg(1);

void BM_GlibcLocaltime(benchmark::State& state) {
    const std::vector<int64_t>& times = instants(static_cast<int>(state.range(0)));
    size_t i = 0;
    struct tm out;
    for (auto _ : state) {
        const time_t t = static_cast<time_t>(times[i++ & (kCount - 1)]);
        benchmark::DoNotOptimize(localtime_r(&t, &out));
    }
}
BENCHMARK(BM_GlibcLocaltime)->Arg(0)->Arg(1);

void BM_SetZone(benchmark::State& state) {
    const std::vector<int64_t>& times = instants(0);
    size_t i = 0;
    for (auto _ : state) {
        DateTime v(times[i++ & (kCount - 1)]);
        v.setZone(eastern());
        benchmark::DoNotOptimize(v.value());
    }
}
BENCHMARK(BM_SetZone);

void BM_DateToSys(benchmark::State& state) {
    const std::vector<int64_t>& times = instants(0);
    const date::time_zone* zone = date::locate_zone("America/New_York");
    size_t i = 0;
    for (auto _ : state) {
        const date::local_seconds wall{std::chrono::seconds(times[i++ & (kCount - 1)])};
        benchmark::DoNotOptimize(zone->to_sys(wall, date::choose::earliest));
    }
}
BENCHMARK(BM_DateToSys);

// 690 years in turn through a cache of 512: every call misses.
void BM_OffsetAtMiss(benchmark::State& state) {
    const ZonePtr zone = boost::make_shared<XTimeZone>(
        XTimeZone::findByName(state.range(0) == 0 ? "Eastern Time (US & Canada)" : "Tehran"));
    std::vector<int64_t> times;
    for (int year = 2010; year < 2700; ++year) {
        times.push_back(utc(year, 6, 15));
    }
    const uint64_t missesBefore = ZoneOffsetCache::instance().misses();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(XTimeZone::offsetAt(times[i], zone));
        i = i + 1 == times.size() ? 0 : i + 1;
    }
    state.counters["misses"] = static_cast<double>(ZoneOffsetCache::instance().misses() - missesBefore);
}
BENCHMARK(BM_OffsetAtMiss)->Arg(0)->Arg(1);

void BM_Fingerprint(benchmark::State& state) {
    // Fresh zones in batches, so the timing holds the computation alone.
    const XTimeZone fresh = XTimeZone::findByName("Eastern Time (US & Canada)");
    std::vector<XTimeZone> zones(1024, fresh);
    size_t i = 0;
    for (auto _ : state) {
        if (i == zones.size()) {
            state.PauseTiming();
            std::fill(zones.begin(), zones.end(), fresh);
            i = 0;
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(zones[i++].fingerprint());
    }
}
BENCHMARK(BM_Fingerprint);

void BM_OneShotDigest(benchmark::State& state) {
    const std::string text =
        "DST:-0400DST:20070311T020000DST:FREQ=YEARLY;BYMONTH=3;BYDAY=2SUSTD:-0500STD:20071104T020000"
        "STD:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU";
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    for (auto _ : state) {
        EVP_Digest(text.data(), text.size(), out, &length, EVP_md5(), nullptr);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_OneShotDigest);

void BM_FindByName(benchmark::State& state) {
    static const char* const kNames[] = {"(GMT-05:00) Eastern Time (US & Canada)", "America/New_York",
                                         "nowhere at all"};
    const char* name = kNames[state.range(0)];
    for (auto _ : state) {
        benchmark::DoNotOptimize(XTimeZone::findByName(name));
    }
    state.SetLabel(name);
}
BENCHMARK(BM_FindByName)->Arg(0)->Arg(1)->Arg(2);

}  // namespace

int main(int argc, char** argv) {
    setenv("TZ", "America/New_York", 1);
    tzset();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
