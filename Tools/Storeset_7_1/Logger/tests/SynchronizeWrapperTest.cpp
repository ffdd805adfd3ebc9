// The COM synchronisation object: what it answers for, what it passes on,
// and the order in which it lets go of what it holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Tools/Storeset_7_1/Logger/SynchronizeWrapper.h"
#include "winplat/com.h"
#include "winplat/inject.h"

namespace {

std::vector<std::string> released;

// A recording ISynchronize whose identity (its IUnknown) is an object of its own.
class Identity : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        released.push_back("identity");
        return --refs;
    }
    ULONG refs = 1;
};

class Target : public ISynchronize {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (IsEqualGUID(riid, IID_IUnknown)) {
            identity.AddRef();
            *out = &identity;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        released.push_back("target");
        return --refs;
    }
    HRESULT STDMETHODCALLTYPE Wait(DWORD flags, DWORD milliseconds) override {
        calls.push_back("Wait " + std::to_string(flags) + " " + std::to_string(milliseconds));
        return 0x00040001;
    }
    HRESULT STDMETHODCALLTYPE Signal() override {
        calls.push_back("Signal");
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        calls.push_back("Reset");
        return E_ACCESSDENIED;
    }
    ULONG refs = 1;
    Identity identity;
    std::vector<std::string> calls;
};

struct Held {
    ISynchronize* p = nullptr;
    ~Held() {
        if (p) {
            p->Release();
        }
    }
};

}  // namespace

TEST(SynchronizeWrapper, AnswersForItsOwnInterfacesAndForIMarshalOnlyWhenMarshalled) {
    const IID other = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    struct Row {
        bool marshalled;
        const IID* iid;
        HRESULT expected;
        bool self;
    } rows[] = {
        {false, &IID_IUnknown, S_OK, true},
        {false, &IID_ISynchronize, S_OK, true},
        {false, &IID_IMarshal, E_NOINTERFACE, false},
        {false, &other, E_NOINTERFACE, false},
        {true, &IID_IUnknown, S_OK, true},
        {true, &IID_ISynchronize, S_OK, true},
        {true, &IID_IMarshal, S_OK, false},
        {true, &other, E_NOINTERFACE, false},
    };
    Target target;
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "marshalled " << row.marshalled << " expected " << row.expected);
        Held wrapper;
        ASSERT_EQ(SynchronizeWrapper::create(&target, row.marshalled, &wrapper.p), S_OK);
        void* out = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(wrapper.p->QueryInterface(*row.iid, &out), row.expected);
        if (row.expected == S_OK) {
            ASSERT_NE(out, nullptr);
            if (row.self) {
                EXPECT_EQ(out, wrapper.p);
            }
            static_cast<IUnknown*>(out)->Release();
        } else {
            EXPECT_EQ(out, nullptr);
        }
        EXPECT_EQ(wrapper.p->QueryInterface(*row.iid, nullptr), E_POINTER);
        // What was taken was given back: one reference left, the creator's.
        wrapper.p->AddRef();
        EXPECT_EQ(wrapper.p->Release(), 1u);
    }
    EXPECT_EQ(target.refs, 1u);
    EXPECT_EQ(target.identity.refs, 1u);
}

TEST(SynchronizeWrapper, PassesCallsOnUnchanged) {
    Target target;
    {
        Held wrapper;
        ASSERT_EQ(SynchronizeWrapper::create(&target, true, &wrapper.p), S_OK);
        EXPECT_EQ(wrapper.p->Wait(COWAIT_WAITALL, 250), 0x00040001);
        EXPECT_EQ(wrapper.p->Wait(0, INFINITE), 0x00040001);
        EXPECT_EQ(wrapper.p->Signal(), S_FALSE);
        EXPECT_EQ(wrapper.p->Reset(), E_ACCESSDENIED);
    }
    EXPECT_EQ(target.calls, (std::vector<std::string>{"Wait 1 250", "Wait 0 " + std::to_string(INFINITE),
                                                      "Signal", "Reset"}));
}

TEST(SynchronizeWrapper, LetsGoOfTheTargetThenOfItsIdentity) {
    Target target;
    ISynchronize* wrapper = nullptr;
    ASSERT_EQ(SynchronizeWrapper::create(&target, true, &wrapper), S_OK);
    EXPECT_EQ(target.refs, 3u);
    released.clear();
    EXPECT_EQ(wrapper->Release(), 0u);
    EXPECT_EQ(released, (std::vector<std::string>{"target", "target", "identity"}));
    EXPECT_EQ(target.refs, 1u);
    EXPECT_EQ(target.identity.refs, 1u);
}

TEST(SynchronizeWrapper, CreateRefusesWhatItCannotWrap) {
    ISynchronize* out = reinterpret_cast<ISynchronize*>(0x1);
    EXPECT_EQ(SynchronizeWrapper::create(nullptr, true, &out), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
    Target target;
    EXPECT_EQ(SynchronizeWrapper::create(&target, false, nullptr), E_POINTER);
    winplat::inject::arm("CoCreateFreeThreadedMarshaler", E_OUTOFMEMORY);
    out = reinterpret_cast<ISynchronize*>(0x1);
    EXPECT_EQ(SynchronizeWrapper::create(&target, true, &out), E_OUTOFMEMORY);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(target.refs, 1u);
    EXPECT_EQ(target.identity.refs, 1u);
}
