// A 128-bit COM GUID as a value: parsing and printing of the braced upper-case
// and bare lower-case text forms, creation, raw bytes, comparison and hashing.
#pragma once

#include <cstdint>
#include <string>

#include "winplat/types.h"

class Guid {
  public:
    Guid();
    // Null data raises E_POINTER ("NULL GUID data").
    explicit Guid(const GUID* data);
    // A text that does not parse raises E_INVALIDARG when raiseIfInvalid is
    // set, else leaves the null value.
    Guid(const std::wstring& text, bool raiseIfInvalid);
    // A text that does not parse raises E_INVALIDARG.
    explicit Guid(const std::string& text);

    Guid& operator=(const std::wstring& text);
    Guid& operator=(const std::string& text);
    Guid& operator=(const GUID* data);

    void setData(const void* data, unsigned size);
    void setData(const std::string& bytes);

    // A new value from the system's GUID generator; its failure is raised.
    static Guid create();

    // S_OK or E_INVALIDARG; the value changes only on S_OK.
    HRESULT parse(const std::wstring& text);
    HRESULT parse(const std::string& text);

    // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", 38 characters.
    std::wstring toBracedString() const;
    std::string toBracedStringA() const;
    // "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", 36 characters.
    std::wstring toPlainString() const;
    std::string toPlainStringA() const;
    // The 16 bytes in memory order.
    std::string toBytes() const;

    bool operator==(const Guid& other) const;
    bool operator!=(const Guid& other) const { return !(*this == other); }
    // Byte-wise over the memory layout (low byte of Data1 first), not the
    // order of the text forms.
    bool operator<(const Guid& other) const;
    bool isNull() const;
    explicit operator bool() const { return !isNull(); }
    uint32_t hash() const;

    // E_POINTER for a null out, E_INVALIDARG for the null value, E_OUTOFMEMORY;
    // the caller frees the copy with CoTaskMemFree.
    HRESULT copyToCoTaskMem(GUID** out) const;

    const GUID& get() const { return data_; }
    const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(&data_); }

  private:
    GUID data_;
};

struct GuidHash {
    size_t operator()(const Guid& g) const { return g.hash(); }
};
