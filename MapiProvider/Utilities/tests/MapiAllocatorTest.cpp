// The allocator object's COM life and the task-allocator chains.
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>

#include "CommonBase/HResultException.h"
#include "MapiProvider/Utilities/MapiAllocatorImpl.h"
#include "MapiProvider/Utilities/MapiStubs.h"

namespace {

const IID OtherIid = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

}  // namespace

TEST(MapiAllocator, CreateHandsOutTheOnlyReference) {
    long live = Utilities::detail::MapiAllocatorImpl::liveCount();
    IMapiAllocator* allocator = nullptr;
    Utilities::MapiAllocator::create(&allocator);
    ASSERT_NE(allocator, nullptr);
    EXPECT_EQ(Utilities::detail::MapiAllocatorImpl::liveCount(), live + 1);

    IUnknown* unknown = nullptr;
    IMapiAllocator* again = nullptr;
    ASSERT_EQ(allocator->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    ASSERT_EQ(allocator->QueryInterface(IID_IMapiAllocator, reinterpret_cast<void**>(&again)), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(allocator));
    EXPECT_EQ(again, allocator);
    void* untouched = &live;
    EXPECT_EQ(allocator->QueryInterface(OtherIid, &untouched), E_NOINTERFACE);
    EXPECT_EQ(untouched, &live);
    EXPECT_EQ(allocator->QueryInterface(IID_IUnknown, nullptr), E_INVALIDARG);

    EXPECT_EQ(unknown->Release(), 2u);
    EXPECT_EQ(again->Release(), 1u);
    EXPECT_EQ(allocator->Release(), 0u);
    EXPECT_EQ(Utilities::detail::MapiAllocatorImpl::liveCount(), live);
}

TEST(MapiAllocator, HandsOutTheRuntimeStubsAndOnlyThoseAskedFor) {
    IMapiAllocator* allocator = nullptr;
    Utilities::MapiAllocator::create(&allocator);
    LPFREEBUFFER freeBuffer = nullptr;
    EXPECT_EQ(allocator->getAllocationFunctions(nullptr, nullptr, &freeBuffer), S_OK);
    EXPECT_EQ(freeBuffer, &MAPIFreeBuffer);
    LPALLOCATEBUFFER allocate = nullptr;
    LPALLOCATEMORE more = nullptr;
    EXPECT_EQ(allocator->getAllocationFunctions(&allocate, &more, nullptr), S_OK);
    EXPECT_EQ(allocate, &MAPIAllocateBuffer);
    EXPECT_EQ(more, &MAPIAllocateMore);
    allocator->Release();
}

TEST(MapiAllocator, CreateRefusesANullOut) {
    long live = Utilities::detail::MapiAllocatorImpl::liveCount();
    HRESULT hr = S_OK;
    std::string what;
    try {
        Utilities::detail::MapiAllocatorImpl::create(nullptr);
    } catch (const HResultException& e) {
        hr = e.getHResult();
        what = std::regex_replace(e.what(), std::regex("\\([0-9]+\\)"), "(N)");
    }
    EXPECT_EQ(hr, E_INVALIDARG);
    EXPECT_EQ(what,
              "Exception of class HResultException: Utilities\\MapiAllocatorImpl(N), "
              "Utilities::detail::MapiAllocatorImpl::create:\n0x80070057 E_INVALIDARG");
    EXPECT_EQ(Utilities::detail::MapiAllocatorImpl::liveCount(), live);
}

TEST(TaskAllocator, AHeadFreesItsWholeChain) {
    int64_t live = winplat::com::liveTaskMemCount();
    void* head = nullptr;
    ASSERT_EQ(coTaskMemAllocateBuffer(10, &head), S_OK);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(head) % 16, 0u);
    void* linked[3] = {};
    for (void*& block : linked) {
        ASSERT_EQ(coTaskMemAllocateMore(7, head, &block), S_OK);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
    }
    EXPECT_EQ(winplat::com::liveTaskMemCount(), live + 4);
    EXPECT_EQ(coTaskMemFreeBuffer(head), static_cast<ULONG>(S_OK));
    EXPECT_EQ(winplat::com::liveTaskMemCount(), live);
}

TEST(TaskAllocator, LinkedBlocksAreNeitherParentsNorFreedAlone) {
    int64_t live = winplat::com::liveTaskMemCount();
    void* head = nullptr;
    void* linked = nullptr;
    ASSERT_EQ(coTaskMemAllocateBuffer(4, &head), S_OK);
    ASSERT_EQ(coTaskMemAllocateMore(4, head, &linked), S_OK);
    void* more = &live;
    EXPECT_EQ(coTaskMemAllocateMore(4, linked, &more), E_INVALIDARG);
    EXPECT_EQ(more, &live);
    EXPECT_EQ(coTaskMemFreeBuffer(linked), static_cast<ULONG>(E_INVALIDARG));
    EXPECT_EQ(winplat::com::liveTaskMemCount(), live + 2);
    EXPECT_EQ(coTaskMemFreeBuffer(head), static_cast<ULONG>(S_OK));
    EXPECT_EQ(winplat::com::liveTaskMemCount(), live);
}

TEST(TaskAllocator, NullArguments) {
    void* block = nullptr;
    EXPECT_EQ(coTaskMemAllocateBuffer(1, nullptr), E_INVALIDARG);
    EXPECT_EQ(coTaskMemAllocateMore(1, nullptr, &block), E_INVALIDARG);
    ASSERT_EQ(coTaskMemAllocateBuffer(1, &block), S_OK);
    EXPECT_EQ(coTaskMemAllocateMore(1, block, nullptr), E_INVALIDARG);
    EXPECT_EQ(coTaskMemFreeBuffer(nullptr), static_cast<ULONG>(S_OK));
    EXPECT_EQ(coTaskMemFreeBuffer(block), static_cast<ULONG>(S_OK));
}
