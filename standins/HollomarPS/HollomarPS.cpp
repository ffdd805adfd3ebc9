// Stand-in for the backend server's proxy/stub module. COM loads it when the
// server is created; the tool then hands it the MAPI memory routines, and the
// server builds its replies with them (the real proxy would marshal them into
// memory of those routines).
#include <atomic>

#include "MapiProvider/Utilities/Support.h"
#include "standins/common/Standin.h"

namespace {

std::atomic<LPALLOCATEBUFFER> allocateBuffer{nullptr};
std::atomic<LPALLOCATEMORE> allocateMore{nullptr};
std::atomic<LPFREEBUFFER> freeBuffer{nullptr};

void resetModule() {
    allocateBuffer = nullptr;
    allocateMore = nullptr;
    freeBuffer = nullptr;
}

}  // namespace

STANDIN_EXPORT HRESULT setAllocationFunctions(LPALLOCATEBUFFER a, LPALLOCATEMORE m, LPFREEBUFFER f) {
    HRESULT hr;
    if (standin::injected("HollomarPS!setAllocationFunctions", &hr)) {
        return hr;
    }
    standin::record().call(std::string("setAllocationFunctions") + (a && m && f ? "" : " null"));
    if (!a || !m || !f) {
        return E_INVALIDARG;
    }
    allocateBuffer = a;
    allocateMore = m;
    freeBuffer = f;
    return S_OK;
}

// For the stand-in server: the routines it must build its replies with.
STANDIN_EXPORT HRESULT standinGetAllocationFunctions(LPALLOCATEBUFFER* a, LPALLOCATEMORE* m,
                                                     LPFREEBUFFER* f) {
    if (!allocateBuffer.load()) {
        return E_UNEXPECTED;
    }
    *a = allocateBuffer;
    *m = allocateMore;
    *f = freeBuffer;
    return S_OK;
}

STANDIN_DEFINE_EXPORTS(resetModule)

static_assert(std::is_same_v<decltype(&setAllocationFunctions), LPSETALLOCATIONFUNCTIONS>);
