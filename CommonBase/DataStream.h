// DataStream: the system's COM IStream, a 64-bit seek position over an
// IStreamData back-end. A stream and its clones share one back-end and, for
// streams from create, one CLock record. Created streams aggregate the
// free-threaded marshaler and an external connection.
#pragma once

#include <cstddef>
#include <string>

#include "CommonBase/ExternalConnection.h"
#include "CommonBase/StreamData.h"
#include "Threads/CLock.h"
#include "winplat/objidl.h"

// {1A5A2A2F-465E-4C08-ADEC-F33541237996}
DEFINE_GUID(IID_IStreamManager, 0x1A5A2A2F, 0x465E, 0x4C08, 0xAD, 0xEC, 0xF3, 0x35, 0x41, 0x23, 0x79, 0x96);

struct IStreamManager : IUnknown {
    STDMETHOD(getStreamData)(IStreamData** data) PURE;
};

// Stream flags.
constexpr DWORD kStreamCommitOnRelease = 4;

class DataStream : public IStream, public IStreamManager, public CLock, private IOuterLifetime {
  public:
    DataStream(DWORD streamFlags, IStreamData* data, ULONGLONG position, const CLock* lock);

    // A new stream over a new back-end of kind Data (MemoryStreamData,
    // TempFileStreamData or AdaptiveStreamData), filled with the content.
    template <class Data>
    static HRESULT create(bool readOnly, bool autoCommit, bool commitOnRelease, IStream** out,
                          const void* content = nullptr, size_t size = 0);
    // A stream over an existing back-end; not aggregated.
    static HRESULT wrap(IStreamData* data, IStream** out, DWORD streamFlags, ULONGLONG position,
                        const CLock* lock);

    // Writes the initial content at offset 0 without notices, whatever the flags.
    HRESULT init(const std::string& content);
    HRESULT init(const std::wstring& content);  // UTF-16LE, two bytes per unit
    HRESULT init(const void* content, size_t size);
    // Makes the aggregated marshaler and external connection when missing.
    void setAggregated();

    // IUnknown
    STDMETHOD(QueryInterface)(REFIID riid, void** out) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    // ISequentialStream
    STDMETHOD(Read)(void* buffer, ULONG count, ULONG* done) override;
    STDMETHOD(Write)(const void* buffer, ULONG count, ULONG* done) override;
    // IStream
    STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
    STDMETHOD(SetSize)(ULARGE_INTEGER size) override;
    STDMETHOD(CopyTo)
    (IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override;
    STDMETHOD(Commit)(DWORD flags) override;
    STDMETHOD(Revert)() override;
    STDMETHOD(LockRegion)(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD lockType) override;
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD lockType) override;
    STDMETHOD(Stat)(STATSTG* stat, DWORD statFlag) override;
    STDMETHOD(Clone)(IStream** out) override;
    // Notices from the back-end's listener; nothing to do here.
    virtual HRESULT onCommitNotice();
    virtual HRESULT onSizeNotice(ULONGLONG size);
    // IStreamManager
    STDMETHOD(getStreamData)(IStreamData** data) override;

  private:
    virtual ~DataStream();
    template <class Data>
    static HRESULT makeData(DWORD flags, const CLock* lock, IStreamData** out);
    bool tryAddRef() override;

    volatile LONG refCount_ = 1;
    IStreamData* data_ = nullptr;
    ULONGLONG position_;
    StreamCallbacksImpl<DataStream>* listener_ = nullptr;
    DWORD cookie_ = 0;
    DWORD streamFlags_;
    bool ownLock_;
    IUnknown* marshaler_ = nullptr;
    IUnknown* connection_ = nullptr;
};

extern template HRESULT DataStream::create<MemoryStreamData>(bool, bool, bool, IStream**, const void*,
                                                             size_t);
extern template HRESULT DataStream::create<TempFileStreamData>(bool, bool, bool, IStream**, const void*,
                                                               size_t);
extern template HRESULT DataStream::create<AdaptiveStreamData>(bool, bool, bool, IStream**, const void*,
                                                               size_t);
