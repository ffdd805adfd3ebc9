#include "winplat/inject.h"

#include <mutex>
#include <unordered_map>

#include "inject_internal.h"
#include "winplat/kernel.h"

namespace winplat::inject {
namespace {

struct Armed {
    int64_t code = 0;
    int times = 0;
    int skip = 0;
};

struct State {
    std::mutex mutex;
    std::unordered_map<std::string, Armed> armed;
    std::unordered_map<std::string, int64_t> calls;
};

// Never destroyed: stand-ins and statics may still call in during exit.
State& state() {
    static State* s = new State;
    return *s;
}

}  // namespace

void arm(const std::string& name, int64_t code, int times, int skip) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.armed[name] = Armed{code, times, skip};
}

void reset() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.armed.clear();
    s.calls.clear();
}

bool take(const char* name, int64_t* code) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::string key(name);
    ++s.calls[key];
    auto it = s.armed.find(key);
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
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.calls.find(name);
    return it == s.calls.end() ? 0 : it->second;
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
