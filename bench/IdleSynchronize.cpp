// The do-nothing object behind the wrapper benchmarks, kept out of their
// translation unit: there the compiler knows no type of it and cannot turn
// the peer's virtual call into a guarded direct one.
#include "winplat/windows.h"

namespace {

struct IdleSync : ISynchronize {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Wait(DWORD, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Signal() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
};

}  // namespace

ISynchronize* idleSynchronize() {
    static IdleSync object;
    return &object;
}
