// External connections of aggregated stream objects and the watcher thread
// that disconnects them once their client processes have all ended.
//
// CExternalConnection<1> is aggregated into an outer object (DataStream): it
// counts strong connections and, from the first one, lists the outer object
// with the process-wide watcher detail::ClientWatcher<1>. Client processes are
// registered with the watcher; when the last registered process has ended,
// every listed object is disconnected with CoDisconnectObject.
#pragma once

#include <atomic>
#include <map>
#include <set>

#include "Threads/CLock.h"
#include "Threads/Thread.h"
#include "winplat/objidl.h"

// {8EBDB69A-8ADE-446B-BF22-681AA08891D3}
DEFINE_GUID(IID_IClientManip, 0x8EBDB69A, 0x8ADE, 0x446B, 0xBF, 0x22, 0x68, 0x1A, 0xA0, 0x88, 0x91, 0xD3);

struct IClientManip : IUnknown {
    // The watcher owns a handle passed in; a null handle opens the process.
    STDMETHOD(registerClientProcess)(DWORD processId, HANDLE process) PURE;
    STDMETHOD(disconnect)() PURE;
};

// The aggregation face: IUnknown's three slots acting on the inner object.
struct INondelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NondelegatingQueryInterface(REFIID riid, void** out) = 0;
    virtual ULONG STDMETHODCALLTYPE NondelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NondelegatingRelease() = 0;
};

// An outer object that can refuse a new reference once its count has reached
// 0, so the watcher never revives an object that is being destroyed.
class IOuterLifetime {
  public:
    virtual bool tryAddRef() = 0;

  protected:
    ~IOuterLifetime() = default;
};

// At most this many client processes are watched at once: one wait takes 64
// handles, two of which are the thread's own events.
constexpr size_t kMaxWatchedClients = MAXIMUM_WAIT_OBJECTS - 2;
// Result of registering a client process beyond that.
#define CLIENT_WATCHER_E_TOO_MANY_CLIENTS HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES)

template <int N>
class CExternalConnection;

namespace detail {

template <int N>
class ClientWatcher : public Thread {
  public:
    // The singleton, made on first use and destroyed at exit.
    static ClientWatcher* instance();
    // The singleton when it exists (null before first use and after exit).
    static ClientWatcher* existing();

    HRESULT add(CExternalConnection<1>* connection);
    HRESULT remove(CExternalConnection<1>* connection);
    HRESULT registerClientProcess(DWORD processId, HANDLE process);

    size_t clientCount() const;
    size_t watchedCount() const;

    ~ClientWatcher() override;

  protected:
    void threadBody() override;

  private:
    ClientWatcher();
    static void destroy();
    void disconnectAll();

    CLock lock_;
    std::map<DWORD, HANDLE> processes_;
    std::set<CExternalConnection<1>*> watched_;
    HANDLE wake_;

    static std::atomic<ClientWatcher*> instance_;
};

// Registers a client process with the connection watcher (true) or with the
// second one (false).
HRESULT registerClientProcess(bool connectionWatcher, DWORD processId, HANDLE process);

}  // namespace detail

template <int N>
class CExternalConnection : public IExternalConnection,
                            public IClientManip,
                            public INondelegatingUnknown,
                            public CLock {
  public:
    // Hands out the nondelegating IUnknown with one reference. A null outer
    // object gives E_FAIL. `lifetime`, when given, is asked before the watcher
    // takes a reference on the outer object.
    static HRESULT create(IUnknown* outer, IUnknown** out, IOuterLifetime* lifetime = nullptr);

    // IUnknown of the IExternalConnection and IClientManip faces: the outer object's.
    STDMETHOD(QueryInterface)(REFIID riid, void** out) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;

    STDMETHOD_(DWORD, AddConnection)(DWORD extconn, DWORD reserved) override;
    STDMETHOD_(DWORD, ReleaseConnection)(DWORD extconn, DWORD reserved, BOOL lastReleaseCloses) override;

    STDMETHOD(registerClientProcess)(DWORD processId, HANDLE process) override;
    STDMETHOD(disconnect)() override;

    HRESULT STDMETHODCALLTYPE NondelegatingQueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE NondelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NondelegatingRelease() override;

    // A counted IClientManip face, or null when the outer object is going away.
    IClientManip* tryReference();
    ULONG connectionCount() const;

  private:
    // The IUnknown handed out for the nondelegating face.
    class InnerUnknown : public IUnknown {
      public:
        explicit InnerUnknown(CExternalConnection* owner) : owner_(owner) {}
        STDMETHOD(QueryInterface)(REFIID riid, void** out) override {
            return owner_->NondelegatingQueryInterface(riid, out);
        }
        STDMETHOD_(ULONG, AddRef)() override { return owner_->NondelegatingAddRef(); }
        STDMETHOD_(ULONG, Release)() override { return owner_->NondelegatingRelease(); }

      private:
        CExternalConnection* owner_;
    };

    CExternalConnection(IUnknown* outer, IOuterLifetime* lifetime);
    virtual ~CExternalConnection();

    InnerUnknown inner_{this};

    volatile LONG refCount_ = 1;
    ULONG connections_ = 0;
    IUnknown* outer_;
    LONG registered_ = 0;
    IOuterLifetime* lifetime_;
    std::atomic<bool> disconnecting_{false};
};

extern template class CExternalConnection<1>;
extern template class detail::ClientWatcher<0>;
extern template class detail::ClientWatcher<1>;
