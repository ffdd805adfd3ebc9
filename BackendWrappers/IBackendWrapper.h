// IBackendWrapper: the wrappers' own interface. A caller (or the layer itself,
// when a wrapper comes back as an argument) reaches the backend object that a
// wrapper stands for through GetWrapped.
#pragma once

#include "winplat/com.h"

struct IBackendWrapper : public IUnknown {
    // The wrapped backend pointer, without a reference of its own; addRef adds
    // one to the wrapper, which keeps the backend object alive. Null out: E_POINTER.
    STDMETHOD(GetWrapped)(IUnknown** ppWrapped, bool addRef) PURE;
};

inline constexpr IID IID_IBackendWrapper = {
    0x0385221C, 0xEDE1, 0x45E9, {0x88, 0x57, 0xCE, 0x36, 0x74, 0x9C, 0xA3, 0x50}};
