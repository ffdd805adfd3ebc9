#include "CommonBase/DataStream.h"

#include <algorithm>
#include <memory>
#include <new>

#include "CommonBase/HResultException.h"
#include "winplat/utf16.h"

namespace {

constexpr const char* kFile = "CommonBase\\StreamImpl";

[[noreturn]] void raise(HRESULT hr, const char* function, int line = __builtin_LINE()) {
    raiseHResult(hr, 2, kFile, line, function, nullptr);
}

void check(HRESULT hr, const char* function, int line = __builtin_LINE()) {
    if (FAILED(hr)) {
        raise(hr, function, line);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
template <>
STDMETHODIMP StreamCallbacksImpl<DataStream>::onCommit(IStreamData*) {
    if (owner_) {
        try {
            owner_->onCommitNotice();
        } catch (...) {
        }
    }
    return S_OK;
}

template <>
STDMETHODIMP StreamCallbacksImpl<DataStream>::onSizeChanged(IStreamData*, ULONGLONG size) {
    if (owner_) {
        try {
            owner_->onSizeNotice(size);
        } catch (...) {
        }
    }
    return S_OK;
}

template <>
StreamCallbacksImpl<DataStream>* StreamCallbacksImpl<DataStream>::create(DataStream* owner) {
    try {
        return new StreamCallbacksImpl(owner);
    } catch (const std::bad_alloc&) {
        raise(E_OUTOFMEMORY, "StreamCallbacksImpl::create");
    }
}

// ---------------------------------------------------------------------------
DataStream::DataStream(DWORD streamFlags, IStreamData* data, ULONGLONG position, const CLock* lock)
    : CLock(lock ? CLock(*lock) : CLock(true)),
      position_(position),
      streamFlags_(streamFlags),
      ownLock_(!lock) {
    if (!data) {
        raise(E_INVALIDARG, "DataStream::DataStream");
    }
    listener_ = StreamCallbacksImpl<DataStream>::create(this);
    HRESULT hr = data->registerCallback(listener_, &cookie_);
    if (FAILED(hr)) {
        listener_->Release();
        raise(hr, "DataStream::DataStream");
    }
    data_ = data;
    data_->AddRef();
}

DataStream::~DataStream() {
    // First, so a clone notifying on another thread no longer reaches us.
    data_->unregisterCallback(cookie_);
    if (connection_) {
        connection_->Release();
    }
    if (marshaler_) {
        marshaler_->Release();
    }
    listener_->detach();
    listener_->Release();
    data_->Release();
}

template <class Data>
HRESULT DataStream::makeData(DWORD flags, const CLock* lock, IStreamData** out) {
    if constexpr (std::is_same_v<Data, AdaptiveStreamData>) {
        return Data::create(flags, lock, out, static_cast<ULONG>(kAdaptiveThreshold));
    } else {
        return Data::create(flags, lock, out);
    }
}

template <class Data>
HRESULT DataStream::create(bool readOnly, bool autoCommit, bool commitOnRelease, IStream** out,
                           const void* content, size_t size) {
    return hresultOf([&] {
        if (!out) {
            raise(E_POINTER, "DataStream::create");
        }
        CLock lock(true);
        DWORD flags = (readOnly ? kStreamDataReadOnly : 0) | (autoCommit ? kStreamDataAutoCommit : 0);
        IStreamData* data = nullptr;
        check(makeData<Data>(flags, &lock, &data), "DataStream::create");
        std::unique_ptr<IStreamData, void (*)(IStreamData*)> dataHolder(data,
                                                                        [](IStreamData* d) { d->Release(); });
        if (!data) {
            raise(E_INVALIDARG, "DataStream::create");
        }
        DataStream* stream = new DataStream(commitOnRelease ? kStreamCommitOnRelease : 0, data, 0, &lock);
        std::unique_ptr<DataStream, void (*)(DataStream*)> streamHolder(stream,
                                                                        [](DataStream* s) { s->Release(); });
        check(stream->init(content, content ? size : 0), "DataStream::create");
        check(stream->QueryInterface(IID_IStream, reinterpret_cast<void**>(out)), "DataStream::create");
        return S_OK;
    });
}

template HRESULT DataStream::create<MemoryStreamData>(bool, bool, bool, IStream**, const void*, size_t);
template HRESULT DataStream::create<TempFileStreamData>(bool, bool, bool, IStream**, const void*, size_t);
template HRESULT DataStream::create<AdaptiveStreamData>(bool, bool, bool, IStream**, const void*, size_t);

HRESULT DataStream::wrap(IStreamData* data, IStream** out, DWORD streamFlags, ULONGLONG position,
                         const CLock* lock) {
    return hresultOf([&] {
        if (!out) {
            raise(E_POINTER, "DataStream::wrap");
        }
        DataStream* stream = new DataStream(streamFlags, data, position, lock);
        HRESULT hr = stream->QueryInterface(IID_IStream, reinterpret_cast<void**>(out));
        stream->Release();
        return hr;
    });
}

// ---------------------------------------------------------------------------
void DataStream::setAggregated() {
    IUnknown* self = nullptr;
    check(QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&self)), "DataStream::setAggregated");
    // The aggregates hold the controlling IUnknown without a reference of
    // their own; the one just taken must go again.
    std::unique_ptr<IUnknown, void (*)(IUnknown*)> selfHolder(self, [](IUnknown* u) { u->Release(); });
    if (!marshaler_) {
        check(CoCreateFreeThreadedMarshaler(self, &marshaler_), "DataStream::setAggregated");
    }
    if (!connection_) {
        check(CExternalConnection<1>::create(self, &connection_, this), "DataStream::setAggregated");
    }
}

HRESULT DataStream::init(const std::string& content) {
    return init(content.data(), content.size());
}

HRESULT DataStream::init(const std::wstring& content) {
    std::string bytes = winplat::wideToBytes(content);
    return init(bytes.data(), bytes.size());
}

HRESULT DataStream::init(const void* content, size_t size) {
    return hresultOf([&] {
        CLockGuard guard(this);
        setAggregated();
        if (!content || size == 0) {
            return S_OK;
        }
        if (size > 0xFFFFFFFFu) {
            raise(STG_E_MEDIUMFULL, "DataStream::init");
        }
        check(data_->beginInit(), "DataStream::init");
        HRESULT hr = S_OK;
        DWORD oldFlags = 0;
        hr = data_->setFlags(0, &oldFlags);
        if (SUCCEEDED(hr)) {
            ULONG written = 0;
            hr = data_->write(content, static_cast<ULONG>(size), 0, &written);
            if (SUCCEEDED(hr)) {
                hr = data_->commit(0);
            }
            HRESULT restored = data_->setFlags(oldFlags, nullptr);
            if (SUCCEEDED(hr)) {
                hr = restored;
            }
        }
        data_->endInit();
        check(hr, "DataStream::init");
        return S_OK;
    });
}

// ---------------------------------------------------------------------------
bool DataStream::tryAddRef() {
    LONG count = __atomic_load_n(&refCount_, __ATOMIC_SEQ_CST);
    while (count > 0) {
        LONG seen = InterlockedCompareExchange(&refCount_, count + 1, count);
        if (seen == count) {
            return true;
        }
        count = seen;
    }
    return false;
}

STDMETHODIMP DataStream::QueryInterface(REFIID riid, void** out) {
    if (marshaler_ && IsEqualGUID(riid, IID_IMarshal)) {
        return marshaler_->QueryInterface(riid, out);
    }
    if (connection_ && IsEqualGUID(riid, IID_IExternalConnection)) {
        return connection_->QueryInterface(riid, out);
    }
    CLockGuard guard(this);
    if (!out) {
        return E_POINTER;
    }
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_ISequentialStream) ||
        IsEqualGUID(riid, IID_IStream)) {
        *out = static_cast<IStream*>(this);
    } else if (IsEqualGUID(riid, IID_IStreamManager)) {
        *out = static_cast<IStreamManager*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) DataStream::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&refCount_));
}

STDMETHODIMP_(ULONG) DataStream::Release() {
    LONG count = InterlockedDecrement(&refCount_);
    if (count == 0) {
        if (streamFlags_ & kStreamCommitOnRelease) {
            static_cast<IStream*>(this)->Commit(0);
        }
        delete this;
    }
    return static_cast<ULONG>(count);
}

STDMETHODIMP DataStream::Read(void* buffer, ULONG count, ULONG* done) {
    CLockGuard guard(this);
    ULONG n = 0;
    HRESULT hr = data_->read(buffer, count, position_, &n);
    if (SUCCEEDED(hr)) {
        position_ += n;
        if (done) {
            *done = n;
        }
    }
    return hr;
}

STDMETHODIMP DataStream::Write(const void* buffer, ULONG count, ULONG* done) {
    CLockGuard guard(this);
    ULONG n = 0;
    HRESULT hr = data_->write(buffer, count, position_, &n);
    if (SUCCEEDED(hr)) {
        position_ += n;
        if (done) {
            *done = n;
        }
    }
    return hr;
}

STDMETHODIMP DataStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) {
    return hresultOf([&] {
        CLockGuard guard(this);
        ULONGLONG base = 0;
        switch (origin) {
            case STREAM_SEEK_SET:
                base = 0;
                break;
            case STREAM_SEEK_CUR:
                base = position_;
                break;
            case STREAM_SEEK_END:
                check(data_->getSize(&base), "DataStream::Seek");
                break;
            default:
                raise(STG_E_INVALIDFUNCTION, "DataStream::Seek");
        }
        ULONGLONG moved = 0;
        if (origin == STREAM_SEEK_SET) {
            moved = static_cast<ULONGLONG>(move.QuadPart);
        } else if (move.QuadPart < 0) {
            ULONGLONG back = 0 - static_cast<ULONGLONG>(move.QuadPart);
            if (back > base) {
                raise(STG_E_INVALIDFUNCTION, "DataStream::Seek");
            }
            moved = base - back;
        } else {
            moved = base + static_cast<ULONGLONG>(move.QuadPart);
        }
        position_ = moved;
        if (position) {
            position->QuadPart = moved;
        }
        return S_OK;
    });
}

STDMETHODIMP DataStream::SetSize(ULARGE_INTEGER size) {
    return data_->setSize(size.QuadPart);
}

STDMETHODIMP DataStream::CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                ULARGE_INTEGER* written) {
    if (read) {
        read->QuadPart = 0;
    }
    if (written) {
        written->QuadPart = 0;
    }
    return hresultOf([&] {
        if (!target) {
            raise(STG_E_INVALIDPOINTER, "DataStream::CopyTo");
        }
        std::unique_ptr<char[]> buffer(new char[kCopyChunk]);
        ULONGLONG remaining = count.QuadPart;
        ULONGLONG totalRead = 0;
        ULONGLONG totalWritten = 0;
        HRESULT hr = S_OK;
        while (remaining != 0) {
            ULONG chunk = static_cast<ULONG>(std::min<ULONGLONG>(remaining, kCopyChunk));
            ULONG got = 0;
            hr = Read(buffer.get(), chunk, &got);
            if (FAILED(hr)) {
                break;
            }
            if (got == 0) {
                break;
            }
            ULONG put = 0;
            hr = target->Write(buffer.get(), got, &put);
            totalRead += got;
            if (FAILED(hr)) {
                break;
            }
            totalWritten += put;
            remaining -= got;
        }
        if (read) {
            read->QuadPart = totalRead;
        }
        if (written) {
            written->QuadPart = totalWritten;
        }
        check(hr, "DataStream::CopyTo");
        return S_OK;
    });
}

STDMETHODIMP DataStream::Commit(DWORD flags) {
    return data_->commit(flags);
}

STDMETHODIMP DataStream::Revert() {
    return data_->revert();
}

STDMETHODIMP DataStream::LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD lockType) {
    return data_->lockRegion(offset.QuadPart, count.QuadPart, lockType);
}

STDMETHODIMP DataStream::UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD lockType) {
    return data_->unlockRegion(offset.QuadPart, count.QuadPart, lockType);
}

STDMETHODIMP DataStream::Stat(STATSTG* stat, DWORD statFlag) {
    return data_->_stat64(stat, statFlag);
}

STDMETHODIMP DataStream::Clone(IStream** out) {
    ULONGLONG position = 0;
    {
        CLockGuard guard(this);
        position = position_;
    }
    return wrap(data_, out, streamFlags_, position, ownLock_ ? nullptr : static_cast<const CLock*>(this));
}

HRESULT DataStream::onCommitNotice() {
    return S_OK;
}

HRESULT DataStream::onSizeNotice(ULONGLONG) {
    return S_OK;
}

STDMETHODIMP DataStream::getStreamData(IStreamData** data) {
    return data_->QueryInterface(IID_IStreamData, reinterpret_cast<void**>(data));
}
