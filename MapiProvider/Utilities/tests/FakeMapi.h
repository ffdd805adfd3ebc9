// Test doubles: an allocator over the task-allocator routines (whose blocks
// the COM runtime counts) and a property object with a scripted GetProps.
#pragma once

#include <atomic>
#include <cstring>
#include <functional>

#include "MapiProvider/Utilities/MapiAllocator.h"
#include "winplat/mapix.h"

class TaskAllocator : public IMapiAllocator {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE allocateBuffer(ULONG size, LPVOID* out) override {
        return coTaskMemAllocateBuffer(size, out);
    }
    HRESULT STDMETHODCALLTYPE allocateMore(ULONG size, LPVOID parent, LPVOID* out) override {
        if (failMore) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        return coTaskMemAllocateMore(size, parent, out);
    }
    HRESULT STDMETHODCALLTYPE freeBuffer(LPVOID block) override {
        ++frees;
        return static_cast<HRESULT>(coTaskMemFreeBuffer(block));
    }
    HRESULT STDMETHODCALLTYPE getAllocationFunctions(LPALLOCATEBUFFER* a, LPALLOCATEMORE* m,
                                                     LPFREEBUFFER* f) override {
        if (a) {
            *a = coTaskMemAllocateBuffer;
        }
        if (m) {
            *m = coTaskMemAllocateMore;
        }
        if (f) {
            *f = coTaskMemFreeBuffer;
        }
        return S_OK;
    }
    bool failMore = false;
    int frees = 0;
};

// GetProps answers with `result`, `count` and an array built by `fill`
// (task memory); every other slot is unused.
class ScriptedProp : public IMAPIProp {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetLastError(HRESULT, ULONG, LPMAPIERROR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SaveChanges(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count,
                                       LPSPropValue* values) override {
        askedTag = tags && tags->cValues == 1 ? tags->aulPropTag[0] : 0;
        askedFlags = flags;
        *count = answerCount;
        *values = nullptr;
        if (fill) {
            SPropValue* array = nullptr;
            coTaskMemAllocateBuffer(sizeof(SPropValue) * 2, reinterpret_cast<void**>(&array));
            std::memset(array, 0, sizeof(SPropValue) * 2);
            fill(array);
            *values = array;
        }
        return result;
    }
    HRESULT STDMETHODCALLTYPE GetPropList(ULONG, LPSPropTagArray*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID,
                                     LPVOID, ULONG, LPSPropProblemArray*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                                        LPSPropProblemArray*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*,
                                              LPMAPINAMEID**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) override {
        return E_NOTIMPL;
    }

    HRESULT result = S_OK;
    ULONG answerCount = 1;
    std::function<void(SPropValue*)> fill;
    ULONG askedTag = 0;
    ULONG askedFlags = 99;
};
