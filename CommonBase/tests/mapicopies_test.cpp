// Copies of rows, restrictions, notifications, named-property ids and errors.
#include <gtest/gtest.h>

#include "MapiTestAllocator.h"

using namespace InternalMapiAlloc;

namespace {

const GUID kGuid = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};

SPropValue longProp(ULONG id, LONG value) {
    SPropValue v{PROP_TAG(PT_LONG, id), 0, {}};
    v.Value.l = value;
    return v;
}

SPropValue textProp(ULONG id, const char* text) {
    SPropValue v{PROP_TAG(PT_STRING8, id), 0, {}};
    v.Value.lpszA = const_cast<char*>(text);
    return v;
}

// Structural comparison that also checks the copy shares no memory with the source.
void expectSameRestriction(const SRestriction& a, const SRestriction& b) {
    ASSERT_EQ(a.rt, b.rt);
    switch (a.rt) {
        case RES_AND:
        case RES_OR:
            ASSERT_EQ(a.res.resAnd.cRes, b.res.resAnd.cRes);
            if (a.res.resAnd.cRes == 0) {
                EXPECT_EQ(b.res.resAnd.lpRes, nullptr);
            }
            for (ULONG i = 0; i < a.res.resAnd.cRes; ++i) {
                expectSameRestriction(a.res.resAnd.lpRes[i], b.res.resAnd.lpRes[i]);
            }
            break;
        case RES_NOT:
            EXPECT_NE(a.res.resNot.lpRes, b.res.resNot.lpRes);
            expectSameRestriction(*a.res.resNot.lpRes, *b.res.resNot.lpRes);
            break;
        case RES_SUBRESTRICTION:
            EXPECT_EQ(a.res.resSub.ulSubObject, b.res.resSub.ulSubObject);
            expectSameRestriction(*a.res.resSub.lpRes, *b.res.resSub.lpRes);
            break;
        case RES_COUNT:
            EXPECT_EQ(a.res.resCount.ulCount, b.res.resCount.ulCount);
            expectSameRestriction(*a.res.resCount.lpRes, *b.res.resCount.lpRes);
            break;
        case RES_PROPERTY:
            EXPECT_EQ(a.res.resProperty.relop, b.res.resProperty.relop);
            EXPECT_NE(a.res.resProperty.lpProp, b.res.resProperty.lpProp);
            EXPECT_STREQ(a.res.resProperty.lpProp->Value.lpszA, b.res.resProperty.lpProp->Value.lpszA);
            EXPECT_NE(a.res.resProperty.lpProp->Value.lpszA, b.res.resProperty.lpProp->Value.lpszA);
            break;
        case RES_CONTENT:
            EXPECT_EQ(a.res.resContent.ulFuzzyLevel, b.res.resContent.ulFuzzyLevel);
            EXPECT_EQ(a.res.resContent.lpProp->Value.l, b.res.resContent.lpProp->Value.l);
            break;
        case RES_EXIST:
            EXPECT_EQ(a.res.resExist.ulPropTag, b.res.resExist.ulPropTag);
            break;
        case RES_BITMASK:
            EXPECT_EQ(a.res.resBitMask.ulMask, b.res.resBitMask.ulMask);
            break;
        case RES_COMMENT:
        case RES_ANNOTATION:
            ASSERT_EQ(a.res.resComment.cValues, b.res.resComment.cValues);
            EXPECT_NE(a.res.resComment.lpProp, b.res.resComment.lpProp);
            for (ULONG i = 0; i < a.res.resComment.cValues; ++i) {
                EXPECT_EQ(a.res.resComment.lpProp[i].ulPropTag, b.res.resComment.lpProp[i].ulPropTag);
            }
            if (a.res.resComment.lpRes) {
                expectSameRestriction(*a.res.resComment.lpRes, *b.res.resComment.lpRes);
            } else {
                EXPECT_EQ(b.res.resComment.lpRes, nullptr);
            }
            break;
        default:
            break;
    }
}

// AND(NOT(PROPERTY), OR(), COMMENT(child, props), SUB(COUNT(EXIST)), ANNOTATION(props), CONTENT, BITMASK)
struct Tree {
    SPropValue text = textProp(0x3001, "subject");
    SPropValue number = longProp(0x3002, 5);
    SPropValue notes[2] = {longProp(0x3003, 1), textProp(0x3004, "note")};
    SRestriction property{};
    SRestriction exist{};
    SRestriction count{};
    SRestriction commentChild{};
    SRestriction children[7]{};
    SRestriction root{};

    Tree() {
        property.rt = RES_PROPERTY;
        property.res.resProperty = {RELOP_EQ, text.ulPropTag, &text};
        exist.rt = RES_EXIST;
        exist.res.resExist = {0, 0x0E1B000B, 0};
        count.rt = RES_COUNT;
        count.res.resCount = {3, &exist};
        commentChild.rt = RES_BITMASK;
        commentChild.res.resBitMask = {BMR_NEZ, 0x0E070003, 0x10};

        children[0].rt = RES_NOT;
        children[0].res.resNot = {0, &property};
        children[1].rt = RES_OR;
        children[1].res.resOr = {0, nullptr};
        children[2].rt = RES_COMMENT;
        children[2].res.resComment = {2, &commentChild, notes};
        children[3].rt = RES_SUBRESTRICTION;
        children[3].res.resSub = {0x0E12000D, &count};
        children[4].rt = RES_ANNOTATION;
        children[4].res.resAnnotation = {1, nullptr, notes};
        children[5].rt = RES_CONTENT;
        children[5].res.resContent = {FL_SUBSTRING, number.ulPropTag, &number};
        children[6].rt = RES_SIZE;
        children[6].res.resSize = {RELOP_LT, 0x0E080003, 100};
        root.rt = RES_AND;
        root.res.resAnd = {7, children};
    }
};

}  // namespace

TEST_F(MapiAllocTest, RestrictionTreeCopiesAndFreesWithOneCall) {
    Tree tree;
    LPSRestriction copy = nullptr;
    copySRestriction(&tree.root, &copy, nullptr, f);
    expectSameRestriction(tree.root, *copy);
    EXPECT_EQ(alloc().liveHeads(), 1u);
    EXPECT_EQ(MapiTestAllocator::freeBuffer(copy), 0u);
    EXPECT_EQ(alloc().liveBlocks(), 0u);
    EXPECT_EQ(alloc().invalidFrees(), 0);
}

TEST_F(MapiAllocTest, RestrictionErrors) {
    Tree tree;
    LPSRestriction copy = nullptr;
    SRestriction broken{};
    broken.rt = RES_NOT;
    broken.res.resNot = {0, nullptr};
    expectMapiAllocError([&] { copySRestriction(&broken, &copy, nullptr, f); }, E_INVALIDARG, 324,
                         "InternalMapiAlloc::copySRestriction");
    SRestriction unknown{};
    unknown.rt = 13;
    expectMapiAllocError([&] { copySRestriction(&unknown, &copy, nullptr, f); }, E_INVALIDARG, 411,
                         "InternalMapiAlloc::copySRestriction");
    SRestriction hollowAnd{};
    hollowAnd.rt = RES_AND;
    hollowAnd.res.resAnd = {2, nullptr};
    expectMapiAllocError([&] { copySRestriction(&hollowAnd, &copy, nullptr, f); }, E_INVALIDARG, 324,
                         "InternalMapiAlloc::copySRestriction");
    SRestriction noValue{};
    noValue.rt = RES_PROPERTY;
    noValue.res.resProperty = {RELOP_EQ, 0, nullptr};
    expectMapiAllocError([&] { copySRestriction(&noValue, &copy, nullptr, f); }, E_INVALIDARG, 791,
                         "InternalMapiAlloc::copySProp");
    expectMapiAllocError([&] { copySRestriction(nullptr, &copy, nullptr, f); }, E_INVALIDARG, 306,
                         "InternalMapiAlloc::copySRestriction");
    SRestriction target{};
    expectMapiAllocError([&] { copySRestriction(&tree.root, &target, nullptr, f); }, E_INVALIDARG, 324,
                         "InternalMapiAlloc::copySRestriction");
    // Each failed copy gave back what it had taken.
    EXPECT_EQ(alloc().liveBlocks(), 0u);

    alloc().reset();
    copySRestriction(&tree.root, &copy, nullptr, f);
    int total = 0;
    total = alloc().allocations();
    ASSERT_GT(total, 10);
    MapiTestAllocator::freeBuffer(copy);
    for (int k = 0; k < total; ++k) {
        alloc().reset();
        alloc().failAllocation(k);
        EXPECT_THROW(copySRestriction(&tree.root, &copy, nullptr, f), HResultException);
        EXPECT_EQ(alloc().liveBlocks(), 0u) << "allocation " << k;
    }
}

TEST_F(MapiAllocTest, RowsCopyLinkedOrApart) {
    SPropValue props[2] = {longProp(0x3007, 9), textProp(0x3008, "row")};
    SRow row{0xDEAD, 2, props};

    // Linked: the row's data goes with the row.
    LPSRow linked = nullptr;
    copySRow(&row, &linked, nullptr, true, f);
    EXPECT_EQ(linked->ulAdrEntryPad, 0u);  // the pad word is not copied
    ASSERT_EQ(linked->cValues, 2u);
    EXPECT_STREQ(linked->lpProps[1].Value.lpszA, "row");
    EXPECT_TRUE(alloc().isLinkedTo(linked->lpProps, linked));
    EXPECT_EQ(alloc().liveHeads(), 1u);
    MapiTestAllocator::freeBuffer(linked);

    // Apart: rows of a row set whose property arrays are blocks of their own.
    LPSRowSet rows = nullptr;
    allocSRowSet(&rows, 2, nullptr, f);
    rows->cRows = 2;
    void* rowsBlock = rows;
    copySRow(&row, &rows->aRow[0], nullptr, f);
    copySRow(&row, &rows->aRow[1], nullptr, f);
    EXPECT_TRUE(alloc().isHead(rows->aRow[1].lpProps));
    EXPECT_EQ(alloc().liveHeads(), 3u);

    // Growing keeps the row pointers and frees the old block.
    LPSPropValue firstProps = rows->aRow[0].lpProps;
    EXPECT_EQ(reallocSRowSet(&rows, 5, nullptr, f), S_OK);
    EXPECT_NE(static_cast<void*>(rows), rowsBlock);
    EXPECT_FALSE(alloc().isHead(rowsBlock));
    EXPECT_EQ(rows->cRows, 2u);
    EXPECT_EQ(rows->aRow[0].lpProps, firstProps);
    EXPECT_EQ(freeRowSet(rows, &MapiTestAllocator::freeBuffer), S_OK);
    EXPECT_EQ(alloc().liveBlocks(), 0u);

    LPSRow apart = nullptr;
    void* parent = nullptr;
    MapiTestAllocator::allocateBuffer(4, &parent);
    copySRow(&row, &apart, parent, false, f);
    EXPECT_TRUE(alloc().isLinkedTo(apart, parent));
    EXPECT_TRUE(alloc().isHead(apart->lpProps));  // apart even with a parent
    MapiTestAllocator::freeBuffer(apart->lpProps);
    MapiTestAllocator::freeBuffer(parent);
    EXPECT_EQ(alloc().liveBlocks(), 0u);
}

TEST_F(MapiAllocTest, RowEdgesAndErrors) {
    SRow empty{0, 0, nullptr};
    SRow target{1, 7, reinterpret_cast<LPSPropValue>(0x10)};
    copySRow(&empty, &target, nullptr, f);
    EXPECT_EQ(target.cValues, 7u);  // left as it was
    EXPECT_EQ(alloc().allocations(), 0);
    SRow hollow{0, 3, nullptr};
    expectMapiAllocError([&] { copySRow(&hollow, &target, nullptr, f); }, E_INVALIDARG, 930,
                         "InternalMapiAlloc::copySRow");
    expectMapiAllocError([&] { copySRow(&empty, static_cast<LPSRow*>(nullptr), nullptr, true, f); },
                         E_INVALIDARG, 667, "InternalMapiAlloc::copySRow");
    expectMapiAllocError([&] { allocSRow(nullptr, nullptr, f); }, E_INVALIDARG, 654,
                         "InternalMapiAlloc::allocSRow");
    expectMapiAllocError([&] { allocSRowSet(nullptr, 1, nullptr, f); }, E_INVALIDARG, 682,
                         "InternalMapiAlloc::allocSRowSet");

    // A failure inside an unlinked row copy frees the row's own array too.
    SPropValue props[2] = {textProp(0x3009, "a"), textProp(0x300A, "b")};
    SRow row{0, 2, props};
    alloc().failAllocation(2);
    EXPECT_THROW(copySRow(&row, &target, nullptr, f), HResultException);
    EXPECT_EQ(alloc().liveBlocks(), 0u);
    EXPECT_EQ(target.cValues, 7u);
}

TEST_F(MapiAllocTest, ReallocRefusesACapacityBelowTheRowCount) {
    LPSRowSet rows = nullptr;
    allocSRowSet(&rows, 3, nullptr, f);
    rows->cRows = 3;
    LPSRowSet before = rows;
    int allocations = alloc().allocations();
    expectMapiAllocError([&] { reallocSRowSet(&rows, 2, nullptr, f); }, E_INVALIDARG, 694,
                         "InternalMapiAlloc::reallocSRowSet");
    EXPECT_EQ(rows, before);
    EXPECT_EQ(alloc().allocations(), allocations);
    EXPECT_TRUE(alloc().isHead(rows));
    // The same count is fine.
    EXPECT_EQ(reallocSRowSet(&rows, 3, nullptr, f), S_OK);
    EXPECT_EQ(rows->cRows, 3u);
    LPSRowSet none = nullptr;
    expectMapiAllocError([&] { reallocSRowSet(&none, 4, nullptr, f); }, E_INVALIDARG, 694,
                         "InternalMapiAlloc::reallocSRowSet");
    MapiTestAllocator::freeBuffer(rows);
}

TEST_F(MapiAllocTest, FreeRowSetStopsAtTheFirstFailure) {
    EXPECT_EQ(freeRowSet(nullptr, nullptr), E_INVALIDARG);
    LPSRowSet rows = nullptr;
    allocSRowSet(&rows, 2, nullptr, f);
    rows->cRows = 2;
    void* linked = nullptr;
    MapiTestAllocator::allocateMore(8, rows, &linked);
    rows->aRow[0].lpProps = static_cast<LPSPropValue>(linked);  // not a head: its free fails
    EXPECT_EQ(freeRowSet(rows, nullptr), E_INVALIDARG);
    EXPECT_EQ(freeRowSet(rows, &MapiTestAllocator::freeBuffer), E_INVALIDARG);
    EXPECT_TRUE(alloc().isHead(rows));
    MapiTestAllocator::freeBuffer(rows);
    EXPECT_EQ(freeRowSet(nullptr, &MapiTestAllocator::freeBuffer), S_OK);
}

namespace {

struct Notifications {
    BYTE id[24] = {0, 0, 0, 0, 9, 9, 9};
    BYTE parentId[24] = {0, 0, 0, 0, 8, 8, 8};
    wchar_t errorText[6] = L"error";
    MAPIERROR error = {MAPI_ERROR_VERSION, errorText, nullptr, 7, 8};
    char narrowClass[9] = "IPM.Note";
    wchar_t wideClass[9] = L"IPM.Wide";
    SizedSPropTagArray(2, tags) = {2, {0x0E080003, 0x3001001E}};
    SPropValue rowProps[1] = {textProp(0x3001, "row")};
    SPropValue statusProps[2] = {longProp(0x3010, 1), textProp(0x3011, "status")};
    BYTE parameters[3] = {1, 2, 3};
    std::vector<NOTIFICATION> all;

    Notifications() {
        NOTIFICATION n{};
        n.ulEventType = fnevCriticalError;
        n.info.err = {24, reinterpret_cast<LPENTRYID>(id), MAPI_E_NETWORK_ERROR, 1, &error};
        all.push_back(n);
        n = {};
        n.ulEventType = fnevNewMail;
        n.info.newmail = {
            24, reinterpret_cast<LPENTRYID>(id),       24, reinterpret_cast<LPENTRYID>(parentId),
            0,  reinterpret_cast<LPTSTR>(narrowClass), 5};
        all.push_back(n);
        n.info.newmail.ulFlags = MAPI_UNICODE;
        n.info.newmail.lpszMessageClass = wideClass;
        all.push_back(n);
        for (ULONG event : {fnevObjectCreated, fnevObjectDeleted, fnevObjectModified, fnevObjectMoved,
                            fnevObjectCopied, fnevSearchComplete}) {
            n = {};
            n.ulEventType = event;
            n.info.obj = {24,
                          reinterpret_cast<LPENTRYID>(id),
                          5,
                          24,
                          reinterpret_cast<LPENTRYID>(parentId),
                          0,
                          nullptr,
                          24,
                          reinterpret_cast<LPENTRYID>(id),
                          reinterpret_cast<LPSPropTagArray>(&tags)};
            all.push_back(n);
        }
        n = {};
        n.ulEventType = fnevTableModified;
        n.info.tab.ulTableEvent = TABLE_ROW_ADDED;
        n.info.tab.hResult = S_OK;
        n.info.tab.propIndex = longProp(0x3012, 4);
        n.info.tab.propPrior = textProp(0x3013, "prior");
        n.info.tab.row = {0, 1, rowProps};
        all.push_back(n);
        n = {};
        n.ulEventType = fnevStatusObjectModified;
        n.info.statobj = {24, reinterpret_cast<LPENTRYID>(id), 2, statusProps};
        all.push_back(n);
        n = {};
        n.ulEventType = fnevExtended;
        n.info.ext = {0x1234, 3, parameters};
        all.push_back(n);
    }
};

void expectSameNotification(const NOTIFICATION& a, const NOTIFICATION& b) {
    ASSERT_EQ(a.ulEventType, b.ulEventType);
    switch (a.ulEventType) {
        case fnevCriticalError:
            EXPECT_EQ(0, std::memcmp(a.info.err.lpEntryID, b.info.err.lpEntryID, 24));
            EXPECT_NE(a.info.err.lpEntryID, b.info.err.lpEntryID);
            EXPECT_EQ(b.info.err.scode, MAPI_E_NETWORK_ERROR);
            EXPECT_STREQ(b.info.err.lpMAPIError->lpszError, L"error");
            EXPECT_EQ(b.info.err.lpMAPIError->lpszComponent, nullptr);
            EXPECT_EQ(b.info.err.lpMAPIError->ulContext, 8u);
            break;
        case fnevNewMail:
            EXPECT_EQ(b.info.newmail.cbParentID, 24u);
            EXPECT_EQ(b.info.newmail.ulMessageFlags, 5u);
            if (a.info.newmail.ulFlags & MAPI_UNICODE) {
                EXPECT_STREQ(b.info.newmail.lpszMessageClass, L"IPM.Wide");
            } else {
                EXPECT_STREQ(reinterpret_cast<const char*>(b.info.newmail.lpszMessageClass), "IPM.Note");
            }
            EXPECT_NE(a.info.newmail.lpszMessageClass, b.info.newmail.lpszMessageClass);
            break;
        case fnevTableModified:
            EXPECT_EQ(b.info.tab.ulTableEvent, TABLE_ROW_ADDED);
            EXPECT_EQ(b.info.tab.propIndex.Value.l, 4);
            EXPECT_STREQ(b.info.tab.propPrior.Value.lpszA, "prior");
            ASSERT_EQ(b.info.tab.row.cValues, 1u);
            EXPECT_STREQ(b.info.tab.row.lpProps[0].Value.lpszA, "row");
            break;
        case fnevStatusObjectModified:
            ASSERT_EQ(b.info.statobj.cValues, 2u);
            EXPECT_STREQ(b.info.statobj.lpPropVals[1].Value.lpszA, "status");
            break;
        case fnevExtended:
            EXPECT_EQ(b.info.ext.ulEvent, 0x1234u);
            ASSERT_EQ(b.info.ext.cb, 3u);
            EXPECT_EQ(b.info.ext.pbEventParameters[2], 3);
            EXPECT_NE(b.info.ext.pbEventParameters, a.info.ext.pbEventParameters);
            break;
        default:
            EXPECT_EQ(b.info.obj.ulObjType, 5u);
            EXPECT_EQ(b.info.obj.lpOldID, nullptr);
            EXPECT_EQ(b.info.obj.cbOldID, 0u);
            EXPECT_EQ(b.info.obj.cbOldParentID, 24u);
            ASSERT_NE(b.info.obj.lpPropTagArray, nullptr);
            EXPECT_EQ(b.info.obj.lpPropTagArray->aulPropTag[1], 0x3001001Eu);
            break;
    }
}

}  // namespace

TEST_F(MapiAllocTest, EveryNotificationKindCopies) {
    Notifications source;
    for (const NOTIFICATION& n : source.all) {
        SCOPED_TRACE(testing::Message() << std::hex << n.ulEventType);
        LPNOTIFICATION copy = nullptr;
        copyNotification(&n, &copy, nullptr, f);
        expectSameNotification(n, *copy);
        EXPECT_EQ(alloc().liveHeads(), 1u);
        MapiTestAllocator::freeBuffer(copy);
        EXPECT_EQ(alloc().liveBlocks(), 0u);
    }
    EXPECT_EQ(alloc().invalidFrees(), 0);
}

TEST_F(MapiAllocTest, NotificationErrors) {
    Notifications source;
    LPNOTIFICATION copy = nullptr;
    NOTIFICATION n = source.all[0];
    n.info.err.lpMAPIError = nullptr;
    expectMapiAllocError([&] { copyNotification(&n, &copy, nullptr, f); }, E_INVALIDARG, 179,
                         "InternalMapiAlloc::copyMapiError");
    n.ulEventType = 0x40000000;
    expectMapiAllocError([&] { copyNotification(&n, &copy, nullptr, f); }, E_INVALIDARG, 1183,
                         "InternalMapiAlloc::copyNotification");
    expectMapiAllocError([&] { copyNotification(nullptr, &copy, nullptr, f); }, E_INVALIDARG, 1193,
                         "InternalMapiAlloc::copyNotification");
    NOTIFICATION target{};
    expectMapiAllocError([&] { copyNotification(nullptr, &target, nullptr, f); }, E_INVALIDARG, 1144,
                         "InternalMapiAlloc::copyNotification");
    // A property count without its values is refused instead of read.
    NOTIFICATION status = source.all[10];
    status.info.statobj.lpPropVals = nullptr;
    expectMapiAllocError([&] { copyNotification(&status, &copy, nullptr, f); }, E_INVALIDARG, 1144,
                         "InternalMapiAlloc::copyNotification");
    // An empty tag array fails where tag arrays are copied.
    NOTIFICATION object = source.all[3];
    SPropTagArray noTags{0, {0}};
    object.info.obj.lpPropTagArray = &noTags;
    expectMapiAllocError([&] { copyNotification(&object, &copy, nullptr, f); }, E_INVALIDARG, 157,
                         "InternalMapiAlloc::copySPropTagArray");
    EXPECT_EQ(alloc().liveBlocks(), 0u);
}

TEST_F(MapiAllocTest, NotificationArrayIsTwoBlocks) {
    Notifications source;
    _NOTIFICATION_ARRAY array{static_cast<ULONG>(source.all.size()), source.all.data()};
    _NOTIFICATION_ARRAY* copy = nullptr;
    copyNotificationArray(&array, &copy, f);
    ASSERT_EQ(copy->cNotifications, array.cNotifications);
    for (ULONG i = 0; i < array.cNotifications; ++i) {
        expectSameNotification(array.lpNotifications[i], copy->lpNotifications[i]);
    }
    EXPECT_EQ(alloc().liveHeads(), 2u);
    EXPECT_EQ(MapiTestAllocator::freeBuffer(copy->lpNotifications), 0u);
    EXPECT_EQ(MapiTestAllocator::freeBuffer(copy), 0u);
    EXPECT_EQ(alloc().liveBlocks(), 0u);

    _NOTIFICATION_ARRAY hollow{2, nullptr};
    expectMapiAllocError([&] { copyNotificationArray(&hollow, &copy, f); }, E_INVALIDARG, 1211,
                         "InternalMapiAlloc::copyNotificationArray");
    expectMapiAllocError([&] { copyNotificationArray(nullptr, &copy, f); }, E_INVALIDARG, 1210,
                         "InternalMapiAlloc::copyNotificationArray");
    _NOTIFICATION_ARRAY emptyArray{0, nullptr};
    copyNotificationArray(&emptyArray, &copy, f);
    EXPECT_EQ(copy->lpNotifications, nullptr);
    MapiTestAllocator::freeBuffer(copy);

    // Failures anywhere inside leave nothing.
    alloc().reset();
    copyNotificationArray(&array, &copy, f);
    int total = alloc().allocations();
    for (int k = 0; k < total; ++k) {
        alloc().reset();
        alloc().failAllocation(k);
        EXPECT_THROW(copyNotificationArray(&array, &copy, f), HResultException);
        EXPECT_EQ(alloc().liveBlocks(), 0u) << "allocation " << k;
    }
}

TEST_F(MapiAllocTest, NamedPropertyIdsAndErrors) {
    GUID guid = kGuid;
    wchar_t name[5] = L"name";
    MAPINAMEID byName{&guid, MNID_STRING, {}};
    byName.Kind.lpwstrName = name;
    MAPINAMEID byId{&guid, MNID_ID, {}};
    byId.Kind.lID = 0x8501;
    MAPINAMEID* names[2] = {&byName, &byId};

    LPMAPINAMEID* copies = nullptr;
    copyMapiNameIdPtrArray(names, 2, &copies, nullptr, f);
    EXPECT_STREQ(copies[0]->Kind.lpwstrName, L"name");
    EXPECT_NE(copies[0]->Kind.lpwstrName, name);
    EXPECT_EQ(copies[1]->Kind.lID, 0x8501);
    EXPECT_TRUE(IsEqualGUID(*copies[1]->lpguid, kGuid));
    EXPECT_TRUE(alloc().isLinkedTo(copies[1], copies));
    EXPECT_EQ(alloc().liveHeads(), 1u);
    MapiTestAllocator::freeBuffer(copies);

    MAPINAMEID odd{&guid, 2, {}};
    LPMAPINAMEID one = nullptr;
    expectMapiAllocError([&] { copyMapiNameId(&odd, &one, nullptr, f); }, E_INVALIDARG, 241,
                         "InternalMapiAlloc::copyMapiNameId");
    MAPINAMEID noGuid{nullptr, MNID_ID, {}};
    expectMapiAllocError([&] { copyMapiNameId(&noGuid, &one, nullptr, f); }, E_INVALIDARG, 588,
                         "InternalMapiAlloc::copyGuid");
    expectMapiAllocError([&] { copyMapiNameId(nullptr, &one, nullptr, f); }, E_INVALIDARG, 220,
                         "InternalMapiAlloc::copyMapiNameId");
    expectMapiAllocError([&] { copyMapiNameIdPtrArray(nullptr, 1, &copies, nullptr, f); }, E_INVALIDARG, 266,
                         "InternalMapiAlloc::copyMapiNameIdPtrArray");
    expectMapiAllocError([&] { allocMapiNameIdPtrArray(nullptr, 1, nullptr, f); }, E_INVALIDARG, 254,
                         "InternalMapiAlloc::allocMapiNameIdPtrArray");
    expectMapiAllocError([&] { allocMapiNameIdArray(nullptr, f); }, E_INVALIDARG, 285,
                         "InternalMapiAlloc::allocMapiNameIdArray");
    EXPECT_EQ(alloc().liveBlocks(), 0u);

    _MAPINAMEID_ARRAY* array = nullptr;
    allocMapiNameIdArray(&array, f);
    EXPECT_EQ(array->cNames, 0u);
    EXPECT_EQ(array->lppNames, nullptr);
    MapiTestAllocator::freeBuffer(array);

    wchar_t component[5] = L"comp";
    MAPIERROR error{MAPI_ERROR_VERSION, nullptr, component, 3, 4};
    LPMAPIERROR errorCopy = nullptr;
    copyMapiError(&error, &errorCopy, nullptr, f);
    EXPECT_EQ(errorCopy->lpszError, nullptr);
    EXPECT_STREQ(errorCopy->lpszComponent, L"comp");
    EXPECT_EQ(errorCopy->ulLowLevelError, 3u);
    MapiTestAllocator::freeBuffer(errorCopy);
    EXPECT_EQ(alloc().liveBlocks(), 0u);
}
