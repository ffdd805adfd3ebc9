#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "CommonBase/IUnknownImpl.h"

namespace {

struct IAlpha : IUnknown {
    STDMETHOD_(int, alpha)() PURE;
};
struct IBeta : IUnknown {
    STDMETHOD_(int, beta)() PURE;
};
struct IGammaBase : IUnknown {
    STDMETHOD_(int, gammaBase)() PURE;
};
struct IGamma : IGammaBase {
    STDMETHOD_(int, gamma)() PURE;
};
struct IInner : IUnknown {
    STDMETHOD_(int, inner)() PURE;
};

const IID IID_IAlpha = {0xA0000001, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
const IID IID_IBeta = {0xB0000001, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
const IID IID_IGammaBase = {0xC0000000, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
const IID IID_IGamma = {0xC0000001, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
const IID IID_IInner = {0xD0000001, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
const IID IID_IOther = {0xE0000001, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};

}  // namespace

IUI_INTERFACE_ID(IAlpha, IID_IAlpha);
IUI_INTERFACE_ID(IBeta, IID_IBeta);
IUI_INTERFACE_ID(IGammaBase, IID_IGammaBase);
IUI_INTERFACE_ID(IGamma, IID_IGamma);
IUI_INTERFACE_ID(IInner, IID_IInner);

namespace {

std::atomic<int> destroyed{0};

class Plain : public iui_::IUnknownImpl<IAlpha, IBeta> {
  public:
    ~Plain() override { ++destroyed; }
    STDMETHOD_(int, alpha)() override { return 1; }
    STDMETHOD_(int, beta)() override { return 2; }
};

class Inner : public iui_::IUnknownImpl<IInner> {
  public:
    ~Inner() override { ++destroyed; }
    STDMETHOD_(int, inner)() override { return 42; }
};

class Outer : public iui_::IUnknownImpl<iui_::InheritsFrom<IGamma, IGammaBase>, iui_::Aggreg<IInner>,
                                        iui_::SupportAggreg> {
  public:
    explicit Outer(IUnknown* inner) : inner_(inner) {
        aggregates_[IID_IInner] = inner;
        aggregates_[IID_IOther] = inner;  // the inner object refuses this one
    }
    ~Outer() override { inner_->Release(); }
    STDMETHOD_(int, gammaBase)() override { return 3; }
    STDMETHOD_(int, gamma)() override { return 4; }

  private:
    IUnknown* inner_;
};

class NoAggregation : public iui_::IUnknownImpl<IAlpha, iui_::DoesntSupportAggreg> {
  public:
    explicit NoAggregation(IUnknown* inner) { aggregates_[IID_IInner] = inner; }
    STDMETHOD_(int, alpha)() override { return 5; }
};

}  // namespace

TEST(IUnknownImpl, CountingAndDeletion) {
    destroyed = 0;
    Plain* p = new Plain;
    EXPECT_EQ(p->AddRef(), 2u);
    EXPECT_EQ(p->Release(), 1u);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(p->Release(), 0u);
    EXPECT_EQ(destroyed, 1);
}

TEST(IUnknownImpl, QueryInterfaceFacesAndIdentity) {
    Plain* p = new Plain;
    IAlpha* alpha = nullptr;
    IBeta* beta = nullptr;
    IUnknown* unknownFromAlpha = nullptr;
    IUnknown* unknownFromBeta = nullptr;
    ASSERT_EQ(p->QueryInterface(IID_IAlpha, reinterpret_cast<void**>(&alpha)), S_OK);
    ASSERT_EQ(alpha->QueryInterface(IID_IBeta, reinterpret_cast<void**>(&beta)), S_OK);
    EXPECT_EQ(alpha->alpha(), 1);
    EXPECT_EQ(beta->beta(), 2);
    ASSERT_EQ(alpha->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknownFromAlpha)), S_OK);
    ASSERT_EQ(beta->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknownFromBeta)), S_OK);
    EXPECT_EQ(unknownFromAlpha, unknownFromBeta);
    EXPECT_EQ(static_cast<void*>(unknownFromAlpha), static_cast<void*>(alpha));  // first face is the IUnknown
    EXPECT_NE(static_cast<void*>(alpha), static_cast<void*>(beta));
    // Four successful queries: count 5.
    EXPECT_EQ(p->AddRef(), 6u);
    p->Release();

    void* other = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(beta->QueryInterface(IID_IOther, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(p->AddRef(), 6u);  // unchanged by the failure
    p->Release();
    EXPECT_EQ(p->QueryInterface(IID_IAlpha, nullptr), E_POINTER);

    // Every face releases the same count.
    alpha->Release();
    beta->Release();
    unknownFromAlpha->Release();
    unknownFromBeta->Release();
    EXPECT_EQ(p->Release(), 0u);
}

TEST(IUnknownImpl, InheritedInterfacesShareTheirFace) {
    Inner* inner = new Inner;
    Outer* o = new Outer(inner);
    IGammaBase* base = nullptr;
    IGamma* gamma = nullptr;
    ASSERT_EQ(o->QueryInterface(IID_IGammaBase, reinterpret_cast<void**>(&base)), S_OK);
    ASSERT_EQ(o->QueryInterface(IID_IGamma, reinterpret_cast<void**>(&gamma)), S_OK);
    EXPECT_EQ(static_cast<IGammaBase*>(gamma), base);
    EXPECT_EQ(base->gammaBase(), 3);
    base->Release();
    gamma->Release();
    destroyed = 0;
    EXPECT_EQ(o->Release(), 0u);
    EXPECT_EQ(destroyed, 1);  // the outer released its inner object
}

TEST(IUnknownImpl, AggregatedInterfacesAreAnsweredByTheInnerObject) {
    Inner* inner = new Inner;
    Outer* o = new Outer(inner);
    IInner* viaOuter = nullptr;
    ASSERT_EQ(o->QueryInterface(IID_IInner, reinterpret_cast<void**>(&viaOuter)), S_OK);
    EXPECT_EQ(viaOuter, static_cast<IInner*>(inner));
    EXPECT_EQ(viaOuter->inner(), 42);
    EXPECT_EQ(inner->AddRef(), 3u);  // the inner object's count was raised, not the outer's
    inner->Release();
    EXPECT_EQ(o->AddRef(), 2u);
    o->Release();
    viaOuter->Release();

    // The inner object refuses: the outer's own list answers (here: nothing).
    void* out = nullptr;
    EXPECT_EQ(o->QueryInterface(IID_IOther, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    o->Release();

    // Without the aggregation policy the map is not consulted.
    Inner* other = new Inner;
    NoAggregation* n = new NoAggregation(other);
    EXPECT_EQ(n->QueryInterface(IID_IInner, &out), E_NOINTERFACE);
    n->Release();
    other->Release();
}

TEST(IUnknownImpl, ConcurrentCountingDeletesOnce) {
    destroyed = 0;
    Plain* p = new Plain;
    const int threads = 4, rounds = 2000;
    for (int i = 0; i < threads * rounds; ++i)
        p->AddRef();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([p] {
            for (int i = 0; i < rounds; ++i) {
                p->AddRef();
                p->Release();
                p->Release();
            }
        });
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(p->Release(), 0u);
    EXPECT_EQ(destroyed, 1);
}
