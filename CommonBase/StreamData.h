// Stream content back-ends. IStreamData addresses content by absolute offset
// and has no position; DataStream puts an IStream over it. Three back-ends:
// memory, a delete-on-close temporary file, and an adaptive one that moves
// from memory to a temporary file at a threshold and back when cut well below
// it. A back-end, the adaptive one's inner back-ends and the streams over
// them share one CLock record; listeners are told of commits and size changes
// under that lock.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "CommonBase/IUnknownImpl.h"
#include "Threads/CLock.h"
#include "winplat/objidl.h"

struct IStreamDataCallbacks;

// {97162CEC-9C4F-477A-94F3-63A280CD6981}
DEFINE_GUID(IID_IStreamData, 0x97162CEC, 0x9C4F, 0x477A, 0x94, 0xF3, 0x63, 0xA2, 0x80, 0xCD, 0x69, 0x81);
// {D1403CF2-6F64-41D9-A1A3-2985C91491B7}
DEFINE_GUID(IID_IStreamDataCallbacks, 0xD1403CF2, 0x6F64, 0x41D9, 0xA1, 0xA3, 0x29, 0x85, 0xC9, 0x14, 0x91,
            0xB7);

struct IStreamData : IUnknown {
    STDMETHOD(read)(void* buffer, ULONG count, ULONGLONG offset, ULONG* done) PURE;
    STDMETHOD(write)(const void* buffer, ULONG count, ULONGLONG offset, ULONG* done) PURE;
    STDMETHOD(setSize)(ULONGLONG size) PURE;
    STDMETHOD(commit)(DWORD flags) PURE;
    STDMETHOD(revert)() PURE;
    STDMETHOD(lockRegion)(ULONGLONG offset, ULONGLONG count, DWORD lockType) PURE;
    STDMETHOD(unlockRegion)(ULONGLONG offset, ULONGLONG count, DWORD lockType) PURE;
    STDMETHOD(_stat64)(STATSTG* stat, DWORD statFlag) PURE;
    STDMETHOD(getSize)(ULONGLONG* size) PURE;
    STDMETHOD(registerCallback)(IStreamDataCallbacks* callbacks, DWORD* cookie) PURE;
    STDMETHOD(unregisterCallback)(DWORD cookie) PURE;
    STDMETHOD(copyTo)(IStreamData* target) PURE;
    STDMETHOD(setFlags)(DWORD flags, DWORD* oldFlags) PURE;
    STDMETHOD(getFlags)(DWORD* flags) PURE;
    STDMETHOD(beginInit)() PURE;
    STDMETHOD(endInit)() PURE;
};

struct IStreamDataCallbacks : IUnknown {
    STDMETHOD(onCommit)(IStreamData* source) PURE;
    STDMETHOD(onSizeChanged)(IStreamData* source, ULONGLONG size) PURE;
};

IUI_INTERFACE_ID(IStreamData, IID_IStreamData);
IUI_INTERFACE_ID(IStreamDataCallbacks, IID_IStreamDataCallbacks);

// Back-end flags.
constexpr DWORD kStreamDataReadOnly = 1;
constexpr DWORD kStreamDataAutoCommit = 2;

// Growth and move rules.
constexpr ULONGLONG kAdaptiveThreshold = 2000000;
constexpr ULONG kCopyChunk = 1000000;

// The system time as a FILETIME value.
uint64_t currentFileTime();

namespace Stream::Init {
// The configured folder for temporary files, else the system's.
std::wstring getTempPath();
void setTempPath(const std::string& folder);
}  // namespace Stream::Init

// Listener registry of a back-end: cookies from 1, never reused; delivery in
// cookie order, suppressed inside beginInit/endInit.
class StreamDataCallbackManager {
  public:
    StreamDataCallbackManager() = default;
    ~StreamDataCallbackManager();
    StreamDataCallbackManager(const StreamDataCallbackManager&) = delete;
    StreamDataCallbackManager& operator=(const StreamDataCallbackManager&) = delete;

    HRESULT registerCallback(IStreamDataCallbacks* callbacks, DWORD* cookie);
    HRESULT unregisterCallback(DWORD cookie);
    void beginInit() { ++initCount_; }
    void endInit() {
        if (initCount_ > 0) {
            --initCount_;
        }
    }
    void notifyCommit(IStreamData* source);
    void notifySizeChanged(IStreamData* source, ULONGLONG size);

  private:
    template <typename Call>
    void notify(Call call);

    DWORD nextCookie_ = 1;
    std::map<DWORD, IStreamDataCallbacks*> callbacks_;
    ULONG initCount_ = 0;
};

class BaseStreamData : public iui_::IUnknownImpl<IStreamData> {
  public:
    STDMETHOD(registerCallback)(IStreamDataCallbacks* callbacks, DWORD* cookie) override;
    STDMETHOD(unregisterCallback)(DWORD cookie) override;
    STDMETHOD(copyTo)(IStreamData* target) override;
    STDMETHOD(setFlags)(DWORD flags, DWORD* oldFlags) override;
    STDMETHOD(getFlags)(DWORD* flags) override;
    STDMETHOD(beginInit)() override;
    STDMETHOD(endInit)() override;
    // Region locks are not supported (the adaptive back-end passes them on).
    STDMETHOD(lockRegion)(ULONGLONG offset, ULONGLONG count, DWORD lockType) override;
    STDMETHOD(unlockRegion)(ULONGLONG offset, ULONGLONG count, DWORD lockType) override;

    const CLock& lock() const { return lock_; }

  protected:
    explicit BaseStreamData(const CLock* lock);
    ~BaseStreamData() override = default;

    bool readOnly() const { return (flags_ & kStreamDataReadOnly) != 0; }
    bool autoCommit() const { return (flags_ & kStreamDataAutoCommit) != 0; }
    IStreamData* self() { return static_cast<IStreamData*>(this); }

    CLock lock_;
    StreamDataCallbackManager callbacks_;
    DWORD flags_ = 0;
};

// Listener that forwards a back-end's notices to its owner; the owner
// detaches it before going away.
template <typename T>
class StreamCallbacksImpl : public iui_::IUnknownImpl<IStreamDataCallbacks> {
  public:
    static StreamCallbacksImpl* create(T* owner);
    STDMETHOD(onCommit)(IStreamData* source) override;
    STDMETHOD(onSizeChanged)(IStreamData* source, ULONGLONG size) override;
    void detach() { owner_ = nullptr; }

  private:
    explicit StreamCallbacksImpl(T* owner) : owner_(owner) {}
    T* owner_;
};

class MemoryStreamData : public BaseStreamData {
  public:
    static HRESULT create(DWORD flags, const CLock* lock, IStreamData** out);

    STDMETHOD(read)(void* buffer, ULONG count, ULONGLONG offset, ULONG* done) override;
    STDMETHOD(write)(const void* buffer, ULONG count, ULONGLONG offset, ULONG* done) override;
    STDMETHOD(setSize)(ULONGLONG size) override;
    STDMETHOD(commit)(DWORD flags) override;
    STDMETHOD(revert)() override;
    STDMETHOD(_stat64)(STATSTG* stat, DWORD statFlag) override;
    STDMETHOD(getSize)(ULONGLONG* size) override;

    ULONGLONG capacity() const { return capacity_; }

  private:
    explicit MemoryStreamData(const CLock* lock);
    ~MemoryStreamData() override;
    void allocate(ULONGLONG capacity);
    void zeroGap(ULONGLONG from, ULONGLONG to);

    bool dirty_ = false;
    char* buffer_ = nullptr;
    ULONGLONG size_ = 0;
    ULONGLONG capacity_ = 0;
    uint64_t modified_;
    uint64_t accessed_;
    uint64_t created_;
};

namespace detail {
// A delete-on-close temporary file in the configured or system folder.
class TemporaryFile {
  public:
    TemporaryFile() = default;
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    void open();
    HANDLE handle() const { return handle_; }
    const std::wstring& name() const { return name_; }
    [[noreturn]] static void raiseFromWin32(DWORD error);

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::wstring name_;
};
}  // namespace detail

class TempFileStreamData : public BaseStreamData {
  public:
    static HRESULT create(DWORD flags, const CLock* lock, IStreamData** out);

    STDMETHOD(read)(void* buffer, ULONG count, ULONGLONG offset, ULONG* done) override;
    STDMETHOD(write)(const void* buffer, ULONG count, ULONGLONG offset, ULONG* done) override;
    STDMETHOD(setSize)(ULONGLONG size) override;
    STDMETHOD(commit)(DWORD flags) override;
    STDMETHOD(revert)() override;
    STDMETHOD(_stat64)(STATSTG* stat, DWORD statFlag) override;
    STDMETHOD(getSize)(ULONGLONG* size) override;

    // The file's name (for tests and diagnostics).
    std::wstring fileName() const { return file_.name(); }

    // Reaches the file only when one is held.
    class ValidatedFilePtr {
      public:
        explicit ValidatedFilePtr(detail::TemporaryFile& file) : file_(file) {}
        detail::TemporaryFile* operator->() const;

      private:
        detail::TemporaryFile& file_;
    };

  private:
    explicit TempFileStreamData(const CLock* lock);
    void seekTo(ULONGLONG offset, const char* function);

    bool dirty_ = false;
    detail::TemporaryFile file_;
    ValidatedFilePtr file() { return ValidatedFilePtr(file_); }
};

class AdaptiveStreamData : public BaseStreamData {
  public:
    static HRESULT create(DWORD flags, const CLock* lock, IStreamData** out, ULONG threshold);

    STDMETHOD(read)(void* buffer, ULONG count, ULONGLONG offset, ULONG* done) override;
    STDMETHOD(write)(const void* buffer, ULONG count, ULONGLONG offset, ULONG* done) override;
    STDMETHOD(setSize)(ULONGLONG size) override;
    STDMETHOD(commit)(DWORD flags) override;
    STDMETHOD(revert)() override;
    STDMETHOD(lockRegion)(ULONGLONG offset, ULONGLONG count, DWORD lockType) override;
    STDMETHOD(unlockRegion)(ULONGLONG offset, ULONGLONG count, DWORD lockType) override;
    STDMETHOD(_stat64)(STATSTG* stat, DWORD statFlag) override;
    STDMETHOD(getSize)(ULONGLONG* size) override;
    STDMETHOD(setFlags)(DWORD flags, DWORD* oldFlags) override;

    enum Mode : int { NoData = 0, InMemory = 1, InFile = 2 };
    Mode mode() const;
    // The inner back-end (no reference is added); null before first use.
    IStreamData* inner() const { return inner_; }

    // Notices of the inner back-end, passed on with this object as source.
    void onInnerCommit();
    void onInnerSizeChanged(ULONGLONG size);

  private:
    AdaptiveStreamData(const CLock* lock, ULONG threshold);
    ~AdaptiveStreamData() override;
    void createData(Mode kind, bool copy);
    void ensureData();
    void moveForEnd(ULONGLONG end);

    IStreamData* inner_ = nullptr;
    ULONG threshold_;
    Mode mode_ = NoData;
    DWORD cookie_ = 0;
    StreamCallbacksImpl<AdaptiveStreamData>* listener_ = nullptr;
};
