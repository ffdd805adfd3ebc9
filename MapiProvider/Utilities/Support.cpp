#include "MapiProvider/Utilities/Support.h"

#include "CommonBase/BuildTraits.h"
#include "CommonBase/HResultException.h"
#include "MapiProvider/Utilities/MapiStubs.h"
#include "winplat/windows.h"

namespace Utilities {
namespace {

namespace sites = buildTraits::support;
const char* const FunctionName = "Utilities::Support::setAllocationFunctions";

[[noreturn]] void raiseAt(const buildTraits::RaiseSite& site, HRESULT hr) {
    ErrorLocation{2, site.file, site.line, FunctionName}.raise(hr);
}

// A failed lookup that left no last error must still read as a failure.
HRESULT lastErrorAsHResult() {
    DWORD error = GetLastError();
    HRESULT hr = static_cast<LONG>(error) > 0 ? static_cast<HRESULT>((error & 0xFFFFu) | 0x80070000u)
                                              : static_cast<HRESULT>(error);
    return hr == S_OK ? E_FAIL : hr;
}

}  // namespace

void Support::setAllocationFunctions(LPALLOCATEBUFFER allocateBuffer, LPALLOCATEMORE allocateMore,
                                     LPFREEBUFFER freeBuffer) {
    if (!allocateBuffer) {
        raiseAt(sites::NullAllocateBuffer, E_INVALIDARG);
    }
    if (!allocateMore) {
        raiseAt(sites::NullAllocateMore, E_INVALIDARG);
    }
    if (!freeBuffer) {
        raiseAt(sites::NullFreeBuffer, E_INVALIDARG);
    }
    // COM loaded the module as the proxy/stub of the backend's interfaces.
    HMODULE module = GetModuleHandleW(L"HollomarPS");
    if (!module) {
        raiseAt(sites::NoModule, lastErrorAsHResult());
    }
    auto set = reinterpret_cast<LPSETALLOCATIONFUNCTIONS>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "setAllocationFunctions")));
    if (!set) {
        raiseAt(sites::NoExport, lastErrorAsHResult());
    }
    HRESULT hr = set(allocateBuffer, allocateMore, freeBuffer);
    if (FAILED(hr)) {
        raiseAt(sites::ExportFailed, hr);
    }
}

void Support::setAllocationFunctions() {
    setAllocationFunctions(MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer);
}

}  // namespace Utilities
