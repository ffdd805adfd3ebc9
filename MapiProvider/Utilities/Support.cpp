#include "MapiProvider/Utilities/Support.h"

#include "CommonBase/HResultException.h"
#include "winplat/windows.h"

namespace Utilities {
namespace {

const char* const ModulePath = "MapiProvider\\Utilities\\Support";
const char* const FunctionName = "Utilities::Support::setAllocationFunctions";

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
    if (!allocateBuffer || !allocateMore || !freeBuffer) {
        raiseHResult(E_INVALIDARG, 2, ModulePath, __LINE__, FunctionName, nullptr);
    }
    // COM loaded the module as the proxy/stub of the backend's interfaces.
    HMODULE module = GetModuleHandleW(L"HollomarPS");
    if (!module) {
        raiseHResult(lastErrorAsHResult(), 2, ModulePath, __LINE__, FunctionName, nullptr);
    }
    auto set = reinterpret_cast<LPSETALLOCATIONFUNCTIONS>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "setAllocationFunctions")));
    if (!set) {
        raiseHResult(lastErrorAsHResult(), 2, ModulePath, __LINE__, FunctionName, nullptr);
    }
    HRESULT hr = set(allocateBuffer, allocateMore, freeBuffer);
    if (FAILED(hr)) {
        raiseHResult(hr, 2, ModulePath, __LINE__, FunctionName, nullptr);
    }
}

}  // namespace Utilities
