// The wrapper methods that do more than one bound call: opening a property
// object under a caller-chosen interface, creating an asynchronous call
// object, and copying a backend stream into a stream of the caller's own.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "BackendWrappers/WrapperBase.h"
#include "CommonBase/HResultException.h"
#include "winplat/objidl.h"

namespace BackendWrappers::special {

// Releases `object` through the wrapper's call layer; in place when that
// cannot be posted.
template <class Wrapper>
void releaseThrough(const Wrapper& self, IUnknown* object) {
    auto release = [object] {
        object->Release();
        return S_OK;
    };
    if (self.call(release) != S_OK) {
        object->Release();
    }
}

// Opens the property as whatever the server gives, asks that object for the
// requested interface and wraps the answer by that interface's ID. The first
// object is released on every road.
template <class Wrapper>
HRESULT OpenProperty(Wrapper& self, ULONG ulPropTag, REFIID riid, ULONG ulInterfaceOptions, int fCreate,
                     int fModify, IUnknown** ppUnk) {
    if (FAILED(IsSupportedIID(riid))) {
        return E_NOINTERFACE;
    }
    IUnknown* opened = nullptr;
    IUnknown** openedOut = ppUnk ? &opened : nullptr;
    auto open = [&, backend = self.wrapped()] {
        return backend->OpenProperty(ulPropTag, riid, ulInterfaceOptions, fCreate, fModify, openedOut);
    };
    HRESULT hr = self.call(open);
    if (FAILED(hr)) {
        return hr;
    }
    if (!opened) {
        // Success without an object is no success for a caller who asked for one.
        return ppUnk ? E_INVALIDARG : hr;
    }
    IUnknown* asked = nullptr;
    auto query = [&] { return opened->QueryInterface(riid, reinterpret_cast<void**>(&asked)); };
    HRESULT queried = self.call(query);
    releaseThrough(self, opened);
    if (FAILED(queried)) {
        return queried;
    }
    if (!asked) {
        return E_INVALIDARG;
    }
    return detail::createWrapperByIid(riid, reinterpret_cast<void**>(ppUnk), asked, self.direct(),
                                      self.caller());
}

// Creates the call object with the outer object unwrapped and wraps it by
// the requested interface's ID.
template <class Wrapper>
HRESULT CreateCall(Wrapper& self, REFIID riid, IUnknown* pCtrlUnk, REFIID riid2, IUnknown** ppv) {
    if (HRESULT unwrapped = self.unwrap(&pCtrlUnk); FAILED(unwrapped)) {
        return unwrapped;
    }
    IUnknown* created = nullptr;
    IUnknown** createdOut = ppv ? &created : nullptr;
    auto create = [&, backend = self.wrapped()] {
        return backend->CreateCall(riid, pCtrlUnk, riid2, createdOut);
    };
    HRESULT hr = self.call(create);
    if (FAILED(hr) || !ppv) {
        return hr;
    }
    HRESULT wrapped = detail::createWrapperByIid(riid2, reinterpret_cast<void**>(ppv), created, self.direct(),
                                                 self.caller());
    if (wrapped == E_NOINTERFACE && created) {
        // Refused without being taken over: still ours to give up.
        releaseThrough(self, created);
    }
    return FAILED(wrapped) ? wrapped : hr;
}

inline constexpr ULONG CopyChunk = 1000000;

// Copies from the wrapped backend stream into a stream of the caller's own:
// reads through the call layer, writes on the calling thread. Bytes a
// destination does not take are offered again; the totals always hold the
// bytes written so far and the bytes read so far (or, as the build says,
// those of the chunks written in full).
template <class Wrapper>
HRESULT copyToInplace(Wrapper& self, IStream* destination, ULARGE_INTEGER* pcbRead,
                      ULARGE_INTEGER* pcbWritten, ULARGE_INTEGER cb) {
    const auto fail = [](HRESULT hr, int line) {
        ErrorLocation{2, build::StreamFile, line, build::StreamCopyFunction}.raise(hr);
    };
    try {
        return hresultOf([&]() -> HRESULT {
            if (!destination) {
                fail(STG_E_INVALIDPOINTER, build::StreamNullDestinationLine);
            }
            if (pcbRead) {
                pcbRead->QuadPart = 0;
            }
            if (pcbWritten) {
                pcbWritten->QuadPart = 0;
            }
            std::unique_ptr<BYTE[]> buffer(new BYTE[CopyChunk]);
            uint64_t remaining = cb.QuadPart;
            while (remaining > 0) {
                const ULONG chunk = remaining < CopyChunk ? static_cast<ULONG>(remaining) : CopyChunk;
                ULONG read = 0;
                auto readChunk = [&, backend = self.wrapped()] {
                    return backend->Read(buffer.get(), chunk, &read);
                };
                HRESULT hr = self.call(readChunk);
                if (FAILED(hr)) {
                    fail(hr, build::StreamReadLine);
                }
                if (read > chunk) {
                    fail(STG_E_READFAULT, build::StreamReadLine);
                }
                if (read == 0) {
                    break;
                }
                if (pcbRead && !build::CountReadAfterWrite) {
                    pcbRead->QuadPart += read;
                }
                for (ULONG offered = 0; offered < read;) {
                    ULONG written = 0;
                    hr = destination->Write(buffer.get() + offered, read - offered, &written);
                    if (FAILED(hr)) {
                        fail(hr, build::StreamWriteLine);
                    }
                    if (written > read - offered) {
                        fail(STG_E_WRITEFAULT, build::StreamWriteLine);
                    }
                    if (written == 0) {
                        fail(STG_E_MEDIUMFULL, build::StreamWriteLine);
                    }
                    offered += written;
                    if (pcbWritten) {
                        pcbWritten->QuadPart += written;
                    }
                }
                if (pcbRead && build::CountReadAfterWrite) {
                    pcbRead->QuadPart += read;
                }
                remaining -= read;
            }
            return S_OK;
        });
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// A wrapper as destination: the server copies between its own streams.
// Anything else is copied here.
template <class Wrapper>
HRESULT CopyTo(Wrapper& self, IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
               ULARGE_INTEGER* pcbWritten) {
    bool unwrapped = false;
    if (HRESULT hr = Wrapper::UnwrapArgument(reinterpret_cast<IUnknown**>(&pstm), &unwrapped); FAILED(hr)) {
        return hr;
    }
    if (!unwrapped) {
        return copyToInplace(self, pstm, pcbRead, pcbWritten, cb);
    }
    auto copy = [&, backend = self.wrapped()] { return backend->CopyTo(pstm, cb, pcbRead, pcbWritten); };
    return self.call(copy);
}

}  // namespace BackendWrappers::special
