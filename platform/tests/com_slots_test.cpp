// Calls every platform interface through raw vtable indices, so a slot
// declared out of its published order cannot hide behind code that is
// compiled against the same header.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <typeinfo>

#include "winplat/com.h"

namespace {

// One method per line reads as the slot table it is.
// clang-format off
struct Recorder {
    int last = -1;
};

#define WP_SLOT(n)       \
    {                    \
        rec.last = (n);  \
        return 0;        \
    }
#define WP_UNKNOWN_SLOTS                                               \
    STDMETHODIMP QueryInterface(REFIID, void**) override WP_SLOT(0)    \
    STDMETHODIMP_(ULONG) AddRef() override WP_SLOT(1)                  \
    STDMETHODIMP_(ULONG) Release() override WP_SLOT(2)                 \
    Recorder rec;

struct ClassFactoryProbe final : IClassFactory {
    WP_UNKNOWN_SLOTS
    STDMETHODIMP CreateInstance(IUnknown*, REFIID, void**) override WP_SLOT(3)
    STDMETHODIMP LockServer(BOOL) override WP_SLOT(4)
};

struct SequentialStreamProbe final : ISequentialStream {
    WP_UNKNOWN_SLOTS
    STDMETHODIMP Read(void*, ULONG, ULONG*) override WP_SLOT(3)
    STDMETHODIMP Write(const void*, ULONG, ULONG*) override WP_SLOT(4)
};

struct StreamProbe final : IStream {
    WP_UNKNOWN_SLOTS
    STDMETHODIMP Read(void*, ULONG, ULONG*) override WP_SLOT(3)
    STDMETHODIMP Write(const void*, ULONG, ULONG*) override WP_SLOT(4)
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override WP_SLOT(5)
    STDMETHODIMP SetSize(ULARGE_INTEGER) override WP_SLOT(6)
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override WP_SLOT(7)
    STDMETHODIMP Commit(DWORD) override WP_SLOT(8)
    STDMETHODIMP Revert() override WP_SLOT(9)
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override WP_SLOT(10)
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override WP_SLOT(11)
    STDMETHODIMP Stat(STATSTG*, DWORD) override WP_SLOT(12)
    STDMETHODIMP Clone(IStream**) override WP_SLOT(13)
};

struct EnumStatStgProbe final : IEnumSTATSTG {
    WP_UNKNOWN_SLOTS
    STDMETHODIMP Next(ULONG, STATSTG*, ULONG*) override WP_SLOT(3)
    STDMETHODIMP Skip(ULONG) override WP_SLOT(4)
    STDMETHODIMP Reset() override WP_SLOT(5)
    STDMETHODIMP Clone(IEnumSTATSTG**) override WP_SLOT(6)
};

struct StorageProbe final : IStorage {
    WP_UNKNOWN_SLOTS
    STDMETHODIMP CreateStream(const OLECHAR*, DWORD, DWORD, DWORD, IStream**) override WP_SLOT(3)
    STDMETHODIMP OpenStream(const OLECHAR*, void*, DWORD, DWORD, IStream**) override WP_SLOT(4)
    STDMETHODIMP CreateStorage(const OLECHAR*, DWORD, DWORD, DWORD, IStorage**) override WP_SLOT(5)
    STDMETHODIMP OpenStorage(const OLECHAR*, IStorage*, DWORD, SNB, DWORD, IStorage**) override WP_SLOT(6)
    STDMETHODIMP CopyTo(DWORD, const IID*, SNB, IStorage*) override WP_SLOT(7)
    STDMETHODIMP MoveElementTo(const OLECHAR*, IStorage*, const OLECHAR*, DWORD) override WP_SLOT(8)
    STDMETHODIMP Commit(DWORD) override WP_SLOT(9)
    STDMETHODIMP Revert() override WP_SLOT(10)
    STDMETHODIMP EnumElements(DWORD, void*, DWORD, IEnumSTATSTG**) override WP_SLOT(11)
    STDMETHODIMP DestroyElement(const OLECHAR*) override WP_SLOT(12)
    STDMETHODIMP RenameElement(const OLECHAR*, const OLECHAR*) override WP_SLOT(13)
    STDMETHODIMP SetElementTimes(const OLECHAR*, const FILETIME*, const FILETIME*, const FILETIME*) override
        WP_SLOT(14)
    STDMETHODIMP SetClass(REFCLSID) override WP_SLOT(15)
    STDMETHODIMP SetStateBits(DWORD, DWORD) override WP_SLOT(16)
    STDMETHODIMP Stat(STATSTG*, DWORD) override WP_SLOT(17)
};

struct ExternalConnectionProbe final : IExternalConnection {
    WP_UNKNOWN_SLOTS
    STDMETHODIMP_(DWORD) AddConnection(DWORD, DWORD) override WP_SLOT(3)
    STDMETHODIMP_(DWORD) ReleaseConnection(DWORD, DWORD, BOOL) override WP_SLOT(4)
};

struct MarshalProbe final : IMarshal {
    WP_UNKNOWN_SLOTS
    STDMETHODIMP GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID*) override WP_SLOT(3)
    STDMETHODIMP GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD*) override WP_SLOT(4)
    STDMETHODIMP MarshalInterface(IStream*, REFIID, void*, DWORD, void*, DWORD) override WP_SLOT(5)
    STDMETHODIMP UnmarshalInterface(IStream*, REFIID, void**) override WP_SLOT(6)
    STDMETHODIMP ReleaseMarshalData(IStream*) override WP_SLOT(7)
    STDMETHODIMP DisconnectObject(DWORD) override WP_SLOT(8)
};

struct SynchronizeProbe final : ISynchronize {
    WP_UNKNOWN_SLOTS
    STDMETHODIMP Wait(DWORD, DWORD) override WP_SLOT(3)
    STDMETHODIMP Signal() override WP_SLOT(4)
    STDMETHODIMP Reset() override WP_SLOT(5)
};

struct CallFactoryProbe final : ICallFactory {
    WP_UNKNOWN_SLOTS
    STDMETHODIMP CreateCall(REFIID, IUnknown*, REFIID, IUnknown**) override WP_SLOT(3)
};

// clang-format on

// Calls each raw slot with the object pointer alone: every probe method
// ignores its arguments and only records its slot.
template <typename Probe>
void expectSlots(int count) {
    Probe probe;
    void** vtable = *reinterpret_cast<void***>(static_cast<void*>(&probe));
    for (int slot = 0; slot < count; ++slot) {
        probe.rec.last = -1;
        reinterpret_cast<long (*)(void*)>(vtable[slot])(&probe);
        EXPECT_EQ(probe.rec.last, slot) << typeid(Probe).name();
    }
    // No virtual destructor or other extra slot precedes the methods.
    struct OneTable {
        void* vtable;
        Recorder rec;
    };
    EXPECT_EQ(sizeof(Probe), sizeof(OneTable));
}

TEST(ComSlots, PlatformInterfacesHavePublishedOrder) {
    expectSlots<ClassFactoryProbe>(5);
    expectSlots<SequentialStreamProbe>(5);
    expectSlots<StreamProbe>(14);
    expectSlots<EnumStatStgProbe>(7);
    expectSlots<StorageProbe>(18);
    expectSlots<ExternalConnectionProbe>(5);
    expectSlots<MarshalProbe>(9);
    expectSlots<SynchronizeProbe>(6);
    expectSlots<CallFactoryProbe>(4);
}

TEST(ComSlots, PublishedIdentifiersAndStructures) {
    WCHAR text[39];
    const struct {
        const IID* iid;
        const wchar_t* text;
    } known[] = {
        {&IID_IUnknown, L"{00000000-0000-0000-C000-000000000046}"},
        {&IID_IClassFactory, L"{00000001-0000-0000-C000-000000000046}"},
        {&IID_IMarshal, L"{00000003-0000-0000-C000-000000000046}"},
        {&IID_IStorage, L"{0000000B-0000-0000-C000-000000000046}"},
        {&IID_IStream, L"{0000000C-0000-0000-C000-000000000046}"},
        {&IID_IEnumSTATSTG, L"{0000000D-0000-0000-C000-000000000046}"},
        {&IID_IExternalConnection, L"{00000019-0000-0000-C000-000000000046}"},
        {&IID_ISynchronize, L"{00000030-0000-0000-C000-000000000046}"},
        {&IID_ISequentialStream, L"{0C733A30-2A1C-11CE-ADE5-00AA0044773D}"},
        {&IID_ICallFactory, L"{1C733A30-2A1C-11CE-ADE5-00AA0044773D}"},
        {&CLSID_InProcFreeMarshaler, L"{0000033A-0000-0000-C000-000000000046}"},
    };
    for (const auto& k : known) {
        ASSERT_EQ(StringFromGUID2(*k.iid, text, 39), 39);
        EXPECT_EQ(std::wstring(text), k.text);
    }
    // STATSTG field order, as 32-bit callers lay it out (72 bytes there).
    EXPECT_LT(offsetof(STATSTG, pwcsName), offsetof(STATSTG, type));
    EXPECT_LT(offsetof(STATSTG, type), offsetof(STATSTG, cbSize));
    EXPECT_LT(offsetof(STATSTG, cbSize), offsetof(STATSTG, mtime));
    EXPECT_EQ(offsetof(STATSTG, ctime), offsetof(STATSTG, mtime) + sizeof(FILETIME));
    EXPECT_EQ(offsetof(STATSTG, atime), offsetof(STATSTG, ctime) + sizeof(FILETIME));
    EXPECT_EQ(offsetof(STATSTG, grfMode), offsetof(STATSTG, atime) + sizeof(FILETIME));
    EXPECT_EQ(offsetof(STATSTG, clsid), offsetof(STATSTG, grfLocksSupported) + sizeof(DWORD));
    EXPECT_EQ(offsetof(STATSTG, reserved), offsetof(STATSTG, grfStateBits) + sizeof(DWORD));
    if constexpr (sizeof(void*) == 4) {
        EXPECT_EQ(sizeof(STATSTG), 72u);
    }
}

}  // namespace
