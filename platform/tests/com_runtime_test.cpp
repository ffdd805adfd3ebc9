#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "winplat/com.h"
#include "winplat/inject.h"

namespace {

TEST(ComGuid, CreateGivesDistinctVersion4Values) {
    std::set<std::wstring> seen;
    for (int i = 0; i < 64; ++i) {
        GUID g{};
        ASSERT_EQ(CoCreateGuid(&g), S_OK);
        EXPECT_EQ(g.Data3 >> 12, 4);
        EXPECT_EQ(g.Data4[0] & 0xC0, 0x80);
        WCHAR text[39];
        ASSERT_EQ(StringFromGUID2(g, text, 39), 39);
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 64u);
    EXPECT_EQ(CoCreateGuid(nullptr), E_INVALIDARG);

    winplat::inject::Scope scope;
    winplat::inject::arm("CoCreateGuid", E_OUTOFMEMORY);
    GUID g{};
    EXPECT_EQ(CoCreateGuid(&g), E_OUTOFMEMORY);
    EXPECT_EQ(g, GUID_NULL);
}

TEST(ComGuid, TextFormsRoundTrip) {
    WCHAR text[40];
    EXPECT_EQ(StringFromGUID2(IID_IStream, text, 39), 39);
    EXPECT_EQ(std::wstring(text), L"{0000000C-0000-0000-C000-000000000046}");
    EXPECT_EQ(StringFromGUID2(IID_ICallFactory, text, 40), 39);
    EXPECT_EQ(std::wstring(text), L"{1C733A30-2A1C-11CE-ADE5-00AA0044773D}");
    text[0] = L'#';
    EXPECT_EQ(StringFromGUID2(IID_IStream, text, 38), 0);
    EXPECT_EQ(text[0], L'#');

    CLSID parsed{};
    EXPECT_EQ(CLSIDFromString(L"{1c733a30-2a1c-11ce-ade5-00aa0044773d}", &parsed), S_OK);
    EXPECT_EQ(parsed, IID_ICallFactory);
    IID iid{};
    EXPECT_EQ(IIDFromString(L"{0C733A30-2A1C-11CE-ADE5-00AA0044773D}", &iid), S_OK);
    EXPECT_EQ(iid, IID_ISequentialStream);

    for (const wchar_t* bad :
         {L"0C733A30-2A1C-11CE-ADE5-00AA0044773D", L"{0C733A30-2A1C-11CE-ADE5-00AA0044773D",
          L"{0C733A30-2A1C-11CE-ADE5-00AA0044773D}x", L"{0C733A3G-2A1C-11CE-ADE5-00AA0044773D}",
          L"{0C733A30+2A1C-11CE-ADE5-00AA0044773D}", L""}) {
        parsed = IID_IStream;
        EXPECT_EQ(CLSIDFromString(bad, &parsed), CO_E_CLASSSTRING) << bad;
        EXPECT_EQ(IIDFromString(bad, &iid), E_INVALIDARG) << bad;
    }
    EXPECT_EQ(CLSIDFromString(nullptr, &parsed), S_OK);
    EXPECT_EQ(parsed, GUID_NULL);
}

TEST(ComTaskMemory, BlocksAreCounted) {
    const int64_t before = winplat::com::liveTaskMemCount();
    void* a = CoTaskMemAlloc(16);
    void* zero = CoTaskMemAlloc(0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(zero, nullptr);
    EXPECT_EQ(winplat::com::liveTaskMemCount(), before + 2);
    std::memset(a, 0x5A, 16);
    a = CoTaskMemRealloc(a, 4096);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(a)[15], 0x5A);
    EXPECT_EQ(winplat::com::liveTaskMemCount(), before + 2);
    EXPECT_EQ(CoTaskMemRealloc(zero, 0), nullptr);  // frees
    void* fresh = CoTaskMemRealloc(nullptr, 8);     // allocates
    EXPECT_EQ(winplat::com::liveTaskMemCount(), before + 2);
    CoTaskMemFree(a);
    CoTaskMemFree(fresh);
    CoTaskMemFree(nullptr);
    EXPECT_EQ(winplat::com::liveTaskMemCount(), before);

    winplat::inject::Scope scope;
    winplat::inject::arm("CoTaskMemAlloc", E_OUTOFMEMORY);
    EXPECT_EQ(CoTaskMemAlloc(16), nullptr);
    EXPECT_EQ(winplat::com::liveTaskMemCount(), before);
}

// A memory stream good enough to carry marshal data.
class MemoryStream final : public IStream {
  public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IStream) ||
            IsEqualGUID(riid, IID_ISequentialStream)) {
            *ppv = static_cast<IStream*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* read) override {
        const size_t n = std::min<size_t>(cb, data_.size() - pos_);
        if (n > 0) {
            std::memcpy(pv, data_.data() + pos_, n);
        }
        pos_ += n;
        *read = static_cast<ULONG>(n);
        return S_OK;
    }
    STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* written) override {
        data_.resize(std::max(data_.size(), pos_ + cb));
        std::memcpy(data_.data() + pos_, pv, cb);
        pos_ += cb;
        *written = cb;
        return S_OK;
    }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD, ULARGE_INTEGER*) override {
        pos_ = static_cast<size_t>(move.QuadPart);
        return S_OK;
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

    void rewind() { pos_ = 0; }
    size_t size() const { return data_.size(); }

  private:
    std::vector<unsigned char> data_;
    size_t pos_ = 0;
};

// An outer object that aggregates the free-threaded marshaler, as a stream
// of the system does: IMarshal is handed to the inner object.
class Outer final : public ISequentialStream {
  public:
    Outer() { EXPECT_EQ(CoCreateFreeThreadedMarshaler(this, &marshaler_), S_OK); }
    ~Outer() {
        if (marshaler_ != nullptr) {
            marshaler_->Release();
        }
    }
    Outer(const Outer&) = delete;
    Outer& operator=(const Outer&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualGUID(riid, IID_IMarshal) && marshaler_ != nullptr) {
            return marshaler_->QueryInterface(riid, ppv);
        }
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_ISequentialStream)) {
            *ppv = static_cast<ISequentialStream*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }  // lifetime owned by the test
    STDMETHODIMP Read(void*, ULONG, ULONG*) override { return S_OK; }
    STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return S_OK; }

    std::atomic<ULONG> refs{1};
    IUnknown* marshaler_ = nullptr;
};

TEST(ComFreeThreadedMarshaler, AggregatesUnderItsOuterObject) {
    const int64_t before = winplat::com::liveMarshalerCount();
    {
        Outer outer;
        ASSERT_NE(outer.marshaler_, nullptr);
        EXPECT_EQ(winplat::com::liveMarshalerCount(), before + 1);
        EXPECT_EQ(outer.refs, 1u);  // creating the inner object takes no outer reference

        IMarshal* marshal = nullptr;
        ASSERT_EQ(outer.QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
        EXPECT_EQ(outer.refs, 2u);  // the IMarshal face counts on the outer object
        // Its IUnknown methods are the outer object's.
        IUnknown* identity = nullptr;
        ASSERT_EQ(marshal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
        EXPECT_EQ(identity, static_cast<IUnknown*>(static_cast<ISequentialStream*>(&outer)));
        identity->Release();
        void* none = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(outer.marshaler_->QueryInterface(IID_IStream, &none), E_NOINTERFACE);
        EXPECT_EQ(none, nullptr);

        CLSID cls{};
        EXPECT_EQ(
            marshal->GetUnmarshalClass(IID_IUnknown, &outer, MSHCTX_INPROC, nullptr, MSHLFLAGS_NORMAL, &cls),
            S_OK);
        EXPECT_EQ(cls, CLSID_InProcFreeMarshaler);
        EXPECT_EQ(
            marshal->GetUnmarshalClass(IID_IUnknown, &outer, MSHCTX_LOCAL, nullptr, MSHLFLAGS_NORMAL, &cls),
            E_NOTIMPL);
        EXPECT_EQ(marshal->DisconnectObject(0), S_OK);
        marshal->Release();
        EXPECT_EQ(outer.refs, 1u);
    }
    EXPECT_EQ(winplat::com::liveMarshalerCount(), before);

    // Standalone: the inner object is its own controlling unknown.
    IUnknown* lone = nullptr;
    ASSERT_EQ(CoCreateFreeThreadedMarshaler(nullptr, &lone), S_OK);
    IMarshal* marshal = nullptr;
    ASSERT_EQ(lone->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
    EXPECT_EQ(marshal->Release(), 1u);
    EXPECT_EQ(lone->Release(), 0u);
    EXPECT_EQ(winplat::com::liveMarshalerCount(), before);
    EXPECT_EQ(CoCreateFreeThreadedMarshaler(nullptr, nullptr), E_INVALIDARG);

    winplat::inject::Scope scope;
    winplat::inject::arm("CoCreateFreeThreadedMarshaler", E_OUTOFMEMORY);
    lone = reinterpret_cast<IUnknown*>(0x1);
    EXPECT_EQ(CoCreateFreeThreadedMarshaler(nullptr, &lone), E_OUTOFMEMORY);
    EXPECT_EQ(lone, nullptr);
}

TEST(ComFreeThreadedMarshaler, InProcessMarshalPassesThePointer) {
    Outer outer;
    IMarshal* marshal = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
    MemoryStream stream;
    DWORD size = 0;
    EXPECT_EQ(marshal->GetMarshalSizeMax(IID_ISequentialStream, &outer, MSHCTX_INPROC, nullptr, 0, &size),
              S_OK);

    // Normal marshal: the data holds one reference until it is unmarshalled.
    ASSERT_EQ(
        marshal->MarshalInterface(&stream, IID_ISequentialStream, static_cast<ISequentialStream*>(&outer),
                                  MSHCTX_INPROC, nullptr, MSHLFLAGS_NORMAL),
        S_OK);
    EXPECT_EQ(stream.size(), size);
    EXPECT_EQ(outer.refs, 3u);
    stream.rewind();
    ISequentialStream* back = nullptr;
    ASSERT_EQ(marshal->UnmarshalInterface(&stream, IID_ISequentialStream, reinterpret_cast<void**>(&back)),
              S_OK);
    EXPECT_EQ(back, static_cast<ISequentialStream*>(&outer));
    EXPECT_EQ(outer.refs, 3u);  // the data's reference became the caller's
    back->Release();

    // Marshal data that is never unmarshalled is released.
    MemoryStream second;
    ASSERT_EQ(marshal->MarshalInterface(&second, IID_IUnknown, static_cast<ISequentialStream*>(&outer),
                                        MSHCTX_CROSSCTX, nullptr, MSHLFLAGS_NORMAL),
              S_OK);
    EXPECT_EQ(outer.refs, 3u);
    second.rewind();
    EXPECT_EQ(marshal->ReleaseMarshalData(&second), S_OK);
    EXPECT_EQ(outer.refs, 2u);

    // Truncated data is refused.
    MemoryStream empty;
    void* none = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(marshal->UnmarshalInterface(&empty, IID_IUnknown, &none), STG_E_READFAULT);
    EXPECT_EQ(none, nullptr);
    marshal->Release();
    EXPECT_EQ(outer.refs, 1u);
}

TEST(ComDisconnect, RecordedAndDelegatedToTheMarshaler) {
    winplat::com::resetDisconnectRecord();
    Outer outer;
    IUnknown* identity = static_cast<ISequentialStream*>(&outer);
    EXPECT_EQ(CoDisconnectObject(identity, 0), S_OK);
    EXPECT_EQ(winplat::com::disconnectCount(identity), 1u);
    EXPECT_EQ(outer.refs, 1u);  // references balanced
    // The object stays usable in this process.
    ULONG n = 0;
    EXPECT_EQ(outer.Read(nullptr, 0, &n), S_OK);

    // An object without IMarshal is disconnected too.
    MemoryStream plain;
    EXPECT_EQ(CoDisconnectObject(&plain, 0), S_OK);
    EXPECT_EQ(winplat::com::disconnectCount(&plain), 1u);
    EXPECT_EQ(winplat::com::disconnectTotal(), 2u);

    EXPECT_EQ(CoDisconnectObject(nullptr, 0), E_INVALIDARG);
    winplat::inject::Scope scope;
    winplat::inject::arm("CoDisconnectObject", E_FAIL);
    EXPECT_EQ(CoDisconnectObject(identity, 0), E_FAIL);
    EXPECT_EQ(winplat::com::disconnectTotal(), 2u);

    // Another thread's disconnection can be waited for, with a bound.
    std::thread watcher([identity] { CoDisconnectObject(identity, 0); });
    EXPECT_TRUE(winplat::com::waitForDisconnects(3, 10000));
    watcher.join();
    EXPECT_EQ(winplat::com::disconnectCount(identity), 2u);
    EXPECT_FALSE(winplat::com::waitForDisconnects(4, 1));
    winplat::com::resetDisconnectRecord();
    EXPECT_EQ(winplat::com::disconnectTotal(), 0u);
}

}  // namespace
