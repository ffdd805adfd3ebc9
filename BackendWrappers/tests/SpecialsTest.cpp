// The hand-written methods: OpenProperty (five wrappers), CreateCall and the
// stream copy into a stream of the caller's own.
#include <algorithm>
#include <cstring>

#include "BuildRows.h"
#include "Fakes.h"
#include "Watchdog.h"

namespace {

using namespace BackendWrappers;

template <class W>
typename W::Interface* wrapFake(typename W::Interface* fake, bool direct = false) {
    typename W::Interface* face = nullptr;
    EXPECT_EQ(createTypedWrapper<W>(fake, &face, direct, OutOfThreadCaller::instance()), S_OK);
    return face;
}

struct OpenRoad {
    const char* what;
    IID iid;
    bool outGiven;
    bool nullFromServer;
    HRESULT queryHr;
    HRESULT expected;
    int serverCalls;
};

const IID Foreign = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};

const OpenRoad openRoads[] = {
    {"unsupported IID", Foreign, true, false, S_OK, E_NOINTERFACE, 0},
    {"IUnknown", IID_IUnknown, true, false, S_OK, S_OK, 1},
    {"IStream", IID_IStream, true, false, S_OK, S_OK, 1},
    {"null out", IID_IStream, false, false, S_OK, S_FALSE, 1},
    {"success without object", IID_IStream, true, true, S_OK, E_INVALIDARG, 1},
    {"success without object, null out", IID_IStream, false, true, S_OK, S_FALSE, 1},
    {"query fails", IID_IStream, true, false, E_NOINTERFACE, E_NOINTERFACE, 1},
};

template <class W>
void openPropertyRoads() {
    SCOPED_TRACE(W::QueryInterfaceName);
    for (const OpenRoad& road : openRoads) {
        SCOPED_TRACE(road.what);
        const long live = fakes::liveObjects();
        auto* face = wrapFake<W>(new typename fakes::FakeOf<W>::type);
        fakes::reset();
        fakes::script().nullOut = road.nullFromServer;
        fakes::script().queryHr = road.queryHr;
        IUnknown* sentinel = reinterpret_cast<IUnknown*>(uintptr_t{0x1234});
        IUnknown* out = road.outGiven ? sentinel : nullptr;
        HRESULT hr = face->OpenProperty(0x37001F, road.iid, 0, 1, 0, road.outGiven ? &out : nullptr);
        EXPECT_EQ(hr, road.expected);
        EXPECT_EQ(static_cast<int>(fakes::calls().size()), road.serverCalls);
        if (road.expected == S_OK) {
            ASSERT_NE(out, sentinel);
            void* same = nullptr;
            ASSERT_EQ(out->QueryInterface(road.iid, &same), S_OK);
            EXPECT_EQ(same, out);  // the wrapper of the requested interface itself
            static_cast<IUnknown*>(same)->Release();
            EXPECT_NE(fakes::wrappedOf(out), nullptr);
            out->Release();
        } else if (road.outGiven) {
            EXPECT_EQ(out, sentinel);  // a failure leaves the caller's pointer as it was
        }
        face->Release();
        // The first object is given up on every road, the wrapped one with its wrapper.
        EXPECT_EQ(fakes::liveObjects(), live);
    }
}

TEST(Specials, OpenPropertyInEveryPropertyWrapper) {
    Watchdog watchdog;
    int wrappers = 0;
#define OPEN_PROPERTY_ROADS(W, I, SLOTS)                \
    if constexpr (std::is_base_of_v<IDbMapiProps, I>) { \
        openPropertyRoads<W>();                         \
        ++wrappers;                                     \
    }
    BACKEND_WRAPPERS(OPEN_PROPERTY_ROADS)
#undef OPEN_PROPERTY_ROADS
    EXPECT_EQ(wrappers, rows::PropertyWrappers);
}

// The server sees the call's interface ID, the outer object (unwrapped when
// it is a wrapper) and the requested ID, in that order.
TEST(Specials, CreateCallWrapsByTheRequestedIdAndGivesUpWhatItCannotWrap) {
    Watchdog watchdog;
    struct Case {
        IID requested;
        fakes::In outer;
        bool outGiven;
        HRESULT expected;
    };
    const Case cases[] = {{IID_IUnknown, fakes::In::Wrapper, true, S_FALSE},
                          {IID_AsyncISynchronizator, fakes::In::Null, true, S_FALSE},
                          {Foreign, fakes::In::Foreign, true, E_NOINTERFACE},
                          {IID_IBackendWrapper, fakes::In::Null, true, E_NOINTERFACE},
                          {IID_IUnknown, fakes::In::Foreign, false, S_FALSE}};
    for (const Case& c : cases) {
        const long live = fakes::liveObjects();
        ICallFactory* factory = wrapFake<CallFactoryWrapper>(new fakes::FakeCallFactoryWrapper);
        fakes::reset();
        IUnknown* out = nullptr;
        auto s = std::make_unique<fakes::Sentinels>();
        s->in = c.outer;
        IUnknown* outer = s->inObject();
        const void* seenOuter = s->seenAs.empty() ? outer : s->seenAs[0].second;
        EXPECT_EQ(
            factory->CreateCall(IID_AsyncISynchronizator, outer, c.requested, c.outGiven ? &out : nullptr),
            c.expected);
        std::vector<fakes::Call> seen = fakes::calls();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].bytes,
                  fakes::argBytes(IID_AsyncISynchronizator, seenOuter, c.requested,
                                  reinterpret_cast<const void*>(uintptr_t{c.outGiven ? 1u : 0u})));
        if (c.expected == S_FALSE && c.outGiven) {
            void* same = nullptr;
            ASSERT_EQ(out->QueryInterface(c.requested, &same), S_OK);
            EXPECT_EQ(same, out);
            static_cast<IUnknown*>(same)->Release();
            out->Release();
        } else {
            EXPECT_EQ(out, nullptr);
        }
        factory->Release();
        s.reset();
        EXPECT_EQ(fakes::liveObjects(), live);
    }
}

// A backend stream of `size` bytes (byte i is i * 7) that hands out at most
// what is asked, or misbehaves as told.
struct SourceStream : fakes::FakeStreamWrapper {
    uint64_t size = 0;
    uint64_t position = 0;
    int failOnRead = 0;  // the n-th read fails
    ULONG overReport = 0;
    std::vector<ULONG> asked;
    std::vector<DWORD> threads;
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        asked.push_back(cb);
        threads.push_back(GetCurrentThreadId());
        if (static_cast<int>(asked.size()) == failOnRead) {
            return STG_E_ACCESSDENIED;
        }
        ULONG n = static_cast<ULONG>(std::min<uint64_t>(cb, size - position));
        for (ULONG i = 0; i < n; ++i) {
            static_cast<BYTE*>(pv)[i] = static_cast<BYTE>((position + i) * 7);
        }
        position += n;
        *pcbRead = n + overReport;
        return S_OK;
    }
};

// A stream of the caller's own that takes at most `cap` bytes per write.
struct Destination : fakes::FakeStreamWrapper {
    std::vector<BYTE> data;
    ULONG cap = 0xFFFFFFFF;
    ULONG overReport = 0;
    HRESULT failure = S_OK;
    std::vector<DWORD> threads;
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        threads.push_back(GetCurrentThreadId());
        if (FAILED(failure)) {
            return failure;
        }
        ULONG n = std::min(cb, cap);
        data.insert(data.end(), static_cast<const BYTE*>(pv), static_cast<const BYTE*>(pv) + n);
        *pcbWritten = n + overReport;
        return S_OK;
    }
};

struct CopyCase {
    const char* what;
    uint64_t streamSize;
    uint64_t count;
    ULONG writeCap;
    int failOnRead;
    ULONG readOverReport;
    ULONG writeOverReport;
    HRESULT writeFailure;
    HRESULT expected;
    std::vector<ULONG> asked;
    uint64_t readTotal;
    uint64_t writtenTotal;
};

constexpr ULONG M = 1000000;
// What the bytes-read total shows of a chunk whose write did not complete.
constexpr uint64_t Unwritten = BackendWrappers::build::CountReadAfterWrite ? 0 : M;

class LocalCopy : public ::testing::TestWithParam<CopyCase> {};

TEST_P(LocalCopy, ReadsOnACallingThreadWritesHereAndCountsExactly) {
    Watchdog watchdog;
    const CopyCase& c = GetParam();
    auto* source = new SourceStream;
    source->size = c.streamSize;
    source->failOnRead = c.failOnRead;
    source->overReport = c.readOverReport;
    source->AddRef();
    IStream* stream = wrapFake<StreamWrapper>(source);
    auto* destination = new Destination;
    destination->cap = c.writeCap;
    destination->overReport = c.writeOverReport;
    destination->failure = c.writeFailure;
    ULARGE_INTEGER count, read, written;
    count.QuadPart = c.count;
    read.QuadPart = written.QuadPart = 99;
    EXPECT_EQ(stream->CopyTo(destination, count, &read, &written), c.expected);
    EXPECT_EQ(source->asked, c.asked);
    EXPECT_EQ(read.QuadPart, c.readTotal);
    EXPECT_EQ(written.QuadPart, c.writtenTotal);
    // A destination that over-reports took more than it owned up to.
    ASSERT_EQ(destination->data.size(), c.writtenTotal + (c.writeOverReport ? M : 0));
    // One check for the whole copy: an assertion per byte takes long enough
    // in a sanitized build on a loaded machine to outlive the watchdog.
    size_t firstWrong = 0;
    while (firstWrong < destination->data.size() &&
           destination->data[firstWrong] == static_cast<BYTE>(firstWrong * 7)) {
        ++firstWrong;
    }
    EXPECT_EQ(firstWrong, destination->data.size()) << "the first byte not copied as read";
    for (DWORD t : source->threads) {
        EXPECT_NE(t, GetCurrentThreadId());
    }
    for (DWORD t : destination->threads) {
        EXPECT_EQ(t, GetCurrentThreadId());
    }
    stream->Release();
    source->Release();
    destination->Release();
}

INSTANTIATE_TEST_SUITE_P(
    Streams, LocalCopy,
    ::testing::Values(
        CopyCase{"nothing", 10, 0, 0xFFFFFFFF, 0, 0, 0, S_OK, S_OK, {}, 0, 0},
        CopyCase{"chunks", 3 * M, 2500000, 0xFFFFFFFF, 0, 0, 0, S_OK, S_OK, {M, M, 500000}, 2500000, 2500000},
        CopyCase{
            "ends early", 1500000, 2500000, 0xFFFFFFFF, 0, 0, 0, S_OK, S_OK, {M, M, M}, 1500000, 1500000},
        CopyCase{"high part",
                 1200000,
                 0x100000000ull + 5,
                 0xFFFFFFFF,
                 0,
                 0,
                 0,
                 S_OK,
                 S_OK,
                 {M, M, M},
                 1200000,
                 1200000},
        CopyCase{
            "second read fails", 3 * M, 2500000, 0xFFFFFFFF, 2, 0, 0, S_OK, STG_E_ACCESSDENIED, {M, M}, M, M},
        CopyCase{"short writes offered again",
                 2 * M,
                 1500000,
                 300000,
                 0,
                 0,
                 0,
                 S_OK,
                 S_OK,
                 {M, 500000},
                 1500000,
                 1500000},
        CopyCase{"no progress", 2 * M, 1500000, 0, 0, 0, 0, S_OK, STG_E_MEDIUMFULL, {M}, Unwritten, 0},
        CopyCase{"write fails",
                 2 * M,
                 1500000,
                 0xFFFFFFFF,
                 0,
                 0,
                 0,
                 STG_E_WRITEFAULT,
                 STG_E_WRITEFAULT,
                 {M},
                 Unwritten,
                 0},
        CopyCase{
            "reader over-reports", 2 * M, 1500000, 0xFFFFFFFF, 0, 1, 0, S_OK, STG_E_READFAULT, {M}, 0, 0},
        CopyCase{"writer over-reports",
                 2 * M,
                 1500000,
                 0xFFFFFFFF,
                 0,
                 0,
                 1,
                 S_OK,
                 STG_E_WRITEFAULT,
                 {M},
                 Unwritten,
                 0}),
    [](const auto& info) {
        std::string name = info.param.what;
        std::replace_if(
            name.begin(), name.end(), [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); },
            '_');
        return name;
    });

TEST(Specials, CopyToAWrapperLetsTheServerCopyAndANullDestinationIsRefused) {
    Watchdog watchdog;
    auto* sourceFake = new fakes::FakeStreamWrapper;
    auto* destinationFake = new fakes::FakeStreamWrapper;
    IStream* source = wrapFake<StreamWrapper>(sourceFake);
    IStream* destination = wrapFake<StreamWrapper>(destinationFake);
    fakes::reset();
    ULARGE_INTEGER count;
    count.QuadPart = 12345;
    ULARGE_INTEGER read, written;
    EXPECT_EQ(source->CopyTo(destination, count, &read, &written), S_FALSE);
    std::vector<fakes::Call> seen = fakes::calls();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].index, 7);
    EXPECT_EQ(seen[0].bytes, fakes::argBytes(static_cast<IStream*>(destinationFake), count, &read, &written));
    fakes::reset();
    EXPECT_EQ(source->CopyTo(nullptr, count, &read, &written), STG_E_INVALIDPOINTER);
    EXPECT_TRUE(fakes::calls().empty());
    source->Release();
    destination->Release();
}

}  // namespace
