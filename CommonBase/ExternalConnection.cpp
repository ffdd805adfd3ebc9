#include "CommonBase/ExternalConnection.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

#include "winplat/windows.h"

namespace detail {

template <int N>
std::atomic<ClientWatcher<N>*> ClientWatcher<N>::instance_{nullptr};

namespace {
// Set once a watcher has been destroyed at exit; it is not made again.
template <int N>
std::atomic<bool> watcherGone{false};

std::mutex& creationMutex() {
    static std::mutex mutex;
    return mutex;
}
}  // namespace

template <int N>
ClientWatcher<N>* ClientWatcher<N>::instance() {
    ClientWatcher* watcher = instance_.load(std::memory_order_acquire);
    if (watcher) {
        return watcher;
    }
    std::lock_guard<std::mutex> guard(creationMutex());
    watcher = instance_.load(std::memory_order_acquire);
    if (!watcher && !watcherGone<N>.load()) {
        watcher = new ClientWatcher();
        instance_.store(watcher, std::memory_order_release);
        std::atexit(&ClientWatcher::destroy);
    }
    return watcher;
}

template <int N>
ClientWatcher<N>* ClientWatcher<N>::existing() {
    return instance_.load(std::memory_order_acquire);
}

template <int N>
void ClientWatcher<N>::destroy() {
    ClientWatcher* watcher = nullptr;
    {
        std::lock_guard<std::mutex> guard(creationMutex());
        watcher = instance_.exchange(nullptr);
        watcherGone<N>.store(true);
    }
    delete watcher;
}

template <int N>
ClientWatcher<N>::ClientWatcher() : Thread(false, std::string()), lock_(true) {
    wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

template <int N>
ClientWatcher<N>::~ClientWatcher() {
    shutDown();
    CLockGuard guard(lock_);
    for (auto& entry : processes_) {
        CloseHandle(entry.second);
    }
    processes_.clear();
    watched_.clear();
    if (wake_) {
        CloseHandle(wake_);
    }
}

template <int N>
HRESULT ClientWatcher<N>::add(CExternalConnection<1>* connection) {
    if (!connection) {
        return E_INVALIDARG;
    }
    CLockGuard guard(lock_);
    return watched_.insert(connection).second ? S_OK : S_FALSE;
}

template <int N>
HRESULT ClientWatcher<N>::remove(CExternalConnection<1>* connection) {
    if (!connection) {
        return E_INVALIDARG;
    }
    CLockGuard guard(lock_);
    return watched_.erase(connection) ? S_OK : S_FALSE;
}

template <int N>
HRESULT ClientWatcher<N>::registerClientProcess(DWORD processId, HANDLE process) {
    {
        CLockGuard guard(lock_);
        auto known = processes_.find(processId);
        if (known != processes_.end()) {
            // The handle was handed over; one for this process is already kept.
            if (process && process != known->second) {
                CloseHandle(process);
            }
            return S_FALSE;
        }
        // One wait takes at most 64 handles; refuse rather than stop watching.
        if (processes_.size() >= kMaxWatchedClients) {
            if (process) {
                CloseHandle(process);
            }
            return CLIENT_WATCHER_E_TOO_MANY_CLIENTS;
        }
        if (!process) {
            process = OpenProcess(SYNCHRONIZE, FALSE, processId);
            if (!process) {
                DWORD error = GetLastError();
                return error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error);
            }
        }
        processes_.emplace(processId, process);
        run();
    }
    SetEvent(wake_);
    return S_OK;
}

template <int N>
size_t ClientWatcher<N>::clientCount() const {
    CLockGuard guard(lock_);
    return processes_.size();
}

template <int N>
size_t ClientWatcher<N>::watchedCount() const {
    CLockGuard guard(lock_);
    return watched_.size();
}

template <int N>
void ClientWatcher<N>::threadBody() {
    std::vector<HANDLE> handles;
    while (true) {
        {
            CLockGuard guard(lock_);
            handles.assign({getTerminationEvent(), wake_});
            for (auto& entry : processes_) {
                handles.push_back(entry.second);
            }
        }
        DWORD result =
            WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
        if (result == WAIT_OBJECT_0) {
            return;
        }
        if (result == WAIT_OBJECT_0 + 1) {
            continue;
        }
        if (result < WAIT_OBJECT_0 + 2 || result >= WAIT_OBJECT_0 + handles.size()) {
            return;  // the wait failed
        }
        HANDLE ended = handles[result - WAIT_OBJECT_0];
        size_t remaining = 0;
        {
            CLockGuard guard(lock_);
            for (auto it = processes_.begin(); it != processes_.end(); ++it) {
                if (it->second == ended) {
                    processes_.erase(it);
                    break;
                }
            }
            remaining = processes_.size();
        }
        // Closed only after its entry is gone, so a reused handle value cannot
        // match the wrong entry.
        CloseHandle(ended);
        if (remaining == 0) {
            disconnectAll();
        }
    }
}

template <int N>
void ClientWatcher<N>::disconnectAll() {
    std::vector<IClientManip*> targets;
    {
        CLockGuard guard(lock_);
        targets.reserve(watched_.size());
        for (CExternalConnection<1>* connection : watched_) {
            // An object whose last reference is already gone is being
            // destroyed and leaves the set on its own.
            if (IClientManip* target = connection->tryReference()) {
                targets.push_back(target);
            }
        }
    }
    for (IClientManip* target : targets) {
        target->disconnect();
    }
    for (IClientManip* target : targets) {
        target->Release();
    }
}

template class ClientWatcher<0>;
template class ClientWatcher<1>;

HRESULT registerClientProcess(bool connectionWatcher, DWORD processId, HANDLE process) {
    if (connectionWatcher) {
        ClientWatcher<1>* watcher = ClientWatcher<1>::instance();
        return watcher ? watcher->registerClientProcess(processId, process) : E_UNEXPECTED;
    }
    ClientWatcher<0>* watcher = ClientWatcher<0>::instance();
    return watcher ? watcher->registerClientProcess(processId, process) : E_UNEXPECTED;
}

}  // namespace detail

// ---------------------------------------------------------------------------
template <int N>
CExternalConnection<N>::CExternalConnection(IUnknown* outer, IOuterLifetime* lifetime)
    : CLock(true), outer_(outer), lifetime_(lifetime) {}

template <int N>
CExternalConnection<N>::~CExternalConnection() {
    if (registered_) {
        if (auto* watcher = detail::ClientWatcher<1>::existing()) {
            watcher->remove(this);
        }
    }
}

template <int N>
HRESULT CExternalConnection<N>::create(IUnknown* outer, IUnknown** out, IOuterLifetime* lifetime) {
    if (!outer) {
        return E_FAIL;
    }
    if (!out) {
        return E_INVALIDARG;
    }
    CExternalConnection* connection = new (std::nothrow) CExternalConnection(outer, lifetime);
    if (!connection) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = connection->NondelegatingQueryInterface(IID_IUnknown, reinterpret_cast<void**>(out));
    connection->NondelegatingRelease();
    return hr;
}

template <int N>
STDMETHODIMP CExternalConnection<N>::QueryInterface(REFIID riid, void** out) {
    return outer_->QueryInterface(riid, out);
}

template <int N>
STDMETHODIMP_(ULONG)
CExternalConnection<N>::AddRef() {
    return outer_->AddRef();
}

template <int N>
STDMETHODIMP_(ULONG)
CExternalConnection<N>::Release() {
    return outer_->Release();
}

template <int N>
STDMETHODIMP_(DWORD)
CExternalConnection<N>::AddConnection(DWORD extconn, DWORD) {
    if ((extconn & EXTCONN_STRONG) == 0) {
        return 0;
    }
    CLockGuard guard(this);
    if (connections_ == 0) {
        // Object lock before watcher lock, never the reverse.
        if (auto* watcher = detail::ClientWatcher<1>::instance()) {
            watcher->add(this);
            registered_ = 1;
        }
    }
    return ++connections_;
}

template <int N>
STDMETHODIMP_(DWORD)
CExternalConnection<N>::ReleaseConnection(DWORD extconn, DWORD, BOOL lastReleaseCloses) {
    if ((extconn & EXTCONN_STRONG) == 0) {
        return 0;
    }
    ULONG count = 0;
    {
        CLockGuard guard(this);
        if (connections_ > 0) {
            --connections_;
        }
        count = connections_;
    }
    if (count == 0 && lastReleaseCloses) {
        disconnect();
    }
    return count;
}

template <int N>
STDMETHODIMP CExternalConnection<N>::registerClientProcess(DWORD processId, HANDLE process) {
    auto* watcher = detail::ClientWatcher<1>::instance();
    if (!watcher) {
        if (process) {
            CloseHandle(process);
        }
        return E_UNEXPECTED;
    }
    return watcher->registerClientProcess(processId, process);
}

template <int N>
STDMETHODIMP CExternalConnection<N>::disconnect() {
    // CoDisconnectObject may come back through ReleaseConnection.
    if (disconnecting_.exchange(true)) {
        return S_OK;
    }
    if (auto* watcher = detail::ClientWatcher<1>::existing()) {
        watcher->remove(this);
    }
    {
        CLockGuard guard(this);
        connections_ = 0;
    }
    HRESULT hr = CoDisconnectObject(outer_, 0);
    disconnecting_.store(false);
    return hr;
}

template <int N>
HRESULT STDMETHODCALLTYPE CExternalConnection<N>::NondelegatingQueryInterface(REFIID riid, void** out) {
    if (!out) {
        return E_INVALIDARG;
    }
    IUnknown* face = nullptr;
    if (IsEqualGUID(riid, IID_IUnknown)) {
        face = &inner_;
    } else if (IsEqualGUID(riid, IID_IExternalConnection)) {
        face = static_cast<IExternalConnection*>(this);
    } else if (IsEqualGUID(riid, IID_IClientManip)) {
        face = static_cast<IClientManip*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    face->AddRef();
    *out = face;
    return S_OK;
}

template <int N>
ULONG STDMETHODCALLTYPE CExternalConnection<N>::NondelegatingAddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&refCount_));
}

template <int N>
ULONG STDMETHODCALLTYPE CExternalConnection<N>::NondelegatingRelease() {
    LONG count = InterlockedDecrement(&refCount_);
    if (count == 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

template <int N>
IClientManip* CExternalConnection<N>::tryReference() {
    if (lifetime_) {
        if (!lifetime_->tryAddRef()) {
            return nullptr;
        }
    } else {
        outer_->AddRef();
    }
    return static_cast<IClientManip*>(this);
}

template <int N>
ULONG CExternalConnection<N>::connectionCount() const {
    CLockGuard guard(this);
    return connections_;
}

template class CExternalConnection<1>;
