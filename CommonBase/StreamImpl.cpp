#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "CommonBase/HResultException.h"
#include "CommonBase/StreamData.h"
#include "CommonBase/StringUtils.h"
#include "winplat/files.h"
#include "winplat/time.h"

namespace {

constexpr const char* kFile = "CommonBase\\StreamImpl";
constexpr ULONGLONG kMaxCapacity = 0xFFFFFFFFull;

// Raise sites report their own line.
[[noreturn]] void raise(HRESULT hr, const char* function, const wchar_t* detail = nullptr,
                        int line = __builtin_LINE()) {
    ErrorLocation{2, kFile, line, function}.raise(hr, detail);
}

void check(HRESULT hr, const char* function, int line = __builtin_LINE()) {
    if (FAILED(hr)) {
        raise(hr, function, nullptr, line);
    }
}

FILETIME toFileTime(uint64_t value) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
}

HRESULT checkStatArguments(const STATSTG* stat, DWORD statFlag) {
    if (!stat) {
        return STG_E_INVALIDPOINTER;
    }
    if (statFlag != STATFLAG_DEFAULT && statFlag != STATFLAG_NONAME) {
        return STG_E_INVALIDFLAG;
    }
    return S_OK;
}

void fillStat(STATSTG* stat, ULONGLONG size) {
    std::memset(stat, 0, sizeof(STATSTG));
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = size;
    stat->grfMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
}

std::mutex& tempPathMutex() {
    static std::mutex mutex;
    return mutex;
}

std::wstring& configuredTempPath() {
    static std::wstring path;
    return path;
}

}  // namespace

uint64_t currentFileTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

std::wstring Stream::Init::getTempPath() {
    {
        std::lock_guard<std::mutex> guard(tempPathMutex());
        if (!configuredTempPath().empty()) {
            return configuredTempPath();
        }
    }
    WCHAR buffer[MAX_PATH + 1] = {};
    DWORD length = GetTempPathW(MAX_PATH, buffer);
    if (length == 0 || length > MAX_PATH) {
        DWORD error = GetLastError();
        raise(error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error), "Stream::Init::getTempPath");
    }
    return std::wstring(buffer, length);
}

void Stream::Init::setTempPath(const std::string& folder) {
    std::wstring wide = ansiToWide(folder);
    std::lock_guard<std::mutex> guard(tempPathMutex());
    configuredTempPath() = wide;
}

// ---------------------------------------------------------------------------
StreamDataCallbackManager::~StreamDataCallbackManager() {
    for (auto& entry : callbacks_) {
        entry.second->Release();
    }
}

HRESULT StreamDataCallbackManager::registerCallback(IStreamDataCallbacks* callbacks, DWORD* cookie) {
    if (!callbacks) {
        return E_INVALIDARG;
    }
    if (!cookie) {
        raise(E_POINTER, "StreamDataCallbackManager::registerCallback");
    }
    DWORD next = nextCookie_;
    callbacks_.emplace(next, callbacks);
    callbacks->AddRef();
    ++nextCookie_;
    *cookie = next;
    return S_OK;
}

HRESULT StreamDataCallbackManager::unregisterCallback(DWORD cookie) {
    auto it = callbacks_.find(cookie);
    if (it == callbacks_.end()) {
        return E_INVALIDARG;
    }
    IStreamDataCallbacks* callbacks = it->second;
    callbacks_.erase(it);
    callbacks->Release();
    return S_OK;
}

template <typename Call>
void StreamDataCallbackManager::notify(Call call) {
    if (initCount_ > 0 || callbacks_.empty()) {
        return;
    }
    // A listener may unregister (itself or another) while being told.
    std::vector<IStreamDataCallbacks*> snapshot;
    snapshot.reserve(callbacks_.size());
    for (auto& entry : callbacks_) {
        entry.second->AddRef();
        snapshot.push_back(entry.second);
    }
    for (IStreamDataCallbacks* callbacks : snapshot) {
        call(callbacks);
    }
    for (IStreamDataCallbacks* callbacks : snapshot) {
        callbacks->Release();
    }
}

void StreamDataCallbackManager::notifyCommit(IStreamData* source) {
    notify([&](IStreamDataCallbacks* callbacks) { callbacks->onCommit(source); });
}

void StreamDataCallbackManager::notifySizeChanged(IStreamData* source, ULONGLONG size) {
    notify([&](IStreamDataCallbacks* callbacks) { callbacks->onSizeChanged(source, size); });
}

// ---------------------------------------------------------------------------
BaseStreamData::BaseStreamData(const CLock* lock) : lock_(lock ? CLock(*lock) : CLock(true)) {}

STDMETHODIMP BaseStreamData::registerCallback(IStreamDataCallbacks* callbacks, DWORD* cookie) {
    return hresultOf([&] {
        CLockGuard guard(lock_);
        return callbacks_.registerCallback(callbacks, cookie);
    });
}

STDMETHODIMP BaseStreamData::unregisterCallback(DWORD cookie) {
    CLockGuard guard(lock_);
    return callbacks_.unregisterCallback(cookie);
}

STDMETHODIMP BaseStreamData::copyTo(IStreamData* target) {
    return hresultOf([&] {
        CLockGuard guard(lock_);
        if (!target) {
            raise(E_INVALIDARG, "doCopyTo");
        }
        ULONGLONG size = 0;
        check(self()->getSize(&size), "doCopyTo");
        check(target->setSize(size), "doCopyTo");
        std::unique_ptr<char[]> buffer(new char[kCopyChunk]);
        ULONGLONG offset = 0;
        while (offset < size) {
            ULONG chunk = static_cast<ULONG>(std::min<ULONGLONG>(size - offset, kCopyChunk));
            ULONG readCount = 0;
            check(self()->read(buffer.get(), chunk, offset, &readCount), "doCopyTo");
            if (readCount == 0) {
                break;
            }
            ULONG written = 0;
            check(target->write(buffer.get(), readCount, offset, &written), "doCopyTo");
            if (written == 0) {
                raise(STG_E_MEDIUMFULL, "doCopyTo");
            }
            offset += std::min(readCount, written);
        }
        return S_OK;
    });
}

STDMETHODIMP BaseStreamData::setFlags(DWORD flags, DWORD* oldFlags) {
    CLockGuard guard(lock_);
    if (oldFlags) {
        *oldFlags = flags_;
    }
    flags_ = flags;
    return S_OK;
}

STDMETHODIMP BaseStreamData::getFlags(DWORD* flags) {
    return hresultOf([&] {
        if (!flags) {
            raise(E_POINTER, "BaseStreamData::getFlags");
        }
        CLockGuard guard(lock_);
        *flags = flags_;
        return S_OK;
    });
}

STDMETHODIMP BaseStreamData::beginInit() {
    CLockGuard guard(lock_);
    callbacks_.beginInit();
    return S_OK;
}

STDMETHODIMP BaseStreamData::endInit() {
    CLockGuard guard(lock_);
    callbacks_.endInit();
    return S_OK;
}

STDMETHODIMP BaseStreamData::lockRegion(ULONGLONG, ULONGLONG, DWORD) {
    return STG_E_INVALIDFUNCTION;
}

STDMETHODIMP BaseStreamData::unlockRegion(ULONGLONG, ULONGLONG, DWORD) {
    return STG_E_INVALIDFUNCTION;
}

// ---------------------------------------------------------------------------
template <typename T>
StreamCallbacksImpl<T>* StreamCallbacksImpl<T>::create(T* owner) {
    try {
        return new StreamCallbacksImpl(owner);
    } catch (const std::bad_alloc&) {
        raise(E_OUTOFMEMORY, "StreamCallbacksImpl::create");
    }
}

template <>
STDMETHODIMP StreamCallbacksImpl<AdaptiveStreamData>::onCommit(IStreamData*) {
    if (owner_) {
        owner_->onInnerCommit();
    }
    return S_OK;
}

template <>
STDMETHODIMP StreamCallbacksImpl<AdaptiveStreamData>::onSizeChanged(IStreamData*, ULONGLONG size) {
    if (owner_) {
        owner_->onInnerSizeChanged(size);
    }
    return S_OK;
}

template class StreamCallbacksImpl<AdaptiveStreamData>;

// ---------------------------------------------------------------------------
MemoryStreamData::MemoryStreamData(const CLock* lock) : BaseStreamData(lock) {
    modified_ = accessed_ = created_ = currentFileTime();
}

MemoryStreamData::~MemoryStreamData() {
    std::free(buffer_);
}

HRESULT MemoryStreamData::create(DWORD flags, const CLock* lock, IStreamData** out) {
    if (!out) {
        return E_POINTER;
    }
    return hresultOf([&] {
        MemoryStreamData* data = new MemoryStreamData(lock);
        data->setFlags(flags, nullptr);
        HRESULT hr = data->QueryInterface(IID_IStreamData, reinterpret_cast<void**>(out));
        data->Release();
        return hr;
    });
}

void MemoryStreamData::allocate(ULONGLONG capacity) {
    if (capacity > kMaxCapacity) {
        raise(E_OUTOFMEMORY, "MemoryStreamData::allocate");
    }
    if (capacity == 0) {
        std::free(buffer_);
        buffer_ = nullptr;
    } else {
        char* grown = static_cast<char*>(std::realloc(buffer_, static_cast<size_t>(capacity)));
        if (!grown) {
            raise(E_OUTOFMEMORY, "MemoryStreamData::allocate");
        }
        buffer_ = grown;
    }
    capacity_ = capacity;
    if (size_ > capacity_) {
        size_ = capacity_;
        callbacks_.notifySizeChanged(self(), size_);
    }
}

// Bytes between the size and a later start are never stale content.
void MemoryStreamData::zeroGap(ULONGLONG from, ULONGLONG to) {
    if (to > from) {
        std::memset(buffer_ + from, 0, static_cast<size_t>(to - from));
    }
}

STDMETHODIMP MemoryStreamData::read(void* buffer, ULONG count, ULONGLONG offset, ULONG* done) {
    if (!buffer) {
        return STG_E_INVALIDPOINTER;
    }
    CLockGuard guard(lock_);
    ULONG n = 0;
    if (offset <= size_) {
        n = static_cast<ULONG>(std::min<ULONGLONG>(count, size_ - offset));
    }
    if (n > 0) {
        std::memcpy(buffer, buffer_ + offset, n);
    }
    if (done) {
        *done = n;
    }
    accessed_ = currentFileTime();
    return S_OK;
}

STDMETHODIMP MemoryStreamData::write(const void* buffer, ULONG count, ULONGLONG offset, ULONG* done) {
    if (!buffer) {
        return STG_E_INVALIDPOINTER;
    }
    return hresultOf([&] {
        CLockGuard guard(lock_);
        if (readOnly()) {
            return STG_E_ACCESSDENIED;
        }
        if (count == 0) {
            if (done) {
                *done = 0;
            }
            return S_OK;
        }
        // The end of the write, refused beyond what a capacity can hold
        // (this also catches offsets that would wrap).
        if (offset > kMaxCapacity || offset + count > kMaxCapacity) {
            return STG_E_MEDIUMFULL;
        }
        ULONGLONG end = offset + count;
        if (end > capacity_) {
            ULONGLONG need = std::max(capacity_ + count, end) + 1;
            ULONGLONG grown = need > 2500000 ? need + 5000000 : need < 1024 ? need + 1024 : need * 2;
            try {
                allocate(std::min(grown, kMaxCapacity));
            } catch (const HResultException&) {
                return STG_E_MEDIUMFULL;
            }
        }
        zeroGap(size_, offset);
        std::memcpy(buffer_ + offset, buffer, count);
        dirty_ = true;
        if (done) {
            *done = count;
        }
        if (end > size_) {
            size_ = end;
            callbacks_.notifySizeChanged(self(), size_);
        }
        modified_ = accessed_ = currentFileTime();
        if (autoCommit()) {
            return commit(0);
        }
        return S_OK;
    });
}

STDMETHODIMP MemoryStreamData::setSize(ULONGLONG size) {
    return hresultOf([&] {
        CLockGuard guard(lock_);
        if (readOnly()) {
            return STG_E_ACCESSDENIED;
        }
        if (size > capacity_) {
            try {
                allocate(size);
            } catch (const HResultException&) {
                return STG_E_MEDIUMFULL;
            }
        }
        zeroGap(size_, size);
        size_ = size;
        callbacks_.notifySizeChanged(self(), size_);
        dirty_ = true;
        modified_ = accessed_ = currentFileTime();
        if (autoCommit()) {
            return commit(0);
        }
        return S_OK;
    });
}

STDMETHODIMP MemoryStreamData::commit(DWORD) {
    CLockGuard guard(lock_);
    if (dirty_ && !readOnly()) {
        accessed_ = currentFileTime();
        callbacks_.notifyCommit(self());
        dirty_ = false;
    }
    return S_OK;
}

STDMETHODIMP MemoryStreamData::revert() {
    CLockGuard guard(lock_);
    accessed_ = currentFileTime();
    return S_OK;
}

STDMETHODIMP MemoryStreamData::_stat64(STATSTG* stat, DWORD statFlag) {
    if (HRESULT hr = checkStatArguments(stat, statFlag); FAILED(hr)) {
        return hr;
    }
    CLockGuard guard(lock_);
    fillStat(stat, size_);
    stat->mtime = toFileTime(modified_);
    stat->ctime = toFileTime(created_);
    stat->atime = toFileTime(accessed_);
    return S_OK;
}

STDMETHODIMP MemoryStreamData::getSize(ULONGLONG* size) {
    return hresultOf([&] {
        if (!size) {
            raise(E_POINTER, "MemoryStreamData::getSize");
        }
        CLockGuard guard(lock_);
        *size = size_;
        return S_OK;
    });
}

// ---------------------------------------------------------------------------
namespace detail {

TemporaryFile::~TemporaryFile() {
    if (handle_ != INVALID_HANDLE_VALUE) {
        CloseHandle(handle_);  // deletes the file
    }
}

void TemporaryFile::raiseFromWin32(DWORD error) {
    HRESULT hr = HRESULT_FROM_WIN32(error);
    // A failure without an error code must not read as success.
    if (error == 0) {
        hr = E_FAIL;
    }
    raise(hr, "detail::TemporaryFile::raiseFromWin32");
}

void TemporaryFile::open() {
    std::wstring folder = Stream::Init::getTempPath();
    WCHAR name[MAX_PATH + 1] = {};
    if (GetTempFileNameW(folder.c_str(), L"TAV", 0, name) == 0) {
        raiseFromWin32(GetLastError());
    }
    HANDLE handle = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        DeleteFileW(name);
        raiseFromWin32(error);
    }
    handle_ = handle;
    name_ = name;
}

}  // namespace detail

detail::TemporaryFile* TempFileStreamData::ValidatedFilePtr::operator->() const {
    if (file_.handle() == INVALID_HANDLE_VALUE) {
        raise(E_HANDLE, "TempFileStreamData::ValidatedFilePtr::operator ->",
              L"Temporary file is not initialized");
    }
    return &file_;
}

TempFileStreamData::TempFileStreamData(const CLock* lock) : BaseStreamData(lock) {}

HRESULT TempFileStreamData::create(DWORD flags, const CLock* lock, IStreamData** out) {
    return hresultOf([&] {
        if (!out) {
            raise(E_POINTER, "TempFileStreamData::create");
        }
        TempFileStreamData* data = new TempFileStreamData(lock);
        try {
            data->file_.open();
        } catch (...) {
            data->Release();
            throw;
        }
        data->setFlags(flags, nullptr);
        HRESULT hr = data->QueryInterface(IID_IStreamData, reinterpret_cast<void**>(out));
        data->Release();
        return hr;
    });
}

void TempFileStreamData::seekTo(ULONGLONG offset, const char*) {
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file()->handle(), distance, nullptr, FILE_BEGIN)) {
        detail::TemporaryFile::raiseFromWin32(GetLastError());
    }
}

STDMETHODIMP TempFileStreamData::read(void* buffer, ULONG count, ULONGLONG offset, ULONG* done) {
    if (!buffer) {
        return STG_E_INVALIDPOINTER;
    }
    return hresultOf([&] {
        CLockGuard guard(lock_);
        seekTo(offset, "TempFileStreamData::read");
        DWORD got = 0;
        if (!ReadFile(file()->handle(), buffer, count, &got, nullptr)) {
            detail::TemporaryFile::raiseFromWin32(GetLastError());
        }
        if (done) {
            *done = got;
        }
        return S_OK;
    });
}

STDMETHODIMP TempFileStreamData::write(const void* buffer, ULONG count, ULONGLONG offset, ULONG* done) {
    if (!buffer) {
        return STG_E_INVALIDPOINTER;
    }
    return hresultOf([&] {
        CLockGuard guard(lock_);
        if (readOnly()) {
            return STG_E_ACCESSDENIED;
        }
        seekTo(offset, "TempFileStreamData::write");
        DWORD put = 0;
        if (!WriteFile(file()->handle(), buffer, count, &put, nullptr)) {
            detail::TemporaryFile::raiseFromWin32(GetLastError());
        }
        dirty_ = true;
        if (done) {
            *done = put;
        }
        if (autoCommit()) {
            return commit(0);
        }
        return S_OK;
    });
}

STDMETHODIMP TempFileStreamData::setSize(ULONGLONG size) {
    return hresultOf([&] {
        CLockGuard guard(lock_);
        if (readOnly()) {
            return STG_E_ACCESSDENIED;
        }
        seekTo(size, "TempFileStreamData::setSize");
        if (!SetEndOfFile(file()->handle())) {
            detail::TemporaryFile::raiseFromWin32(GetLastError());
        }
        dirty_ = true;
        if (autoCommit()) {
            return commit(0);
        }
        return S_OK;
    });
}

STDMETHODIMP TempFileStreamData::commit(DWORD) {
    CLockGuard guard(lock_);
    if (dirty_ && !readOnly()) {
        callbacks_.notifyCommit(self());
        dirty_ = false;
    }
    return S_OK;
}

STDMETHODIMP TempFileStreamData::revert() {
    return S_OK;
}

STDMETHODIMP TempFileStreamData::_stat64(STATSTG* stat, DWORD statFlag) {
    if (HRESULT hr = checkStatArguments(stat, statFlag); FAILED(hr)) {
        return hr;
    }
    return hresultOf([&] {
        CLockGuard guard(lock_);
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(file()->handle(), &info)) {
            detail::TemporaryFile::raiseFromWin32(GetLastError());
        }
        fillStat(stat, (ULONGLONG(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
        stat->mtime = info.ftLastWriteTime;
        stat->ctime = info.ftCreationTime;
        stat->atime = info.ftLastAccessTime;
        return S_OK;
    });
}

STDMETHODIMP TempFileStreamData::getSize(ULONGLONG* size) {
    return hresultOf([&] {
        if (!size) {
            raise(E_POINTER, "TempFileStreamData::getSize");
        }
        CLockGuard guard(lock_);
        LARGE_INTEGER fileSize{};
        if (!GetFileSizeEx(file()->handle(), &fileSize)) {
            detail::TemporaryFile::raiseFromWin32(GetLastError());
        }
        *size = static_cast<ULONGLONG>(fileSize.QuadPart);
        return S_OK;
    });
}

// ---------------------------------------------------------------------------
AdaptiveStreamData::AdaptiveStreamData(const CLock* lock, ULONG threshold)
    : BaseStreamData(lock), threshold_(threshold) {
    listener_ = StreamCallbacksImpl<AdaptiveStreamData>::create(this);
}

AdaptiveStreamData::~AdaptiveStreamData() {
    if (inner_) {
        inner_->unregisterCallback(cookie_);
        inner_->Release();
    }
    listener_->detach();
    listener_->Release();
}

HRESULT AdaptiveStreamData::create(DWORD flags, const CLock* lock, IStreamData** out, ULONG threshold) {
    if (!out) {
        return E_POINTER;
    }
    return hresultOf([&] {
        AdaptiveStreamData* data = new AdaptiveStreamData(lock, threshold);
        data->BaseStreamData::setFlags(flags, nullptr);
        HRESULT hr = data->QueryInterface(IID_IStreamData, reinterpret_cast<void**>(out));
        data->Release();
        return hr;
    });
}

AdaptiveStreamData::Mode AdaptiveStreamData::mode() const {
    CLockGuard guard(lock_);
    return mode_;
}

void AdaptiveStreamData::onInnerCommit() {
    callbacks_.notifyCommit(self());
}

void AdaptiveStreamData::onInnerSizeChanged(ULONGLONG size) {
    callbacks_.notifySizeChanged(self(), size);
}

void AdaptiveStreamData::createData(Mode kind, bool copy) {
    if (copy && mode_ == kind) {
        return;
    }
    IStreamData* fresh = nullptr;
    HRESULT hr = kind == InMemory ? MemoryStreamData::create(0, &lock_, &fresh)
                                  : TempFileStreamData::create(0, &lock_, &fresh);
    check(hr, "AdaptiveStreamData::createData");
    try {
        // Flags go on after the copy, so read-only content can move too.
        if (copy && inner_) {
            check(inner_->copyTo(fresh), "AdaptiveStreamData::createData");
        }
        DWORD cookie = 0;
        check(fresh->registerCallback(listener_, &cookie), "AdaptiveStreamData::createData");
        check(fresh->setFlags(flags_, nullptr), "AdaptiveStreamData::createData");
        if (inner_) {
            inner_->Release();
        }
        inner_ = fresh;
        cookie_ = cookie;
        mode_ = kind;
    } catch (...) {
        fresh->Release();
        throw;
    }
}

void AdaptiveStreamData::ensureData() {
    if (!inner_) {
        createData(InMemory, false);
    }
}

void AdaptiveStreamData::moveForEnd(ULONGLONG end) {
    if (!inner_) {
        createData(end >= threshold_ ? InFile : InMemory, false);
    } else if (mode_ == InMemory && end >= threshold_) {
        createData(InFile, true);
    }
}

STDMETHODIMP AdaptiveStreamData::read(void* buffer, ULONG count, ULONGLONG offset, ULONG* done) {
    return hresultOf([&] {
        CLockGuard guard(lock_);
        ensureData();
        check(inner_->read(buffer, count, offset, done), "AdaptiveStreamData::read");
        return S_OK;
    });
}

STDMETHODIMP AdaptiveStreamData::write(const void* buffer, ULONG count, ULONGLONG offset, ULONG* done) {
    return hresultOf([&] {
        CLockGuard guard(lock_);
        ULONGLONG end = offset + count;
        moveForEnd(end < offset ? ~0ull : end);
        HRESULT hr = inner_->write(buffer, count, offset, done);
        check(hr, "AdaptiveStreamData::write");
        return hr;
    });
}

STDMETHODIMP AdaptiveStreamData::setSize(ULONGLONG size) {
    return hresultOf([&] {
        CLockGuard guard(lock_);
        if (!inner_) {
            createData(size >= threshold_ ? InFile : InMemory, false);
        } else if (size >= threshold_ && mode_ == InMemory) {
            createData(InFile, true);
        } else if (size < (threshold_ >> 1) && mode_ == InFile) {
            createData(InMemory, true);
        }
        check(inner_->setSize(size), "AdaptiveStreamData::setSize");
        return S_OK;
    });
}

STDMETHODIMP AdaptiveStreamData::commit(DWORD flags) {
    return hresultOf([&] {
        CLockGuard guard(lock_);
        ensureData();
        check(inner_->commit(flags), "AdaptiveStreamData::commit");
        return S_OK;
    });
}

STDMETHODIMP AdaptiveStreamData::revert() {
    return hresultOf([&] {
        CLockGuard guard(lock_);
        ensureData();
        check(inner_->revert(), "AdaptiveStreamData::revert");
        return S_OK;
    });
}

STDMETHODIMP AdaptiveStreamData::lockRegion(ULONGLONG offset, ULONGLONG count, DWORD lockType) {
    return hresultOf([&] {
        CLockGuard guard(lock_);
        ULONGLONG end = offset + count;
        moveForEnd(end < offset ? ~0ull : end);
        check(inner_->lockRegion(offset, count, lockType), "AdaptiveStreamData::lockRegion");
        return S_OK;
    });
}

STDMETHODIMP AdaptiveStreamData::unlockRegion(ULONGLONG offset, ULONGLONG count, DWORD lockType) {
    return hresultOf([&] {
        CLockGuard guard(lock_);
        ensureData();
        check(inner_->unlockRegion(offset, count, lockType), "AdaptiveStreamData::unlockRegion");
        return S_OK;
    });
}

STDMETHODIMP AdaptiveStreamData::_stat64(STATSTG* stat, DWORD statFlag) {
    return hresultOf([&] {
        CLockGuard guard(lock_);
        ensureData();
        check(inner_->_stat64(stat, statFlag), "AdaptiveStreamData::_stat64");
        return S_OK;
    });
}

STDMETHODIMP AdaptiveStreamData::getSize(ULONGLONG* size) {
    return hresultOf([&] {
        CLockGuard guard(lock_);
        ensureData();
        check(inner_->getSize(size), "AdaptiveStreamData::getSize");
        return S_OK;
    });
}

STDMETHODIMP AdaptiveStreamData::setFlags(DWORD flags, DWORD* oldFlags) {
    return hresultOf([&] {
        CLockGuard guard(lock_);
        BaseStreamData::setFlags(flags, oldFlags);
        if (inner_) {
            check(inner_->setFlags(flags_, nullptr), "AdaptiveStreamData::setFlags");
        }
        return S_OK;
    });
}
