// MAPI memory routines and property-value copies.
#include <gtest/gtest.h>

#include <cwchar>

#include "MapiTestAllocator.h"

using namespace InternalMapiAlloc;

namespace {

const GUID kGuidA = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
const GUID kGuidB = {0xA1A2A3A4, 0xB1B2, 0xC1C2, {1, 2, 3, 4, 5, 6, 7, 8}};

// Deep comparison of two property values of the same type.
void expectSameValue(const SPropValue& a, const SPropValue& b) {
    ASSERT_EQ(a.ulPropTag, b.ulPropTag);
    const _PV& x = a.Value;
    const _PV& y = b.Value;
    switch (PROP_TYPE(a.ulPropTag)) {
        case PT_I2:
            EXPECT_EQ(x.i, y.i);
            break;
        case PT_LONG:
        case PT_ERROR:
            EXPECT_EQ(x.l, y.l);
            break;
        case PT_BOOLEAN:
            EXPECT_EQ(x.b, y.b);
            break;
        case PT_R4:
            EXPECT_EQ(x.flt, y.flt);
            break;
        case PT_DOUBLE:
        case PT_APPTIME:
            EXPECT_EQ(x.dbl, y.dbl);
            break;
        case PT_CURRENCY:
            EXPECT_EQ(x.cur.int64, y.cur.int64);
            break;
        case PT_I8:
            EXPECT_EQ(x.li.QuadPart, y.li.QuadPart);
            break;
        case PT_SYSTIME:
            EXPECT_EQ(x.ft.dwLowDateTime, y.ft.dwLowDateTime);
            EXPECT_EQ(x.ft.dwHighDateTime, y.ft.dwHighDateTime);
            break;
        case PT_STRING8:
            EXPECT_STREQ(x.lpszA, y.lpszA);
            EXPECT_NE(x.lpszA, y.lpszA);
            break;
        case PT_UNICODE:
            EXPECT_STREQ(x.lpszW, y.lpszW);
            EXPECT_NE(x.lpszW, y.lpszW);
            break;
        case PT_CLSID:
            EXPECT_TRUE(IsEqualGUID(*x.lpguid, *y.lpguid));
            EXPECT_NE(x.lpguid, y.lpguid);
            break;
        case PT_BINARY:
            ASSERT_EQ(x.bin.cb, y.bin.cb);
            if (x.bin.cb) {
                EXPECT_EQ(0, std::memcmp(x.bin.lpb, y.bin.lpb, x.bin.cb));
                EXPECT_NE(x.bin.lpb, y.bin.lpb);
            } else {
                EXPECT_EQ(y.bin.lpb, nullptr);
            }
            break;
        case PT_MV_LONG:
            ASSERT_EQ(x.MVl.cValues, y.MVl.cValues);
            EXPECT_NE(x.MVl.lpl, y.MVl.lpl);
            EXPECT_EQ(0, std::memcmp(x.MVl.lpl, y.MVl.lpl, x.MVl.cValues * sizeof(LONG)));
            break;
        case PT_MV_I2:
            ASSERT_EQ(x.MVi.cValues, y.MVi.cValues);
            EXPECT_EQ(0, std::memcmp(x.MVi.lpi, y.MVi.lpi, x.MVi.cValues * sizeof(SHORT)));
            break;
        case PT_MV_DOUBLE:
            ASSERT_EQ(x.MVdbl.cValues, y.MVdbl.cValues);
            EXPECT_EQ(0, std::memcmp(x.MVdbl.lpdbl, y.MVdbl.lpdbl, x.MVdbl.cValues * sizeof(double)));
            break;
        case PT_MV_SYSTIME:
            ASSERT_EQ(x.MVft.cValues, y.MVft.cValues);
            EXPECT_EQ(0, std::memcmp(x.MVft.lpft, y.MVft.lpft, x.MVft.cValues * sizeof(FILETIME)));
            break;
        case PT_MV_CLSID:
            ASSERT_EQ(x.MVguid.cValues, y.MVguid.cValues);
            EXPECT_NE(x.MVguid.lpguid, y.MVguid.lpguid);
            EXPECT_EQ(0, std::memcmp(x.MVguid.lpguid, y.MVguid.lpguid, x.MVguid.cValues * sizeof(GUID)));
            break;
        case PT_MV_STRING8:
            ASSERT_EQ(x.MVszA.cValues, y.MVszA.cValues);
            for (ULONG i = 0; i < x.MVszA.cValues; ++i) {
                EXPECT_STREQ(x.MVszA.lppszA[i], y.MVszA.lppszA[i]);
                EXPECT_NE(x.MVszA.lppszA[i], y.MVszA.lppszA[i]);
            }
            break;
        case PT_MV_UNICODE:
            ASSERT_EQ(x.MVszW.cValues, y.MVszW.cValues);
            for (ULONG i = 0; i < x.MVszW.cValues; ++i) {
                EXPECT_STREQ(x.MVszW.lppszW[i], y.MVszW.lppszW[i]);
            }
            break;
        case PT_MV_BINARY:
            ASSERT_EQ(x.MVbin.cValues, y.MVbin.cValues);
            EXPECT_NE(x.MVbin.lpbin, y.MVbin.lpbin);
            for (ULONG i = 0; i < x.MVbin.cValues; ++i) {
                ASSERT_EQ(x.MVbin.lpbin[i].cb, y.MVbin.lpbin[i].cb);
                EXPECT_EQ(0, std::memcmp(x.MVbin.lpbin[i].lpb, y.MVbin.lpbin[i].lpb, x.MVbin.lpbin[i].cb));
                EXPECT_NE(x.MVbin.lpbin[i].lpb, y.MVbin.lpbin[i].lpb);
            }
            break;
        default:
            FAIL() << "type not compared: " << std::hex << a.ulPropTag;
    }
}

// Source values of every kind the copy dispatches on.
struct Samples {
    char text[6] = "hello";
    char empty[1] = "";
    wchar_t wide[6] = L"wide\u00e9";
    GUID guid = kGuidA;
    BYTE bytes[5] = {1, 2, 3, 4, 5};
    LONG longs[3] = {7, -8, 9};
    SHORT shorts[2] = {-1, 2};
    double doubles[2] = {1.5, -2.25};
    FILETIME times[2] = {{1, 2}, {3, 4}};
    GUID guids[2] = {kGuidA, kGuidB};
    LPSTR strings[3] = {text, empty, text};
    LPWSTR wides[2] = {wide, wide};
    SBinary bins[2] = {{5, bytes}, {2, bytes + 3}};
    std::vector<SPropValue> values;

    Samples() {
        auto add = [&](ULONG type, auto fill) {
            SPropValue v{};
            v.ulPropTag = PROP_TAG(type, 0x6000 + values.size());
            fill(v.Value);
            values.push_back(v);
        };
        add(PT_I2, [](_PV& v) { v.i = -5; });
        add(PT_LONG, [](_PV& v) { v.l = 123456; });
        add(PT_R4, [](_PV& v) { v.flt = 1.25f; });
        add(PT_DOUBLE, [](_PV& v) { v.dbl = 3.5; });
        add(PT_CURRENCY, [](_PV& v) { v.cur.int64 = 99; });
        add(PT_APPTIME, [](_PV& v) { v.at = 40000.5; });
        add(PT_ERROR, [](_PV& v) { v.err = MAPI_E_NOT_FOUND; });
        add(PT_BOOLEAN, [](_PV& v) { v.b = 1; });
        add(PT_I8, [](_PV& v) { v.li.QuadPart = -77; });
        add(PT_SYSTIME, [](_PV& v) { v.ft = {10, 20}; });
        add(PT_STRING8, [&](_PV& v) { v.lpszA = text; });
        add(PT_STRING8, [&](_PV& v) { v.lpszA = empty; });
        add(PT_UNICODE, [&](_PV& v) { v.lpszW = wide; });
        add(PT_CLSID, [&](_PV& v) { v.lpguid = &guid; });
        add(PT_BINARY, [&](_PV& v) { v.bin = {5, bytes}; });
        add(PT_BINARY, [&](_PV& v) { v.bin = {0, nullptr}; });
        add(PT_MV_I2, [&](_PV& v) { v.MVi = {2, shorts}; });
        add(PT_MV_LONG, [&](_PV& v) { v.MVl = {3, longs}; });
        add(PT_MV_DOUBLE, [&](_PV& v) { v.MVdbl = {2, doubles}; });
        add(PT_MV_SYSTIME, [&](_PV& v) { v.MVft = {2, times}; });
        add(PT_MV_CLSID, [&](_PV& v) { v.MVguid = {2, guids}; });
        add(PT_MV_STRING8, [&](_PV& v) { v.MVszA = {3, strings}; });
        add(PT_MV_STRING8, [&](_PV& v) { v.MVszA = {0, nullptr}; });
        add(PT_MV_UNICODE, [&](_PV& v) { v.MVszW = {2, wides}; });
        add(PT_MV_BINARY, [&](_PV& v) { v.MVbin = {2, bins}; });
    }
};

}  // namespace

TEST_F(MapiAllocTest, GetAllocFillsTheRoutinesOrRefuses) {
    TestAllocationSource source;
    MapiAllocFunctions got{};
    MapiAlloc::getAlloc(got, &source);
    EXPECT_EQ(got.allocateBuffer, &MapiTestAllocator::allocateBuffer);
    EXPECT_EQ(got.allocateMore, &MapiTestAllocator::allocateMore);
    EXPECT_EQ(got.freeBuffer, &MapiTestAllocator::freeBuffer);

    expectMapiAllocError([&] { MapiAlloc::getAlloc(got, nullptr); }, E_INVALIDARG, 1634,
                         "MapiAlloc::getAlloc");
    source.failWith = MAPI_E_CALL_FAILED;
    expectMapiAllocError([&] { MapiAlloc::getAlloc(got, &source); }, MAPI_E_CALL_FAILED, 1637,
                         "MapiAlloc::getAlloc");
    // A source without a free routine is refused even where nothing is freed.
    source.failWith = S_OK;
    source.giveFree = false;
    expectMapiAllocError([&] { MapiAlloc::getAlloc(got, &source); }, E_INVALIDARG, 1638,
                         "MapiAlloc::getAlloc");
    EXPECT_EQ(got.freeBuffer, nullptr);
}

TEST_F(MapiAllocTest, RawAllocZeroFillsAndReportsRoutineFailures) {
    BYTE* block = nullptr;
    detail::rawAlloc(f, nullptr, &block, 64);
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(block[i], 0);
    }
    BYTE* linked = nullptr;
    detail::rawAlloc(f, block, &linked, 8);
    EXPECT_TRUE(alloc().isLinkedTo(linked, block));
    EXPECT_EQ(alloc().liveHeads(), 1u);

    MapiAllocFunctions missing = f;
    missing.allocateMore = nullptr;
    expectMapiAllocError([&] { detail::rawAlloc(missing, nullptr, &linked, 8); }, E_INVALIDARG, 18,
                         "detail::rawAlloc");
    expectMapiAllocError([&] { detail::rawAlloc(f, nullptr, static_cast<BYTE**>(nullptr), 8); }, E_INVALIDARG,
                         18, "detail::rawAlloc");
    alloc().failAllocation(0, MAPI_E_NOT_ENOUGH_MEMORY);
    expectMapiAllocError([&] { detail::rawAlloc(f, nullptr, &linked, 8); }, MAPI_E_NOT_ENOUGH_MEMORY, 20,
                         "detail::rawAlloc");
    alloc().failAllocation(0, MAPI_E_NOT_ENOUGH_MEMORY);
    expectMapiAllocError([&] { detail::rawAlloc(f, block, &linked, 8); }, MAPI_E_NOT_ENOUGH_MEMORY, 22,
                         "detail::rawAlloc");
    // Sizes beyond the routines' 32-bit reach are refused, never cut.
    LPSPropTagArray tags = nullptr;
    expectMapiAllocError([&] { allocSPropTagArray(&tags, 0xFFFFFFFFu, nullptr, f); }, E_OUTOFMEMORY, 20,
                         "detail::rawAlloc");
    EXPECT_EQ(MapiTestAllocator::freeBuffer(block), 0u);
    EXPECT_EQ(alloc().liveBlocks(), 0u);
}

TEST_F(MapiAllocTest, AllocationsHaveTheirShapes) {
    LPSPropValue values = nullptr;
    allocSProp(&values, 3, nullptr, f);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(values[i].ulPropTag, PR_NULL);
        EXPECT_EQ(values[i].dwAlignPad, 0u);
        EXPECT_EQ(values[i].Value.li.QuadPart, 0);
    }
    LPSBinary binary = nullptr;
    allocSBinary(&binary, 0, nullptr, f);
    EXPECT_EQ(binary->cb, 0u);
    EXPECT_NE(binary->lpb, nullptr);  // allocated even for size 0
    EXPECT_TRUE(alloc().isLinkedTo(binary->lpb, binary));

    LPBYTE untouched = reinterpret_cast<LPBYTE>(0x1234);
    allocBinaryData(&untouched, 0, nullptr, f);
    EXPECT_EQ(untouched, reinterpret_cast<LPBYTE>(0x1234));

    _SPropValueArray* array = nullptr;
    allocSPropValueArray(&array, 2, f);
    EXPECT_EQ(array->cValues, 2u);
    EXPECT_TRUE(alloc().isHead(array->lpProps));
    EXPECT_EQ(array->lpProps[1].ulPropTag, PR_NULL);
    _SPropValueArray* none = nullptr;
    allocSPropValueArray(&none, 0, f);
    EXPECT_EQ(none->lpProps, nullptr);

    expectMapiAllocError([&] { allocSProp(nullptr, 1, nullptr, f); }, E_INVALIDARG, 422,
                         "InternalMapiAlloc::allocSProp");
    expectMapiAllocError([&] { allocGuid(nullptr, nullptr, f); }, E_INVALIDARG, 577,
                         "InternalMapiAlloc::allocGuid");
    expectMapiAllocError([&] { allocSPropValueArray(nullptr, 1, f); }, E_INVALIDARG, 1021,
                         "InternalMapiAlloc::allocSPropValueArray");

    MapiTestAllocator::freeBuffer(values);
    MapiTestAllocator::freeBuffer(binary);
    MapiTestAllocator::freeBuffer(array->lpProps);
    MapiTestAllocator::freeBuffer(array);
    MapiTestAllocator::freeBuffer(none);
    EXPECT_EQ(alloc().liveBlocks(), 0u);
    EXPECT_EQ(alloc().invalidFrees(), 0);
}

TEST_F(MapiAllocTest, StringsEntryIdsAndBinaries) {
    LPSTR a = nullptr;
    copyStringA("", &a, nullptr, f);
    EXPECT_STREQ(a, "");
    LPSTR len = nullptr;
    copyStringALen("abcdef", 3, &len, a, f);
    EXPECT_STREQ(len, "abc");
    LPWSTR w = nullptr;
    copyStringWLen(L"xyz", 2, &w, a, f);
    EXPECT_STREQ(w, L"xy");
    LPSTR fromObject = nullptr;
    copyStringA(std::string("obj"), &fromObject, a, f);
    EXPECT_STREQ(fromObject, "obj");
    expectMapiAllocError([&] { copyStringA(static_cast<const char*>(nullptr), &a, nullptr, f); },
                         E_INVALIDARG, 456, "InternalMapiAlloc::copyStringA");
    expectMapiAllocError([&] { copyStringW(static_cast<const wchar_t*>(nullptr), &w, nullptr, f); },
                         E_INVALIDARG, 499, "InternalMapiAlloc::copyStringW");

    BYTE id[24] = {0, 0, 0, 0, 1, 2, 3};
    LPENTRYID entry = reinterpret_cast<LPENTRYID>(0x1);
    ULONG size = 0;
    copyEntryId(nullptr, 24, &entry, &size, nullptr, f);
    EXPECT_EQ(entry, nullptr);
    EXPECT_EQ(size, 24u);  // reported even for a null source
    copyEntryId(id, 24, &entry, &size, a, f);
    EXPECT_EQ(0, std::memcmp(entry, id, 24));
    expectMapiAllocError([&] { copyEntryId(id, 4, &entry, &size, nullptr, f); }, E_INVALIDARG, 120,
                         "InternalMapiAlloc::copyEntryId");
    expectMapiAllocError([&] { copyEntryId(id, 24, nullptr, &size, nullptr, f); }, E_INVALIDARG, 118,
                         "InternalMapiAlloc::copyEntryId");

    LPBYTE data = reinterpret_cast<LPBYTE>(0x5678);
    copyBinaryData(id, 0, &data, &size, nullptr, f);
    EXPECT_EQ(data, reinterpret_cast<LPBYTE>(0x5678));
    EXPECT_EQ(size, 0u);
    expectMapiAllocError([&] { copyBinaryData(nullptr, 1, &data, &size, nullptr, f); }, E_INVALIDARG, 558,
                         "InternalMapiAlloc::copyBinaryData");

    SBinary source{3, id + 4};
    SBinary target{};
    expectMapiAllocError([&] { copySBinary(&source, &target, nullptr, f); }, E_INVALIDARG, 894,
                         "InternalMapiAlloc::copySBinary");
    SBinary broken{2, nullptr};
    expectMapiAllocError([&] { copySBinary(&broken, &target, a, f); }, E_INVALIDARG, 894,
                         "InternalMapiAlloc::copySBinary");
    LPSBinary fresh = nullptr;
    copySBinary(&source, &fresh, nullptr, f);
    EXPECT_EQ(fresh->cb, 3u);
    EXPECT_EQ(fresh->lpb[2], 3);
    EXPECT_TRUE(alloc().isLinkedTo(fresh->lpb, fresh));

    expectMapiAllocError([&] { copyGuid(nullptr, reinterpret_cast<LPGUID*>(&data), nullptr, f); },
                         E_INVALIDARG, 588, "InternalMapiAlloc::copyGuid");
    MapiTestAllocator::freeBuffer(fresh);
    MapiTestAllocator::freeBuffer(a);
    EXPECT_EQ(alloc().liveBlocks(), 0u);
}

TEST_F(MapiAllocTest, FlatArraysCopyWholeAndCheckCounts) {
    SizedSPropTagArray(3, tags) = {3, {PR_NULL, 0x0FFF0102, 0x3001001F}};
    LPSPropTagArray copy = reinterpret_cast<LPSPropTagArray>(0x1);
    copySPropTagArray(nullptr, &copy, nullptr, f);
    EXPECT_EQ(copy, nullptr);
    copySPropTagArray(reinterpret_cast<LPSPropTagArray>(&tags), &copy, nullptr, f);
    ASSERT_EQ(copy->cValues, 3u);
    EXPECT_EQ(copy->aulPropTag[2], 0x3001001Fu);
    SPropTagArray empty{0, {0}};
    expectMapiAllocError([&] { copySPropTagArray(&empty, &copy, nullptr, f); }, E_INVALIDARG, 157,
                         "InternalMapiAlloc::copySPropTagArray");
    expectMapiAllocError([&] { copySPropTagArray(&empty, nullptr, nullptr, f); }, E_INVALIDARG, 152,
                         "InternalMapiAlloc::copySPropTagArray");

    struct {
        ULONG cProblem;
        SPropProblem aProblem[2];
    } problems = {2, {{0, 1, 2}, {3, 4, 5}}};
    LPSPropProblemArray problemCopy = nullptr;
    copySPropProblemArray(reinterpret_cast<LPSPropProblemArray>(&problems), &problemCopy, copy, f);
    EXPECT_EQ(problemCopy->aProblem[1].scode, 5);

    struct {
        ULONG cSorts, cCategories, cExpanded;
        SSortOrder aSort[2];
    } sorts = {2, 1, 1, {{10, 0}, {11, 1}}};
    LPSSortOrderSet sortCopy = nullptr;
    copySSortOrderSet(reinterpret_cast<LPSSortOrderSet>(&sorts), &sortCopy, copy, f);
    EXPECT_EQ(sortCopy->aSort[1].ulPropTag, 11u);
    EXPECT_EQ(sortCopy->cExpanded, 1u);
    expectMapiAllocError([&] { copySSortOrderSet(nullptr, &sortCopy, nullptr, f); }, E_INVALIDARG, 984,
                         "InternalMapiAlloc::copySSortOrderSet");
    expectMapiAllocError([&] { copySPropProblemArray(nullptr, &problemCopy, nullptr, f); }, E_INVALIDARG, 960,
                         "InternalMapiAlloc::copySPropProblemArray");
    EXPECT_EQ(alloc().liveHeads(), 1u);
    MapiTestAllocator::freeBuffer(copy);
    EXPECT_EQ(alloc().liveBlocks(), 0u);
}

TEST_F(MapiAllocTest, EveryPropertyTypeCopiesDeeplyAndFreesWithItsHead) {
    Samples samples;
    for (const SPropValue& value : samples.values) {
        SCOPED_TRACE(testing::Message() << std::hex << value.ulPropTag);
        LPSPropValue copy = nullptr;
        copySProp(&value, &copy, nullptr, f);
        expectSameValue(value, *copy);
        EXPECT_EQ(alloc().liveHeads(), 1u);  // everything hangs off the new value
        EXPECT_EQ(MapiTestAllocator::freeBuffer(copy), 0u);
        EXPECT_EQ(alloc().liveBlocks(), 0u);
    }
    // With a parent, nothing new is top-level.
    void* parent = nullptr;
    MapiTestAllocator::allocateBuffer(8, &parent);
    for (const SPropValue& value : samples.values) {
        LPSPropValue copy = nullptr;
        copySProp(&value, &copy, parent, f);
        EXPECT_TRUE(alloc().isLinkedTo(copy, parent));
    }
    EXPECT_EQ(alloc().liveHeads(), 1u);
    MapiTestAllocator::freeBuffer(parent);
    EXPECT_EQ(alloc().liveBlocks(), 0u);
    EXPECT_EQ(alloc().invalidFrees(), 0);
}

TEST_F(MapiAllocTest, EmptyMultiValuedStringsCopyButEmptyNumbersFail) {
    void* parent = nullptr;
    MapiTestAllocator::allocateBuffer(8, &parent);
    SPropValue strings{PROP_TAG(PT_MV_UNICODE, 0x6001), 0, {}};
    strings.Value.MVszW = {0, nullptr};
    SPropValue copy{};
    copySProp(&strings, &copy, parent, f);
    EXPECT_EQ(copy.Value.MVszW.cValues, 0u);
    EXPECT_NE(copy.Value.MVszW.lppszW, nullptr);

    SPropValue longs{PROP_TAG(PT_MV_LONG, 0x6002), 0, {}};
    LONG one = 1;
    longs.Value.MVl = {0, &one};
    expectMapiAllocError([&] { copySProp(&longs, &copy, parent, f); }, E_INVALIDARG, 55, "detail::copyArray");
    longs.Value.MVl = {1, nullptr};
    expectMapiAllocError([&] { copySProp(&longs, &copy, parent, f); }, E_INVALIDARG, 55, "detail::copyArray");
    MapiTestAllocator::freeBuffer(parent);
}

TEST_F(MapiAllocTest, MultiValuedStringsWithoutTheirArrayAreRefused) {
    void* parent = nullptr;
    MapiTestAllocator::allocateBuffer(8, &parent);
    SPropValue copy{};
    SPropValue narrow{PROP_TAG(PT_MV_STRING8, 0x6003), 0, {}};
    narrow.Value.MVszA = {2, nullptr};
    expectMapiAllocError([&] { copySProp(&narrow, &copy, parent, f); }, E_INVALIDARG, 791,
                         "InternalMapiAlloc::copySProp");
    SPropValue wide{PROP_TAG(PT_MV_UNICODE, 0x6004), 0, {}};
    wide.Value.MVszW = {1, nullptr};
    expectMapiAllocError([&] { copySProp(&wide, &copy, parent, f); }, E_INVALIDARG, 791,
                         "InternalMapiAlloc::copySProp");
    MapiTestAllocator::freeBuffer(parent);
    EXPECT_EQ(alloc().liveBlocks(), 0u);
}

TEST_F(MapiAllocTest, UnsupportedTypesAndNullArgumentsOfCopySProp) {
    void* parent = nullptr;
    MapiTestAllocator::allocateBuffer(8, &parent);
    SPropValue copy{};
    for (ULONG type : {0x201Eu, 14u, 8u, 9u, 12u, 19u, 0x100Bu}) {
        SPropValue value{PROP_TAG(type, 0x6005), 0, {}};
        expectMapiAllocError([&] { copySProp(&value, &copy, parent, f); }, E_INVALIDARG, 883,
                             "InternalMapiAlloc::copySProp");
    }
    SPropValue value{PROP_TAG(PT_LONG, 0x6006), 0, {}};
    expectMapiAllocError([&] { copySProp(&value, &copy, nullptr, f); }, E_INVALIDARG, 791,
                         "InternalMapiAlloc::copySProp");
    LPSPropValue out = nullptr;
    expectMapiAllocError([&] { copySProp(nullptr, &out, nullptr, f); }, E_INVALIDARG, 437,
                         "InternalMapiAlloc::copySProp");
    // An object pointer is copied as it is, without a reference.
    SPropValue object{PROP_TAG(PT_OBJECT, 0x6007), 0, {}};
    object.Value.x = 0x55;
    copySProp(&object, &copy, parent, f);
    EXPECT_EQ(copy.Value.x, 0x55);
    MapiTestAllocator::freeBuffer(parent);
}

TEST_F(MapiAllocTest, InstanceOfEveryMultiValuedType) {
    Samples samples;
    void* parent = nullptr;
    MapiTestAllocator::allocateBuffer(8, &parent);
    for (const SPropValue& value : samples.values) {
        if ((value.ulPropTag & MV_FLAG) == 0 || value.Value.MVl.cValues == 0) {
            continue;
        }
        SCOPED_TRACE(testing::Message() << std::hex << value.ulPropTag);
        SPropValue mv = value;
        mv.ulPropTag |= MV_INSTANCE;
        SPropValue one{};
        copySPropInstance(&mv, &one, 1, parent, f);
        EXPECT_EQ(one.ulPropTag, value.ulPropTag & ~MV_FLAG);
        switch (PROP_TYPE(value.ulPropTag)) {
            case PT_MV_I2:
                EXPECT_EQ(one.Value.i, samples.shorts[1]);
                break;
            case PT_MV_LONG:
                EXPECT_EQ(one.Value.l, samples.longs[1]);
                break;
            case PT_MV_DOUBLE:
                EXPECT_EQ(one.Value.dbl, samples.doubles[1]);
                break;
            case PT_MV_SYSTIME:
                EXPECT_EQ(one.Value.ft.dwLowDateTime, 3u);
                break;
            case PT_MV_CLSID:
                EXPECT_TRUE(IsEqualGUID(*one.Value.lpguid, kGuidB));
                EXPECT_TRUE(alloc().isLinkedTo(one.Value.lpguid, parent));
                break;
            case PT_MV_STRING8:
                EXPECT_STREQ(one.Value.lpszA, "");
                break;
            case PT_MV_UNICODE:
                EXPECT_STREQ(one.Value.lpszW, samples.wide);
                break;
            case PT_MV_BINARY:
                ASSERT_EQ(one.Value.bin.cb, 2u);
                EXPECT_EQ(one.Value.bin.lpb[0], 4);
                break;
        }
    }
    // An index at the count leaves the destination as it was.
    SPropValue untouched{0xAAAA0003, 7, {}};
    untouched.Value.l = 42;
    copySPropInstance(&samples.values[17], &untouched, 3, parent, f);
    EXPECT_EQ(untouched.ulPropTag, 0xAAAA0003u);
    EXPECT_EQ(untouched.Value.l, 42);

    expectMapiAllocError([&] { copySPropInstance(&samples.values[1], &untouched, 0, parent, f); },
                         E_INVALIDARG, 721, "InternalMapiAlloc::copySPropInstance");
    SPropValue booleans{PROP_TAG(0x100B, 0x6008), 0, {}};
    booleans.Value.MVl = {1, samples.longs};
    expectMapiAllocError([&] { copySPropInstance(&booleans, &untouched, 0, parent, f); }, E_INVALIDARG, 778,
                         "InternalMapiAlloc::copySPropInstance");
    // A count without its element array is refused instead of read.
    SPropValue hollow{PROP_TAG(PT_MV_BINARY, 0x6009), 0, {}};
    hollow.Value.MVbin = {2, nullptr};
    expectMapiAllocError([&] { copySPropInstance(&hollow, &untouched, 1, parent, f); }, E_INVALIDARG, 720,
                         "InternalMapiAlloc::copySPropInstance");
    expectMapiAllocError([&] { copySPropInstance(&hollow, &untouched, 1, nullptr, f); }, E_INVALIDARG, 720,
                         "InternalMapiAlloc::copySPropInstance");
    MapiTestAllocator::freeBuffer(parent);
    EXPECT_EQ(alloc().liveBlocks(), 0u);
}

TEST_F(MapiAllocTest, PropValueArrayIsTwoBlocksLinkedToTheHeader) {
    Samples samples;
    _SPropValueArray source{static_cast<ULONG>(samples.values.size()), samples.values.data()};
    _SPropValueArray* copy = nullptr;
    copySPropValueArray(&source, &copy, f);
    ASSERT_EQ(copy->cValues, source.cValues);
    for (ULONG i = 0; i < source.cValues; ++i) {
        expectSameValue(source.lpProps[i], copy->lpProps[i]);
    }
    EXPECT_EQ(alloc().liveHeads(), 2u);
    EXPECT_TRUE(alloc().isLinkedTo(copy->lpProps[10].Value.lpszA, copy));
    EXPECT_EQ(MapiTestAllocator::freeBuffer(copy->lpProps), 0u);
    EXPECT_EQ(MapiTestAllocator::freeBuffer(copy), 0u);
    EXPECT_EQ(alloc().liveBlocks(), 0u);

    _SPropValueArray hollow{3, nullptr};
    expectMapiAllocError([&] { copySPropValueArray(&hollow, &copy, f); }, E_INVALIDARG, 1038,
                         "InternalMapiAlloc::copySPropValueArray");
    expectMapiAllocError([&] { copySPropValueArray(nullptr, &copy, f); }, E_INVALIDARG, 1038,
                         "InternalMapiAlloc::copySPropValueArray");
}

// Every allocation inside a copy failing in turn: the allocator's code comes
// out and no block is left behind.
TEST_F(MapiAllocTest, FailureAtEveryAllocationLeavesNothing) {
    Samples samples;
    _SPropValueArray array{static_cast<ULONG>(samples.values.size()), samples.values.data()};
    SBinaryArray bins{2, samples.bins};
    const SPropValue& mvStrings = samples.values[21];

    auto run = [&](const char* name, auto copy) {
        SCOPED_TRACE(name);
        alloc().reset();
        copy();
        int total = alloc().allocations();
        ASSERT_GT(total, 1);
        alloc().reset();
        for (int k = 0; k < total; ++k) {
            alloc().reset();
            alloc().failAllocation(k, MAPI_E_NOT_ENOUGH_MEMORY);
            try {
                copy();
                ADD_FAILURE() << "allocation " << k << " failed silently";
            } catch (const HResultException& e) {
                EXPECT_EQ(e.getHResult(), MAPI_E_NOT_ENOUGH_MEMORY);
            }
            EXPECT_EQ(alloc().liveBlocks(), 0u) << "allocation " << k;
        }
        alloc().reset();
    };
    run("copySProp", [&] {
        LPSPropValue out = nullptr;
        copySProp(&mvStrings, &out, nullptr, f);
        MapiTestAllocator::freeBuffer(out);
    });
    run("copySBinaryArray", [&] {
        SBinaryArray* out = nullptr;
        copySBinaryArray(&bins, &out, nullptr, f);
        MapiTestAllocator::freeBuffer(out);
    });
    run("copySPropValueArray", [&] {
        _SPropValueArray* out = nullptr;
        copySPropValueArray(&array, &out, f);
        MapiTestAllocator::freeBuffer(out->lpProps);
        MapiTestAllocator::freeBuffer(out);
    });
}

TEST_F(MapiAllocTest, SourceFormsAndHolderFetchTheRoutines) {
    TestAllocationSource source;
    {
        MapiAllocSource holder(&source);
        EXPECT_EQ(source.refs, 2u);
        LPSTR text = nullptr;
        holder.copyStringA("via holder", &text, nullptr);
        EXPECT_STREQ(text, "via holder");
        LPSPropValue value = nullptr;
        SPropValue source_value{PROP_TAG(PT_UNICODE, 0x6010), 0, {}};
        source_value.Value.lpszW = const_cast<LPWSTR>(L"w");
        holder.copySProp(&source_value, &value, text);
        EXPECT_STREQ(value->Value.lpszW, L"w");
        MapiTestAllocator::freeBuffer(text);
    }
    EXPECT_EQ(source.refs, 1u);
    LPGUID guid = nullptr;
    copyGuid(&kGuidB, &guid, nullptr, &source);
    EXPECT_TRUE(IsEqualGUID(*guid, kGuidB));
    MapiTestAllocator::freeBuffer(guid);
    source.giveFree = false;
    expectMapiAllocError([&] { copyGuid(&kGuidB, &guid, nullptr, &source); }, E_INVALIDARG, 1638,
                         "MapiAlloc::getAlloc");
    EXPECT_EQ(alloc().liveBlocks(), 0u);
}
