// A MAPI allocator for tests with the linked-allocation rules: a block from
// allocateMore lives until its head block is freed; freeing anything but a
// head is refused. It counts live blocks and can fail the n-th allocation.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "CommonBase/HResultException.h"
#include "CommonBase/MapiAlloc.h"
#include "MapiProvider/Utilities/MapiAllocator.h"

class MapiTestAllocator {
  public:
    static MapiTestAllocator& get() {
        static MapiTestAllocator allocator;
        return allocator;
    }

    void reset() {
        for (auto& head : heads_) {
            for (void* block : head.second) {
                std::free(block);
            }
            std::free(head.first);
        }
        heads_.clear();
        linked_.clear();
        allocations_ = 0;
        failAt_ = -1;
        failures_ = 0;
    }

    // The allocation with this index (0 = the next one) fails with `hr`.
    void failAllocation(int index, HRESULT hr = E_OUTOFMEMORY) {
        failAt_ = allocations_ + index;
        failCode_ = hr;
    }
    int allocations() const { return allocations_; }
    size_t liveHeads() const { return heads_.size(); }
    size_t liveBlocks() const { return heads_.size() + linked_.size(); }
    bool isHead(const void* block) const { return heads_.count(const_cast<void*>(block)) != 0; }
    bool isLinkedTo(const void* block, const void* head) const {
        auto it = linked_.find(const_cast<void*>(block));
        return it != linked_.end() && it->second == head;
    }
    int invalidFrees() const { return failures_; }

    static MapiAllocFunctions functions() { return {&allocateBuffer, &allocateMore, &freeBuffer}; }

    static SCODE STDMETHODCALLTYPE allocateBuffer(ULONG size, LPVOID* out) {
        MapiTestAllocator& self = get();
        if (self.shouldFail()) {
            return self.failCode_;
        }
        void* block = self.make(size);
        self.heads_[block];
        *out = block;
        return S_OK;
    }

    static SCODE STDMETHODCALLTYPE allocateMore(ULONG size, LPVOID parent, LPVOID* out) {
        MapiTestAllocator& self = get();
        auto head = self.heads_.find(parent);
        if (head == self.heads_.end()) {
            ++self.failures_;
            return E_INVALIDARG;  // a parent must be a head block
        }
        if (self.shouldFail()) {
            return self.failCode_;
        }
        void* block = self.make(size);
        head->second.push_back(block);
        self.linked_[block] = parent;
        *out = block;
        return S_OK;
    }

    static ULONG STDMETHODCALLTYPE freeBuffer(LPVOID block) {
        MapiTestAllocator& self = get();
        if (!block) {
            return S_OK;
        }
        auto head = self.heads_.find(block);
        if (head == self.heads_.end()) {
            ++self.failures_;
            return static_cast<ULONG>(E_INVALIDARG);
        }
        for (void* linked : head->second) {
            self.linked_.erase(linked);
            std::free(linked);
        }
        std::free(head->first);
        self.heads_.erase(head);
        return S_OK;
    }

  private:
    bool shouldFail() { return allocations_++ == failAt_; }
    static void* make(ULONG size) {
        // Filled with garbage so that missing zero fills show.
        void* block = std::malloc(size ? size : 1);
        std::memset(block, 0xCD, size ? size : 1);
        return block;
    }

    std::map<void*, std::vector<void*>> heads_;
    std::map<void*, void*> linked_;
    int allocations_ = 0;
    int failAt_ = -1;
    HRESULT failCode_ = E_OUTOFMEMORY;
    int failures_ = 0;
};

// An allocation source over the test allocator; the routines it hands out can
// be withheld and the call made to fail.
class TestAllocationSource : public IMapiAllocator {
  public:
    STDMETHOD(QueryInterface)(REFIID riid, void** out) override {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IMapiAllocator)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }
    STDMETHOD(allocateBuffer)(ULONG size, LPVOID* out) override {
        return MapiTestAllocator::allocateBuffer(size, out);
    }
    STDMETHOD(allocateMore)(ULONG size, LPVOID parent, LPVOID* out) override {
        return MapiTestAllocator::allocateMore(size, parent, out);
    }
    STDMETHOD(freeBuffer)(LPVOID block) override {
        return static_cast<HRESULT>(MapiTestAllocator::freeBuffer(block));
    }
    STDMETHOD(getAllocationFunctions)(LPALLOCATEBUFFER* a, LPALLOCATEMORE* m, LPFREEBUFFER* f) override {
        if (failWith != S_OK) {
            return failWith;
        }
        if (a) {
            *a = &MapiTestAllocator::allocateBuffer;
        }
        if (m) {
            *m = &MapiTestAllocator::allocateMore;
        }
        if (f && giveFree) {
            *f = &MapiTestAllocator::freeBuffer;
        }
        return S_OK;
    }

    ULONG refs = 1;
    bool giveFree = true;
    HRESULT failWith = S_OK;
};

// Runs `body`, expecting an HResultException with this code raised at this
// line of the MAPI memory module under this function name.
template <typename Body>
void expectMapiAllocError(Body body, HRESULT hr, int line, const std::string& function) {
    try {
        body();
        ADD_FAILURE() << "no exception, expected " << function << " line " << line;
    } catch (const HResultException& e) {
        EXPECT_EQ(e.getHResult(), hr) << e.what();
        std::string where = "MapiAlloc(" + std::to_string(line) + "), " + function + ":";
        EXPECT_NE(std::string(e.what()).find(where), std::string::npos)
            << e.what() << " -- expected " << where;
    }
}

class MapiAllocTest : public ::testing::Test {
  protected:
    void SetUp() override { MapiTestAllocator::get().reset(); }
    void TearDown() override { MapiTestAllocator::get().reset(); }

    MapiTestAllocator& alloc() { return MapiTestAllocator::get(); }
    MapiAllocFunctions f = MapiTestAllocator::functions();
};
