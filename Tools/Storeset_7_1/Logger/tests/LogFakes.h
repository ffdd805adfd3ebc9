// Recording fakes of the backend's ILog and ILogManager, made from the 7.1
// tables: every slot not written here answers E_NOTIMPL.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "Backend/v71/ILog.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

#define LOGFAKE_NOT_IMPLEMENTED(slot, name, params, args, treatment) \
    HRESULT STDMETHODCALLTYPE name params override {                 \
        return E_NOTIMPL;                                            \
    }

template <class I>
class FakeUnknown : public I {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, BackendIid<I>::value)) {
            AddRef();
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

    // Held by the test itself; anything above 1 is a reference someone kept.
    std::atomic<ULONG> refs{1};
};

struct LogManagerSlots : FakeUnknown<ILogManager> {
    BACKEND_ILOGMANAGER_SLOTS(LOGFAKE_NOT_IMPLEMENTED)
};
struct LogSlots : FakeUnknown<ILog> {
    BACKEND_ILOG_SLOTS(LOGFAKE_NOT_IMPLEMENTED)
};

class FakeLogManager : public LogManagerSlots {
  public:
    explicit FakeLogManager(uint32_t n = 1) : id_{n, 0x71, 0x4C, {1, 2, 3, 4, 5, 6, 7, 8}} {}

    HRESULT STDMETHODCALLTYPE GetMasks(ULONG* first, ULONG* second) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++maskReads;
        if (FAILED(masksResult)) {
            return masksResult;
        }
        *first = firstMask;
        *second = secondMask;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Slot7(ISynchronize* sync, ULONG* cookie) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (FAILED(watchResult)) {
            return watchResult;
        }
        sync->AddRef();
        watch = sync;
        *cookie = nextCookie;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Slot8(ULONG cookie) override {
        std::lock_guard<std::mutex> lock(mutex_);
        endedCookies.push_back(cookie);
        if (watch) {
            watch->Release();
            watch = nullptr;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Slot9(GUID* id) override {
        *id = id_;
        return S_OK;
    }

    void setMasks(ULONG first, ULONG second) {
        std::lock_guard<std::mutex> lock(mutex_);
        firstMask = first;
        secondMask = second;
    }

    std::mutex mutex_;
    ULONG firstMask = 0;
    ULONG secondMask = 0;
    HRESULT masksResult = S_OK;
    HRESULT watchResult = S_OK;
    ULONG nextCookie = 0x5151;
    int maskReads = 0;
    ISynchronize* watch = nullptr;
    std::vector<ULONG> endedCookies;

  private:
    GUID id_;
};

struct Written {
    _LogSeverity severity;
    _LogFacility facility;
    ULONG threadId;
    std::wstring text;
};

class FakeLog : public LogSlots {
  public:
    explicit FakeLog(FakeLogManager* manager) : manager_(manager) {}

    HRESULT STDMETHODCALLTYPE WriteEntry(_LogSeverity severity, _LogFacility facility, ULONG threadId,
                                         const wchar_t* text) override {
        written.push_back({severity, facility, threadId, text});
        return writeResult;
    }
    HRESULT STDMETHODCALLTYPE GetLogManager(ILogManager** out) override {
        if (FAILED(managerResult)) {
            return managerResult;
        }
        manager_->AddRef();
        *out = manager_;
        return S_OK;
    }

    std::vector<Written> written;
    HRESULT writeResult = S_OK;
    HRESULT managerResult = S_OK;

  private:
    FakeLogManager* manager_;
};
