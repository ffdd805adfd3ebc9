// Small owners of COM, MAPI and registry resources, so that every way out of
// a scope, a raised HResultException included, gives the resource back.
#pragma once

#include <cstddef>
#include <functional>

#include "winplat/types.h"
#include "winplat/com.h"
#include "winplat/mapi.h"

class BstrHolder {
  public:
    explicit BstrHolder(BSTR text = nullptr) : text_(text) {}
    ~BstrHolder();
    BstrHolder(const BstrHolder&) = delete;
    BstrHolder& operator=(const BstrHolder&) = delete;

    BSTR get() const { return text_; }

  private:
    BSTR text_;
};

class ScopedMapiBuffer {
  public:
    ScopedMapiBuffer(LPFREEBUFFER freeBuffer, void* buffer, bool owned = true)
        : freeBuffer_(freeBuffer), buffer_(buffer), owned_(owned) {}
    ~ScopedMapiBuffer();
    ScopedMapiBuffer(const ScopedMapiBuffer&) = delete;
    ScopedMapiBuffer& operator=(const ScopedMapiBuffer&) = delete;

    void* get() const { return buffer_; }

  private:
    LPFREEBUFFER freeBuffer_;
    void* buffer_;
    bool owned_;
};

namespace detail {
// The shape shared by the backend's counted arrays: a 32-bit count, then a
// pointer to a separately allocated element buffer.
struct CountedArrayLayout {
    ULONG count;
    void* elements;
};
ULONG releaseCountedArray(LPFREEBUFFER freeBuffer, CountedArrayLayout* record);
}  // namespace detail

// A counted-array record and its element buffer, freed elements first; the
// record is freed only when the elements were.
template <typename Record>
class ScopedMapiArray {
    static_assert(sizeof(Record) == sizeof(detail::CountedArrayLayout), "not a counted-array record");

  public:
    ScopedMapiArray(LPFREEBUFFER freeBuffer, Record* record, bool owned = true)
        : freeBuffer_(freeBuffer), record_(record), owned_(owned) {}
    ~ScopedMapiArray() { release(); }
    ScopedMapiArray(const ScopedMapiArray&) = delete;
    ScopedMapiArray& operator=(const ScopedMapiArray&) = delete;

    Record* get() const { return record_; }

    // The last free routine's result, or 0 when nothing was freed.
    ULONG release() {
        ULONG result = 0;
        if (record_ && owned_ && freeBuffer_)
            result = detail::releaseCountedArray(freeBuffer_,
                                                 reinterpret_cast<detail::CountedArrayLayout*>(record_));
        record_ = nullptr;
        return result;
    }

  private:
    LPFREEBUFFER freeBuffer_;
    Record* record_;
    bool owned_;
};

class ScopeGuard {
  public:
    static ScopeGuard make(std::function<void()> routine) { return ScopeGuard(std::move(routine)); }
    ScopeGuard(ScopeGuard&& other) noexcept
        : dismissed_(other.dismissed_), routine_(std::move(other.routine_)) {
        other.dismissed_ = true;
    }
    ~ScopeGuard() {
        if (!dismissed_ && routine_)
            routine_();
    }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;

    void dismiss() { dismissed_ = true; }

  private:
    explicit ScopeGuard(std::function<void()> routine) : dismissed_(false), routine_(std::move(routine)) {}

    bool dismissed_;
    std::function<void()> routine_;
};

// Releases the pointed-to interface when there is one; the pointer is kept.
template <typename I>
void releaseIfNotNull(I** p) {
    if (p && *p)
        (*p)->Release();
}

class RegistryKey {
  public:
    explicit RegistryKey(HKEY key = nullptr) : key_(key) {}
    ~RegistryKey() { close(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY get() const { return key_; }
    // Closes the held key and gives the slot to an opening call.
    HKEY* receive() {
        close();
        return &key_;
    }

    // The Win32 result of closing; 0 when no key is held.
    LONG close();

    // A REG_SZ or REG_EXPAND_SZ value with its terminating NUL. `length` is the
    // buffer's capacity in characters on the way in and the characters read,
    // NUL included, on the way out. A null buffer only measures.
    LONG queryStringValue(const wchar_t* valueName, wchar_t* buffer, ULONG* length) const;

  private:
    HKEY key_;
};

// Replaces the runtime library's invalid-parameter handler with one that does
// nothing, so that such a call returns its error result instead of ending the
// process. There is no such handler on this platform: the guard only records
// that it exists.
class InvalidParameterGuard {
  public:
    static InvalidParameterGuard* instance();
    static bool ensure();

  private:
    InvalidParameterGuard() = default;
};
