#include "timezone/ZoneRegistry.h"

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <new>
#include <utility>

#include "CommonBase/XMutex.h"

namespace tavlo::timezone {

namespace {

int lowered(char c) {
    return std::tolower(static_cast<unsigned char>(c));
}

std::atomic<ZoneRegistry*> registryInstance{nullptr};

tiny::XMutex& registryLock() {
    static tiny::XMutex lock;
    return lock;
}

void destroyRegistry() {
    tiny::XMutexGuard guard(registryLock());
    delete registryInstance.exchange(nullptr);
}

}  // namespace

ZoneDefinition::ZoneDefinition(std::string name, std::string standard, std::string daylight,
                               std::string standardStart, std::string daylightStart, std::string standardRule,
                               std::string daylightRule, int32_t id1, int32_t id2, int32_t id3)
    : name(std::move(name)),
      standard(std::move(standard)),
      daylight(std::move(daylight)),
      standardStart(std::move(standardStart)),
      daylightStart(std::move(daylightStart)),
      standardRule(std::move(standardRule)),
      daylightRule(std::move(daylightRule)),
      ids{id1} {
    if (id2 >= 0) {
        ids.push_back(id2);
    }
    if (id3 >= 0) {
        ids.push_back(id3);
    }
}

ZoneDefinition::ZoneDefinition(std::string name, std::string standard, int32_t id1, int32_t id2)
    : ZoneDefinition(std::move(name), std::move(standard), "", "", "", "", "", id1, id2) {}

ZoneRegistry::ZoneRegistry()
    : abbreviations(timezone::zoneAbbreviations().begin(), timezone::zoneAbbreviations().end()),
      displayZones(timezone::displayZones().begin(), timezone::displayZones().end()),
      tzZones(timezone::tzZones().begin(), timezone::tzZones().end()),
      zoneIdNames(timezone::zoneIdNames().begin(), timezone::zoneIdNames().end()) {}

ZoneRegistry& ZoneRegistry::instance() {
    ZoneRegistry* registry = registryInstance.load(std::memory_order_acquire);
    if (registry != nullptr) {
        return *registry;
    }
    tiny::XMutexGuard guard(registryLock());
    registry = registryInstance.load(std::memory_order_relaxed);
    if (registry == nullptr) {
        registry = new ZoneRegistry();
        registryInstance.store(registry, std::memory_order_release);
        std::atexit(destroyRegistry);
    }
    return *registry;
}

int ZoneRegistry::findByName(const std::vector<ZoneDefinition>& rows, const std::string& query) {
    int best = -1;
    size_t bestLength = 0;
    for (size_t row = 0; row < rows.size(); ++row) {
        const std::string& name = rows[row].name;
        // A longer name is the only one that could replace the best.
        if (name.size() <= bestLength || name.size() > query.size()) {
            continue;
        }
        std::unique_ptr<int[]> table = buildFailureTable(name);
        if (table && findIgnoringCase(query, name, table.get()) >= 0) {
            best = static_cast<int>(row);
            bestLength = name.size();
        }
    }
    return best;
}

std::unique_ptr<int[]> buildFailureTable(const std::string& pattern) {
    const size_t n = pattern.size();
    std::unique_ptr<int[]> table(new (std::nothrow) int[n + 1]);
    if (!table) {
        return table;
    }
    table[0] = -1;
    for (size_t i = 1; i <= n; ++i) {
        int k = table[i - 1];
        for (;;) {
            table[i] = k + 1;
            if (k == -1 || lowered(pattern[i - 1]) == lowered(pattern[static_cast<size_t>(k)])) {
                break;
            }
            k = table[k];
        }
    }
    return table;
}

ptrdiff_t findIgnoringCase(const std::string& text, const std::string& pattern, const int* table) {
    if (pattern.empty()) {
        return 0;
    }
    ptrdiff_t i = 0;
    for (size_t pos = 0; pos < text.size(); ++pos) {
        const int c = lowered(text[pos]);
        while (i != -1 && lowered(pattern[static_cast<size_t>(i)]) != c) {
            i = table[i];
        }
        if (static_cast<size_t>(i + 1) == pattern.size()) {
            return static_cast<ptrdiff_t>(pos) - i;
        }
        ++i;
    }
    return -1;
}

}  // namespace tavlo::timezone
