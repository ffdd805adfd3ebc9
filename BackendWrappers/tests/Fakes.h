// Recording backend objects expanded from the same slot tables as the
// wrappers, and the sentinel arguments a test calls them with. Each slot
// records its number, thread, apartment and the bytes of its arguments, and
// answers the scripted HRESULT, writing a fresh counted object (or null)
// through its [out] interface. The fakes record through a row's argument
// list, which the build holds to the row's parameters in order, so the bytes
// are in the declared order; what else a table may get wrong the contract
// tests catch.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <type_traits>
#include <vector>

#include "Wrappers.h"
#include "winplat/com.h"
#include "winplat/kernel.h"

namespace fakes {

struct Call {
    int index;  // the slot
    std::string method;
    DWORD thread;
    winplat::com::Apartment apartment;
    std::string bytes;  // the arguments' bytes, in order
};

// What the next backend calls answer.
struct Script {
    HRESULT hr = S_FALSE;
    bool nullOut = false;    // [out] interfaces come back null
    HRESULT queryHr = S_OK;  // the backend objects' QueryInterface
};

inline std::mutex& logMutex() {
    static std::mutex m;
    return m;
}
inline std::vector<Call>& log() {
    static std::vector<Call> calls;
    return calls;
}
inline Script& script() {
    static Script s;
    return s;
}
inline std::atomic<long>& liveObjects() {
    static std::atomic<long> count{0};
    return count;
}
inline std::vector<Call> calls() {
    std::lock_guard<std::mutex> lock(logMutex());
    return log();
}
inline void record(int slot, const char* name, std::string args) {
    std::lock_guard<std::mutex> lock(logMutex());
    log().push_back({slot, name, GetCurrentThreadId(), winplat::com::currentApartment(), std::move(args)});
}
inline void reset() {
    std::lock_guard<std::mutex> lock(logMutex());
    log().clear();
    script() = Script();
}

template <class T>
std::string bytesOf(const T& value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof(value));
}
template <class... A>
std::string argBytes(const A&... args) {
    return (std::string() + ... + bytesOf(args));
}

// A counted COM object; QueryInterface answers every ID but IBackendWrapper
// with itself, or the script's failure. QueryInterface and Release record
// their thread.
template <class I = IUnknown>
class Counted : public I {
  public:
    Counted() { ++liveObjects(); }
    virtual ~Counted() { --liveObjects(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        queryThread = GetCurrentThreadId();
        if (IsEqualIID(riid, IID_IBackendWrapper)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        if (FAILED(queryHr)) {
            *out = nullptr;
            return queryHr;
        }
        *out = static_cast<I*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        releaseThread = GetCurrentThreadId();
        ULONG now = --refs;
        if (now == 0) {
            delete this;
        }
        return now;
    }
    std::atomic<ULONG> refs{1};
    std::atomic<DWORD> releaseThread{0};
    std::atomic<DWORD> queryThread{0};
    HRESULT queryHr = script().queryHr;
};

// Notes whether it was destroyed.
struct Observed : Counted<> {
    std::atomic<bool>* gone;
    explicit Observed(std::atomic<bool>* g) : gone(g) {}
    ~Observed() override { *gone = true; }
};

// QueryInterface for IBackendWrapper fails with E_FAIL.
struct Hostile : Counted<> {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_FAIL;
    }
};

// Hands out the [out] object of a slot: a fresh counted object, or null.
inline HRESULT answer(int slot, const char* name, std::string args, void** out = nullptr) {
    record(slot, name, std::move(args));
    if (out && SUCCEEDED(script().hr)) {
        *out = script().nullOut ? nullptr : static_cast<IUnknown*>(new Counted<>);
    }
    return script().hr;
}

// An [out] interface argument is recorded as 1 (given) or 0 (null): the
// wrapper hands the backend a local of its own, never the caller's pointer.
#define FAKE_SLOT(slot, name, params, args, treatment) \
    FAKE_SLOT_I(FAKE_KIND_##treatment, slot, name, params, args, treatment)
#define FAKE_SLOT_I(kind, ...) FAKE_SLOT_II(kind, __VA_ARGS__)
#define FAKE_SLOT_II(kind, slot, name, params, args, treatment) \
    FAKE_##kind(slot, name, params, args, treatment)
#define FAKE_KIND_FORWARD PLAIN
#define FAKE_KIND_IN_UNWRAPPED(arg) PLAIN
#define FAKE_KIND_OUT_WRAPPED(W, arg) OUT
#define FAKE_KIND_IN_UNWRAPPED_OUT_WRAPPED(in, W, out) OUT
#define FAKE_KIND_SPECIAL SPECIAL
#define FAKE_OUT_ARG_OUT_WRAPPED(W, arg) arg
#define FAKE_OUT_ARG_IN_UNWRAPPED_OUT_WRAPPED(in, W, out) out
#define FAKE_PLAIN(slot, name, params, args, treatment)          \
    HRESULT STDMETHODCALLTYPE name params override {             \
        return fakes::answer(slot, #name, fakes::argBytes args); \
    }
#define FAKE_OUT(slot, name, params, args, treatment) \
    FAKE_OUT_I(slot, name, params, args, FAKE_OUT_ARG_##treatment)
#define FAKE_OUT_I(slot, name, params, args, out) FAKE_OUT_II(slot, name, params, args, out)
#define FAKE_OUT_II(slot, name, params, args, out)                                            \
    HRESULT STDMETHODCALLTYPE name params override {                                          \
        auto* const given = out;                                                              \
        out = reinterpret_cast<decltype(out)>(static_cast<uintptr_t>(given ? 1 : 0));         \
        std::string bytes = fakes::argBytes args;                                             \
        return fakes::answer(slot, #name, std::move(bytes), reinterpret_cast<void**>(given)); \
    }
// The three hand-written wrapper methods: their last pointer is the [out]
// one, or (CopyTo) there is none.
#define FAKE_SPECIAL(slot, name, params, args, treatment) FAKE_SPECIAL_##name(slot, name, params, args)
#define FAKE_SPECIAL_OpenProperty(slot, name, params, args) FAKE_OUT_II(slot, name, params, args, ppUnk)
#define FAKE_SPECIAL_CreateCall(slot, name, params, args) FAKE_OUT_II(slot, name, params, args, ppv)
#define FAKE_SPECIAL_CopyTo(slot, name, params, args) FAKE_PLAIN(slot, name, params, args, FORWARD)

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define FAKE_CLASS(W, I, SLOTS)   \
    struct Fake##W : Counted<I> { \
        SLOTS(FAKE_SLOT)          \
    };
BACKEND_WRAPPERS(FAKE_CLASS)
#pragma GCC diagnostic pop

// The fake of a wrapper class's interface.
template <class W>
struct FakeOf;
#define FAKE_OF(W, I, SLOTS)            \
    template <>                         \
    struct FakeOf<BackendWrappers::W> { \
        typedef Fake##W type;           \
    };
BACKEND_WRAPPERS(FAKE_OF)

// Sentinel arguments: distinct values per position; a foreign counted
// object for an interface going in, a null-started local for one coming out.
template <class T, class... Set>
constexpr bool oneOf = (std::is_same_v<T, Set> || ...);
#define FAKE_INTERFACE(W, I, SLOTS) , I
template <class T>
constexpr bool isInterface = oneOf<T, IDbAdviseSink, IDbReportSender BACKEND_WRAPPERS(FAKE_INTERFACE)>;

// What an interface argument is: going in, a foreign object, a wrapper of
// this layer, null or a hostile object; coming out, a null-started local,
// null, or a local holding a marker that must stay.
enum class In { Foreign, Wrapper, Null, Hostile };
enum class Out { Local, Null, Prefilled };
inline IUnknown* const Prefill = reinterpret_cast<IUnknown*>(uintptr_t{0x5A5A5A5A});

struct Sentinels {
    In in = In::Foreign;
    Out out = Out::Local;
    std::vector<IUnknown*> foreign;  // released by the destructor
    std::vector<void*> outLocals;
    std::vector<std::unique_ptr<uint64_t[]>> buffers;
    std::vector<std::pair<const void*, const void*>> seenAs;  // argument -> what the backend sees
    ~Sentinels() {
        for (IUnknown* f : foreign) {
            f->Release();
        }
        for (void* p : outLocals) {
            IUnknown* got = *static_cast<IUnknown**>(p);
            if (got && got != Prefill) {
                got->Release();
            }
            delete static_cast<IUnknown**>(p);
        }
    }
    IUnknown* inObject() {
        switch (in) {
            case In::Null:
                return nullptr;
            case In::Hostile:
                foreign.push_back(new Hostile);
                return foreign.back();
            case In::Wrapper: {
                auto* inner = new Counted<>;
                IUnknown* wrapper = nullptr;
                BackendWrappers::createTypedWrapper<BackendWrappers::UnknownWrapper>(
                    inner, &wrapper, false, BackendWrappers::OutOfThreadCaller::instance());
                foreign.push_back(wrapper);
                seenAs.push_back({wrapper, inner});
                return wrapper;
            }
            default:
                foreign.push_back(new Counted<>);
                return foreign.back();
        }
    }

    template <class A>
    std::remove_cvref_t<A> make(int i) {
        using T = std::remove_cvref_t<A>;
        using P = std::remove_pointer_t<T>;
        if constexpr (std::is_pointer_v<T> && std::is_pointer_v<P> && isInterface<std::remove_pointer_t<P>>) {
            if (out == Out::Null) {
                return nullptr;
            }
            auto* local = new IUnknown*(out == Out::Prefilled ? Prefill : nullptr);
            outLocals.push_back(local);
            return reinterpret_cast<T>(local);
        } else if constexpr (std::is_pointer_v<T> && isInterface<std::remove_cv_t<P>>) {
            return reinterpret_cast<T>(inObject());
        } else if constexpr (std::is_pointer_v<T>) {
            // Distinct and writable: a special method may fill it in.
            buffers.emplace_back(new uint64_t[8]());
            return reinterpret_cast<T>(buffers.back().get());
        } else if constexpr (std::is_same_v<T, GUID>) {
            GUID g = IID_IUnknown;  // an interface ID asked by reference: a supported one
            if (!std::is_reference_v<A>) {
                g.Data1 = 0x1000u + static_cast<uint32_t>(i);
            }
            return g;
        } else if constexpr (std::is_same_v<T, LARGE_INTEGER> || std::is_same_v<T, ULARGE_INTEGER>) {
            T v;
            v.QuadPart = 0x100000000ll * i + 7;
            return v;
        } else {
            return static_cast<T>(0x40 + i);
        }
    }

    // The bytes a backend should see for these sentinels.
    template <class... V>
    std::string expected(const std::tuple<V...>& values) {
        return std::apply([this](const auto&... v) { return (std::string() + ... + expectedOf(v)); }, values);
    }
    template <class T>
    std::string expectedOf(const T& v) {
        if constexpr (std::is_pointer_v<T> && std::is_pointer_v<std::remove_pointer_t<T>> &&
                      isInterface<std::remove_pointer_t<std::remove_pointer_t<T>>>) {
            return bytesOf(reinterpret_cast<T>(static_cast<uintptr_t>(v ? 1 : 0)));
        } else if constexpr (std::is_pointer_v<T>) {
            for (const auto& [given, seen] : seenAs) {
                if (given == static_cast<const void*>(v)) {
                    return bytesOf(reinterpret_cast<T>(const_cast<void*>(seen)));
                }
            }
            return bytesOf(v);
        } else {
            return bytesOf(v);
        }
    }
};

// Calls vtable entry `index` of `object` with sentinels for the slot's own
// parameter types; returns the result and the bytes the backend should see.
template <class... A, size_t... Is>
std::pair<HRESULT, std::string> callWithSentinelsAt(void* object, size_t index, Sentinels& s,
                                                    HRESULT(STDMETHODCALLTYPE*)(void*, A...),
                                                    std::index_sequence<Is...>) {
    std::tuple<std::remove_cvref_t<A>...> values{s.make<A>(static_cast<int>(Is) + 1)...};
    std::string expected = s.expected(values);
    void** vtable = *static_cast<void***>(object);
    auto fn = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*, A...)>(vtable[index]);
    HRESULT hr = std::apply([&](auto&... v) { return fn(object, v...); }, values);
    return {hr, expected};
}

// Calls vtable entry `index` of `object` with sentinels for the slot's own
// parameter types; returns the result and the bytes the backend should see.
template <class... A>
std::pair<HRESULT, std::string> callWithSentinels(void* object, size_t index, Sentinels& s,
                                                  HRESULT(STDMETHODCALLTYPE* fn)(void*, A...)) {
    return callWithSentinelsAt(object, index, s, fn, std::index_sequence_for<A...>());
}

// The backend object under a wrapper.
inline IUnknown* wrappedOf(IUnknown* wrapper) {
    IBackendWrapper* bw = nullptr;
    if (FAILED(wrapper->QueryInterface(IID_IBackendWrapper, reinterpret_cast<void**>(&bw)))) {
        return nullptr;
    }
    IUnknown* inner = nullptr;
    bw->GetWrapped(&inner, false);
    bw->Release();
    return inner;
}

}  // namespace fakes
