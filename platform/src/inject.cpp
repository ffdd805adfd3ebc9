// Failure injection. Nearly every platform call asks `take` first, so its
// path while nothing is armed takes no lock: calls are counted in a table of
// atomic counters that names are added to without a lock, and the armed
// failures are looked at only while some are armed.
#include "winplat/inject.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "inject_internal.h"
#include "kinternal.h"
#include "winplat/kernel.h"

namespace winplat::inject {
namespace {

struct Armed {
    int64_t code = 0;
    int times = 0;
    int skip = 0;
};

// One slot per call name; a slot's name is set once and never changes.
struct Counter {
    std::atomic<const char*> name{nullptr};
    std::atomic<int64_t> calls{0};
};
constexpr size_t kSlots = 2048;  // a power of two, well above the names in use

struct State {
    Counter counters[kSlots];
    std::atomic<int> armedCount{0};  // entries of `armed`, changed under `mutex`
    winplat::kernel::PlatformLock mutex;
    std::unordered_map<std::string, Armed> armed;
    std::unordered_map<std::string, int64_t> overflow;  // counts of names past a full table
};

// Never destroyed: stand-ins and statics may still call in during exit.
State& state() {
    static State* s = new State;
    return *s;
}

// From the length and the first and last eight bytes: every platform call
// asks, so this is kept short; names alike there only probe further.
size_t hashOf(const char* name) {
    const size_t n = std::strlen(name);
    const size_t part = std::min<size_t>(n, 8);
    uint64_t head = 0;
    uint64_t tail = 0;
    std::memcpy(&head, name, part);
    std::memcpy(&tail, name + n - part, part);
    const uint64_t h = (head * 0x9E3779B97F4A7C15ull) ^ ((tail + n) * 0xC2B2AE3D27D4EB4Full);
    return static_cast<size_t>(h ^ (h >> 29));
}

// The counter of `name`, added when `add`; null when it is not there (or
// the table is full).
Counter* counterOf(State& s, const char* name, bool add) {
    const size_t start = hashOf(name);
    for (size_t i = 0; i < kSlots; ++i) {
        Counter& c = s.counters[(start + i) & (kSlots - 1)];
        const char* held = c.name.load(std::memory_order_acquire);
        if (held == nullptr) {
            if (!add) {
                return nullptr;
            }
            char* copy = ::strdup(name);
            if (copy == nullptr) {
                return nullptr;
            }
            if (c.name.compare_exchange_strong(held, copy, std::memory_order_acq_rel)) {
                return &c;
            }
            std::free(copy);  // another thread took the slot: `held` is its name
        }
        if (std::strcmp(held, name) == 0) {
            return &c;
        }
    }
    return nullptr;
}

}  // namespace

void arm(const std::string& name, int64_t code, int times, int skip) {
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    s.armed[name] = Armed{code, times, skip};
    s.armedCount.store(static_cast<int>(s.armed.size()));
}

void reset() {
    State& s = state();
    winplat::kernel::PlatformGuard lock(s.mutex);
    s.armed.clear();
    s.armedCount.store(0);
    s.overflow.clear();
    for (Counter& c : s.counters) {
        c.calls.store(0, std::memory_order_relaxed);
    }
}

bool take(const char* name, int64_t* code) {
    State& s = state();
    if (Counter* c = counterOf(s, name, true)) {
        c->calls.fetch_add(1, std::memory_order_relaxed);
    } else {
        winplat::kernel::PlatformGuard lock(s.mutex);
        ++s.overflow[name];
    }
    if (s.armedCount.load(std::memory_order_acquire) == 0) {
        return false;
    }
    winplat::kernel::PlatformGuard lock(s.mutex);
    auto it = s.armed.find(name);
    if (it == s.armed.end()) {
        return false;
    }
    Armed& a = it->second;
    if (a.skip > 0) {
        --a.skip;
        return false;
    }
    if (a.times == 0) {
        return false;
    }
    if (a.times > 0) {
        --a.times;
    }
    if (code) {
        *code = a.code;
    }
    return true;
}

int64_t calls(const std::string& name) {
    State& s = state();
    int64_t n = 0;
    if (Counter* c = counterOf(s, name.c_str(), false)) {
        n = c->calls.load(std::memory_order_relaxed);
    }
    winplat::kernel::PlatformGuard lock(s.mutex);
    auto it = s.overflow.find(name);
    return it == s.overflow.end() ? n : n + it->second;
}

}  // namespace winplat::inject

namespace winplat::detail {

bool injected(const char* name) {
    int64_t code = 0;
    if (winplat::inject::take(name, &code)) {
        SetLastError(static_cast<DWORD>(code));
        return true;
    }
    return false;
}

}  // namespace winplat::detail
