// Recurrence rules: expansion of typical rules (1,000 instances from
// 1997-09-02T09:00 at offset 0; 100 for the four-yearly rule), reading the
// same texts and writing them back. The in-process peer is missing: the
// reference numbers come from python-dateutil through bench_rrule_dateutil.py
// beside this file, which times the same rules and instances.
#include <benchmark/benchmark.h>

#include <string>

#include "timezone/RecurrenceIterator.h"

using namespace tavlo::timezone;

namespace {

struct Rule {
    const char* text;
    int instances;
};

constexpr Rule kRules[] = {
    {"FREQ=DAILY", 1000},
    {"FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,WE,FR", 1000},
    {"FREQ=YEARLY;BYMONTH=1;BYDAY=SU,MO,TU,WE,TH,FR,SA", 1000},
    {"FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1", 1000},
    {"FREQ=MONTHLY;BYDAY=FR;BYMONTHDAY=13", 1000},
    {"FREQ=YEARLY;INTERVAL=4;BYMONTH=11;BYDAY=TU;BYMONTHDAY=2,3,4,5,6,7,8", 100},
};

void BM_Expand(benchmark::State& state) {
    const Rule& r = kRules[state.range(0)];
    RecurrenceRule rule;
    rule.parse(r.text);
    const DateTime start(2, 9, 1997, 9, 0, 0, Duration(0));
    const RecurrenceIterator end;
    int64_t sum = 0;
    for (auto _ : state) {
        RecurrenceIterator it(rule, start, true);
        for (int n = 0; n < r.instances && !it.equals(end); ++n, it.advance()) {
            sum += it.current().value();
        }
    }
    benchmark::DoNotOptimize(sum);
    state.SetLabel(r.text);
    state.SetItemsProcessed(state.iterations() * r.instances);
}
BENCHMARK(BM_Expand)->DenseRange(0, 5);

void BM_Parse(benchmark::State& state) {
    RecurrenceRule rule;
    size_t k = 0;
    for (auto _ : state) {
        rule.parse(kRules[k++ % std::size(kRules)].text);
        benchmark::DoNotOptimize(rule.valid);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Parse);

void BM_Format(benchmark::State& state) {
    RecurrenceRule rules[std::size(kRules)];
    for (size_t k = 0; k < std::size(kRules); ++k) {
        rules[k].parse(kRules[k].text);
    }
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(rules[k++ % std::size(kRules)].format());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Format);

}  // namespace

BENCHMARK_MAIN();
