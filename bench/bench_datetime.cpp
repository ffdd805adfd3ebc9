// Date-time library against its peers, each measured in the same run:
// - UTC instant to local wall-clock fields, America/New_York, random instants
//   1970-2037: a Floating value (machine zone), gmtToLocal with the Eastern
//   record; peers glibc localtime_r and the date library's to_local;
// - ISO 8601 basic text: format (peer gmtime_r + strftime) and parse (peer
//   strptime + timegm);
// - the calendar split and back (peer <chrono> civil dates).
// The process zone is pinned to America/New_York before the benchmarks run.
#include <benchmark/benchmark.h>
#include <date/date.h>
#include <date/tz.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "timezone/DateTime.h"
#include "timezone/DateTimeFunctions.h"

using namespace tavlo::timezone;

namespace {

constexpr size_t kCount = 4096;  // a power of two: the index wraps with a mask

const std::vector<int64_t>& instants() {
    static const std::vector<int64_t> values = [] {
        std::mt19937_64 rng(1970);
        std::uniform_int_distribution<int64_t> dist(0, 2145916800LL);  // to 2038-01-01
        std::vector<int64_t> v(kCount);
        for (int64_t& t : v) {
            t = dist(rng);
        }
        return v;
    }();
    return values;
}

const std::vector<std::string>& isoTexts() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> v;
        for (int64_t t : instants()) {
            v.push_back(DateTime(t).format(0));
        }
        return v;
    }();
    return texts;
}

void BM_FloatingWallFields(benchmark::State& state) {
    DateTime floating(0);
    floating.makeFloating();
    size_t i = 0;
    for (auto _ : state) {
        const int64_t t = instants()[i++ & (kCount - 1)];
        const DateTime v = floating + Duration(t - floating.value());
        benchmark::DoNotOptimize(dateTimeToLocalSystemTime(v));
    }
}
BENCHMARK(BM_FloatingWallFields);

void BM_GlibcLocaltime(benchmark::State& state) {
    size_t i = 0;
    struct tm out;
    for (auto _ : state) {
        const time_t t = static_cast<time_t>(instants()[i++ & (kCount - 1)]);
        benchmark::DoNotOptimize(localtime_r(&t, &out));
    }
}
BENCHMARK(BM_GlibcLocaltime);

void BM_GmtToLocalEastern(benchmark::State& state) {
    TIME_ZONE_INFORMATION eastern{};
    eastern.Bias = 300;
    eastern.DaylightBias = -60;
    eastern.StandardDate.wMonth = 11;
    eastern.StandardDate.wDay = 1;
    eastern.StandardDate.wHour = 2;
    eastern.DaylightDate.wMonth = 3;
    eastern.DaylightDate.wDay = 2;
    eastern.DaylightDate.wHour = 2;
    std::vector<SYSTEMTIME> utc;
    for (int64_t t : instants()) {
        utc.push_back(dateTimeToSystemTime(DateTime(t)));
    }
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(gmtToLocal(utc[i++ & (kCount - 1)], true, &eastern));
    }
}
BENCHMARK(BM_GmtToLocalEastern);

void BM_DateToLocal(benchmark::State& state) {
    const date::time_zone* zone = date::locate_zone("America/New_York");
    size_t i = 0;
    for (auto _ : state) {
        const date::sys_seconds t{std::chrono::seconds(instants()[i++ & (kCount - 1)])};
        const auto local = zone->to_local(t);
        const auto day = date::floor<date::days>(local);
        benchmark::DoNotOptimize(date::year_month_day(day));
        benchmark::DoNotOptimize(date::hh_mm_ss<std::chrono::seconds>(local - day));
    }
}
BENCHMARK(BM_DateToLocal);

void BM_IsoFormat(benchmark::State& state) {
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(DateTime(instants()[i++ & (kCount - 1)]).format(0));
    }
}
BENCHMARK(BM_IsoFormat);

void BM_GlibcStrftime(benchmark::State& state) {
    size_t i = 0;
    struct tm fields;
    char buf[64];
    for (auto _ : state) {
        const time_t t = static_cast<time_t>(instants()[i++ & (kCount - 1)]);
        gmtime_r(&t, &fields);
        strftime(buf, sizeof(buf), "%Y%m%dT%H%M%SZ", &fields);
        benchmark::DoNotOptimize(std::string(buf));
    }
}
BENCHMARK(BM_GlibcStrftime);

void BM_IsoParse(benchmark::State& state) {
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(DateTime::parse(isoTexts()[i++ & (kCount - 1)], ZonePtr()));
    }
}
BENCHMARK(BM_IsoParse);

void BM_GlibcStrptime(benchmark::State& state) {
    size_t i = 0;
    for (auto _ : state) {
        struct tm fields = {};
        strptime(isoTexts()[i++ & (kCount - 1)].c_str(), "%Y%m%dT%H%M%SZ", &fields);
        benchmark::DoNotOptimize(timegm(&fields));
    }
}
BENCHMARK(BM_GlibcStrptime);

void BM_CalendarRoundTrip(benchmark::State& state) {
    size_t i = 0;
    for (auto _ : state) {
        CalendarFields f = calendarFromTime(instants()[i++ & (kCount - 1)]);
        benchmark::DoNotOptimize(f);
        benchmark::DoNotOptimize(timeFromCalendar(f));
    }
}
BENCHMARK(BM_CalendarRoundTrip);

void BM_ChronoRoundTrip(benchmark::State& state) {
    namespace chr = std::chrono;
    size_t i = 0;
    for (auto _ : state) {
        const chr::sys_seconds t{chr::seconds(instants()[i++ & (kCount - 1)])};
        const auto day = chr::floor<chr::days>(t);
        const chr::year_month_day ymd(day);
        const chr::hh_mm_ss<chr::seconds> hms(t - day);
        const chr::weekday wd(day);
        benchmark::DoNotOptimize(ymd);
        benchmark::DoNotOptimize(hms);
        benchmark::DoNotOptimize(wd);
        benchmark::DoNotOptimize(chr::sys_days(ymd) + hms.to_duration());
    }
}
BENCHMARK(BM_ChronoRoundTrip);

}  // namespace

int main(int argc, char** argv) {
    setenv("TZ", "America/New_York", 1);
    tzset();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
