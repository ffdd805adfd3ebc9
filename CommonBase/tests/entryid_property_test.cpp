#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "Backend/v74/IDbMapiProps.h"
#include "CommonBase/EntryId.h"
#include "CommonBase/IUnknownImpl.h"
#include "CommonBase/MapiAlloc.h"
#include "winplat/com.h"
#include "winplat/mapi.h"

namespace {

// A separate heap standing in for the memory the server hands back: blocks
// are counted, and freeing a block it did not hand out is recorded.
std::set<void*> liveBlocks;
int strayFrees = 0;
bool allocationFails = false;
SCODE STDMETHODCALLTYPE serverAllocate(ULONG size, LPVOID* out) {
    if (allocationFails)
        return E_OUTOFMEMORY;
    *out = std::calloc(1, size ? size : 1);
    liveBlocks.insert(*out);
    return S_OK;
}
SCODE STDMETHODCALLTYPE serverAllocateMore(ULONG size, LPVOID, LPVOID* out) {
    return serverAllocate(size, out);
}
ULONG STDMETHODCALLTYPE serverFree(LPVOID block) {
    if (!block)
        return S_OK;
    if (!liveBlocks.erase(block)) {
        ++strayFrees;
        return static_cast<ULONG>(E_INVALIDARG);
    }
    std::free(block);
    return S_OK;
}
const MapiAllocFunctions kServerHeap{serverAllocate, serverAllocateMore, serverFree};

// Answers GetProps with one scripted value and records SetProps.
class FakeProps : public iui_::IUnknownImpl<IDbMapiProps> {
  public:
    STDMETHOD(GetConnection)(IAppConnection**) override { return E_NOTIMPL; }
    STDMETHOD(GetLastError)(LONG, _DbError**) override { return E_NOTIMPL; }
    STDMETHOD(Slot5)(_ObjectType*) override { return E_NOTIMPL; }
    STDMETHOD(Slot6)(GUID*) override { return E_NOTIMPL; }
    STDMETHOD(Slot7)(GUID*) override { return E_NOTIMPL; }
    STDMETHOD(Slot8)(GUID*) override { return E_NOTIMPL; }
    STDMETHOD(Slot9)() override { return E_NOTIMPL; }
    STDMETHOD(GetPropList)(_SPropTagArray**) override { return E_NOTIMPL; }
    STDMETHOD(GetProps)(_SPropTagArray* tags, _SPropValueArray** out) override {
        requested = tags && tags->cValues == 1 ? tags->aulPropTag[0] : 0;
        if (FAILED(result))
            return result;
        if (count < 0) {
            *out = nullptr;
            return result;
        }
        _SPropValueArray* array = nullptr;
        heap.allocateBuffer(sizeof(_SPropValueArray), reinterpret_cast<void**>(&array));
        array->cValues = static_cast<ULONG>(count);
        heap.allocateBuffer(sizeof(SPropValue) * 2, reinterpret_cast<void**>(&array->lpProps));
        array->lpProps[0] = value;
        array->lpProps[1] = value;
        *out = array;
        return result;
    }
    STDMETHOD(SetProps)(_SPropValueArray* values, _SPropProblemArray** problems) override {
        setCount = values ? values->cValues : 0;
        if (values && values->cValues == 1) {
            setTag = values->lpProps[0].ulPropTag;
            setBytes.assign(reinterpret_cast<const char*>(values->lpProps[0].Value.bin.lpb),
                            values->lpProps[0].Value.bin.cb);
        }
        problemsGiven = problems != nullptr;
        return S_OK;
    }
    STDMETHOD(Slot13)(ULONG, IStream*) override { return E_NOTIMPL; }
    STDMETHOD(OpenProperty)(ULONG, REFIID, ULONG, int, int, IUnknown**) override { return E_NOTIMPL; }
    STDMETHOD(DeleteProps)(_SPropTagArray*, _SPropProblemArray**) override { return E_NOTIMPL; }
    STDMETHOD(Slot16)(_SPropTagArray**, _SPropTagArray**) override { return E_NOTIMPL; }
    STDMETHOD(Slot17)(LONG, LONG, int) override { return E_NOTIMPL; }
    STDMETHOD(Slot18)(ULONG) override { return E_NOTIMPL; }

    MapiAllocFunctions heap = kServerHeap;
    HRESULT result = S_OK;
    int count = 1;
    SPropValue value{};
    ULONG requested = 0;
    ULONG setCount = 0, setTag = 0;
    std::string setBytes;
    bool problemsGiven = true;
};

const ULONG kTag = PROP_TAG(PT_BINARY, 0x0FFF);
const GUID kStore = {0x11223344, 0x5566, 0x7788, {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00}};

class EntryIdProperty : public ::testing::Test {
  protected:
    void SetUp() override {
        liveBlocks.clear();
        strayFrees = 0;
        allocationFails = false;
        props = new FakeProps;
    }
    void TearDown() override {
        props->Release();
        EXPECT_TRUE(liveBlocks.empty()) << liveBlocks.size() << " blocks left";
        EXPECT_EQ(strayFrees, 0);
    }
    void giveBinary(const std::string& bytes) {
        stored = bytes;
        props->value.ulPropTag = kTag;
        props->value.Value.bin.cb = static_cast<ULONG>(stored.size());
        props->value.Value.bin.lpb = reinterpret_cast<LPBYTE>(stored.data());
    }

    FakeProps* props = nullptr;
    std::string stored;
};

}  // namespace

TEST_F(EntryIdProperty, ReadsABinaryValue) {
    const EntryId expected(Guid(&kStore), 0);
    giveBinary(expected.bytes());
    EntryId id;
    EXPECT_EQ(id.readFromProperty(props, kTag, kServerHeap), S_OK);
    EXPECT_EQ(props->requested, kTag);
    EXPECT_EQ(id.bytes(), expected.bytes());
}

TEST_F(EntryIdProperty, ErrorRoadsReturnTheirCodeAndFreeEverything) {
    const EntryId original(Guid(&kStore), 0);
    EntryId id = original;

    EXPECT_EQ(id.readFromProperty(props, PROP_TAG(PT_LONG, 0x0FFF), kServerHeap), MAPI_E_UNEXPECTED_TYPE);
    EXPECT_EQ(props->requested, 0u);  // the server was not asked

    props->result = MAPI_E_NOT_FOUND;
    EXPECT_EQ(id.readFromProperty(props, kTag, kServerHeap), MAPI_E_NOT_FOUND);
    props->result = S_OK;

    props->value.ulPropTag = PROP_TAG(PT_ERROR, 0x0FFF);
    props->value.Value.err = MAPI_E_NOT_ENOUGH_MEMORY;
    EXPECT_EQ(id.readFromProperty(props, kTag, kServerHeap), MAPI_E_NOT_ENOUGH_MEMORY);

    giveBinary(std::string(24, 'x'));
    props->value.ulPropTag = PROP_TAG(PT_BINARY, 0x0ABC);  // another property
    EXPECT_EQ(id.readFromProperty(props, kTag, kServerHeap), E_INVALIDARG);
    props->value.ulPropTag = kTag;
    props->count = 2;
    EXPECT_EQ(id.readFromProperty(props, kTag, kServerHeap), E_INVALIDARG);
    props->count = -1;  // success without values
    EXPECT_EQ(id.readFromProperty(props, kTag, kServerHeap), E_INVALIDARG);
    props->count = 1;

    props->value.ulPropTag = PROP_TAG(PT_LONG, 0x0FFF);
    EXPECT_EQ(id.readFromProperty(props, kTag, kServerHeap), MAPI_E_INVALID_OBJECT);

    // One to three bytes: the raw constructor's error comes back as a code.
    for (size_t n = 1; n <= 3; ++n) {
        giveBinary(std::string(n, 'y'));
        EXPECT_EQ(id.readFromProperty(props, kTag, kServerHeap), MAPI_E_INVALID_ENTRYID) << n;
    }
    props->value.Value.bin.cb = 24;
    props->value.Value.bin.lpb = nullptr;
    EXPECT_EQ(id.readFromProperty(props, kTag, kServerHeap), MAPI_E_INVALID_ENTRYID);
    EXPECT_EQ(id.bytes(), original.bytes());  // unchanged by every failure

    EXPECT_EQ(id.readFromProperty(nullptr, kTag, kServerHeap), E_INVALIDARG);

    giveBinary(original.bytes());
    props->requested = 0;
    allocationFails = true;  // the tag array cannot be made
    EXPECT_EQ(id.readFromProperty(props, kTag, kServerHeap), E_OUTOFMEMORY);
    EXPECT_EQ(props->requested, 0u);
    allocationFails = false;
    EXPECT_EQ(id.bytes(), original.bytes());
}

#ifndef COMMONBASE_NO_TASK_ALLOCATOR
TEST_F(EntryIdProperty, TaskAllocatorForm) {
    // A server given the task-allocator routines hands back task memory; the
    // form without routines frees it with them.
    const int64_t before = winplat::com::liveTaskMemCount();
    props->heap = MapiAllocFunctions{coTaskMemAllocateBuffer, coTaskMemAllocateMore, coTaskMemFreeBuffer};
    const EntryId expected(Guid(&kStore), 1, Guid(&kStore));
    giveBinary(expected.bytes());
    EntryId id;
    EXPECT_EQ(id.readFromProperty(props, kTag), S_OK);
    EXPECT_EQ(id.bytes(), expected.bytes());
    giveBinary("ab");
    EXPECT_EQ(id.readFromProperty(props, kTag), MAPI_E_INVALID_ENTRYID);
    EXPECT_EQ(id.bytes(), expected.bytes());
    EXPECT_EQ(id.readFromProperty(props, PROP_TAG(PT_STRING8, 1)), MAPI_E_UNEXPECTED_TYPE);
    EXPECT_EQ(winplat::com::liveTaskMemCount(), before);
}
#endif

TEST_F(EntryIdProperty, Write) {
    const EntryId id(Guid(&kStore), 0);
    EXPECT_EQ(id.writeToProperty(nullptr, kTag), E_INVALIDARG);
    EXPECT_EQ(id.writeToProperty(props, PROP_TAG(PT_LONG, 1)), E_INVALIDARG);
    EXPECT_EQ(EntryId::fromText("ab").writeToProperty(props, kTag), MAPI_E_INVALID_ENTRYID);
    EXPECT_EQ(props->setCount, 0u);
    EXPECT_EQ(id.writeToProperty(props, kTag), S_OK);
    EXPECT_EQ(props->setCount, 1u);
    EXPECT_EQ(props->setTag, kTag);
    EXPECT_EQ(props->setBytes, id.bytes());
    EXPECT_FALSE(props->problemsGiven);
}
