// Slot probes for the backend interfaces: an object implements every slot by
// recording its own name, and the test calls through raw vtable indices with
// the names written out here from the interfaces' published tables. A row
// declared in the wrong place, or with the wrong argument shape, shows up as
// a wrong name at its index.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Backend/v74/Backend.h"

// The probes take every parameter and look at none.
#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace {

std::string lastCalled;

#define PROBE_SLOT(slot, name, params, args, treatment) \
    HRESULT STDMETHODCALLTYPE name params override {    \
        lastCalled = #name;                             \
        return slot;                                    \
    }

#define PROBE_UNKNOWN                                                   \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { \
        lastCalled = "QueryInterface";                                  \
        return 0;                                                       \
    }                                                                   \
    ULONG STDMETHODCALLTYPE AddRef() override {                         \
        lastCalled = "AddRef";                                          \
        return 1;                                                       \
    }                                                                   \
    ULONG STDMETHODCALLTYPE Release() override {                        \
        lastCalled = "Release";                                         \
        return 2;                                                       \
    }

struct AppServerProbe : IAppServer {
    PROBE_UNKNOWN
    BACKEND_IAPPSERVER_SLOTS(PROBE_SLOT)
};
struct AppConnectionProbe : IAppConnection {
    PROBE_UNKNOWN
    BACKEND_IAPPCONNECTION_SLOTS(PROBE_SLOT)
};
struct DbObjectProbe : IDbObject {
    PROBE_UNKNOWN
    BACKEND_IDBOBJECT_SLOTS(PROBE_SLOT)
};
struct DbMapiPropsProbe : IDbMapiProps {
    PROBE_UNKNOWN
    BACKEND_IDBMAPIPROPS_ALL_SLOTS(PROBE_SLOT)
};
struct DbMsgStoreProbe : IDbMsgStore {
    PROBE_UNKNOWN
    BACKEND_IDBMSGSTORE_ALL_SLOTS(PROBE_SLOT)
};

// Calls vtable entry `index` of `object` as a function of the slot's own
// parameter types, each passed value-initialised.
template <class... A>
HRESULT callRaw(void* object, size_t index, HRESULT(STDMETHODCALLTYPE*)(void*, A...)) {
    void** vtable = *static_cast<void***>(object);
    auto fn = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*, A...)>(vtable[index]);
    return fn(object, A{}...);
}

struct Called {
    size_t index;
    std::string name;
    HRESULT result;
};

// Every own slot of a table, called through its raw index.
#define CALL_RAW_SLOT(slot, name, params, args, treatment) \
    {                                                      \
        lastCalled.clear();                                \
        using SlotFn = BACKEND_RAW_SLOT_TYPE(params);      \
        HRESULT r = callRaw(object, slot, SlotFn{});       \
        calls.push_back({slot, lastCalled, r});            \
    }

template <class Probe>
void expectUnknownSlots(Probe& probe) {
    IUnknown* unknown = &probe;
    void** vtable = *reinterpret_cast<void***>(unknown);
    lastCalled.clear();
    reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*, const IID&, void**)>(vtable[0])(unknown, IID_IUnknown,
                                                                                        nullptr);
    EXPECT_EQ(lastCalled, "QueryInterface");
    reinterpret_cast<ULONG(STDMETHODCALLTYPE*)(void*)>(vtable[1])(unknown);
    EXPECT_EQ(lastCalled, "AddRef");
    reinterpret_cast<ULONG(STDMETHODCALLTYPE*)(void*)>(vtable[2])(unknown);
    EXPECT_EQ(lastCalled, "Release");
}

void expectNames(const std::vector<Called>& calls, size_t firstSlot,
                 const std::vector<std::string>& expected) {
    ASSERT_EQ(calls.size(), expected.size());
    for (size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE("slot " + std::to_string(firstSlot + i));
        EXPECT_EQ(calls[i].index, firstSlot + i);
        EXPECT_EQ(calls[i].name, expected[i]);
        EXPECT_EQ(static_cast<size_t>(calls[i].result), firstSlot + i);
    }
}

}  // namespace

TEST(BackendSlots, AppServerSlotsSitAtTheirPublishedIndices) {
    AppServerProbe probe;
    expectUnknownSlots(probe);
    void* object = static_cast<IAppServer*>(&probe);
    std::vector<Called> calls;
    BACKEND_IAPPSERVER_SLOTS(CALL_RAW_SLOT)
    expectNames(calls, 3,
                {"OpenConnection", "Slot4", "Slot5", "Slot6", "Slot7", "Slot8", "GetLastError", "Slot10",
                 "Slot11", "Slot12", "Slot13", "RegisterClientProcess", "Slot15", "Slot16", "Slot17"});
}

TEST(BackendSlots, AppConnectionSlotsSitAtTheirPublishedIndices) {
    AppConnectionProbe probe;
    expectUnknownSlots(probe);
    void* object = static_cast<IAppConnection*>(&probe);
    std::vector<Called> calls;
    BACKEND_IAPPCONNECTION_SLOTS(CALL_RAW_SLOT)
    std::vector<std::string> expected;
    for (int slot = 3; slot <= 37; ++slot) {
        expected.push_back("Slot" + std::to_string(slot));
    }
    expected[9 - 3] = "OpenMsgStore";
    expected[11 - 3] = "OpenMapiProps";
    expected[12 - 3] = "GetStoreIds";
    expected[14 - 3] = "GetLastError";
    expectNames(calls, 3, expected);
}

TEST(BackendSlots, DbObjectSlots) {
    DbObjectProbe probe;
    expectUnknownSlots(probe);
    void* object = static_cast<IDbObject*>(&probe);
    std::vector<Called> calls;
    BACKEND_IDBOBJECT_SLOTS(CALL_RAW_SLOT)
    expectNames(calls, 3, {"GetConnection", "GetLastError"});
}

TEST(BackendSlots, DbMapiPropsInheritsDbObjectAndKeepsItsOwnOrder) {
    DbMapiPropsProbe probe;
    expectUnknownSlots(probe);
    void* object = static_cast<IDbMapiProps*>(&probe);
    std::vector<Called> calls;
    BACKEND_IDBMAPIPROPS_ALL_SLOTS(CALL_RAW_SLOT)
    expectNames(
        calls, 3,
        {"GetConnection", "GetLastError", "Slot5", "Slot6", "Slot7", "Slot8", "Slot9", "GetPropList",
         "GetProps", "SetProps", "Slot13", "OpenProperty", "DeleteProps", "Slot16", "Slot17", "Slot18"});
}

TEST(BackendSlots, DbMsgStoreReachesGetPropsAtElevenThroughItsOwnPointer) {
    DbMsgStoreProbe probe;
    expectUnknownSlots(probe);
    void* object = static_cast<IDbMsgStore*>(&probe);
    std::vector<Called> calls;
    BACKEND_IDBMSGSTORE_ALL_SLOTS(CALL_RAW_SLOT)
    expectNames(calls, 3,
                {"GetConnection", "GetLastError", "Slot5",    "Slot6",    "Slot7",         "Slot8",
                 "Slot9",         "GetPropList",  "GetProps", "SetProps", "Slot13",        "OpenProperty",
                 "DeleteProps",   "Slot16",       "Slot17",   "Slot18",   "OpenMapiProps", "OpenFolder",
                 "Slot21",        "Slot22",       "Slot23",   "Slot24",   "Slot25"});
}

TEST(BackendSlots, InterfaceIdsAreThePublishedOnes) {
    const IID appServer = {0x65ABA069, 0x3C53, 0x4B62, {0x9D, 0xCB, 0xF0, 0xD0, 0xA2, 0x20, 0x25, 0x49}};
    const IID appConnection = {0x1069C819, 0x3208, 0x47F1, {0xB4, 0x77, 0xA6, 0xB3, 0xAC, 0x02, 0x32, 0x02}};
    const IID dbObject = {0xCB6EE8F9, 0x3ACD, 0x4976, {0xB4, 0xC2, 0x45, 0xA4, 0x14, 0xAA, 0xB7, 0xFA}};
    const IID dbMapiProps = {0x12A94FB1, 0xF6E5, 0x4825, {0x8F, 0x3C, 0xE7, 0x0A, 0x67, 0x93, 0x81, 0x97}};
    const IID dbMsgStore = {0x9DAB5590, 0x9D1F, 0x4219, {0xBF, 0x5F, 0xA7, 0x9D, 0xB0, 0x6C, 0xE4, 0x84}};
    EXPECT_TRUE(IsEqualIID(BackendIid<IAppServer>::value, appServer));
    EXPECT_TRUE(IsEqualIID(BackendIid<IAppConnection>::value, appConnection));
    EXPECT_TRUE(IsEqualIID(BackendIid<IDbObject>::value, dbObject));
    EXPECT_TRUE(IsEqualIID(BackendIid<IDbMapiProps>::value, dbMapiProps));
    EXPECT_TRUE(IsEqualIID(BackendIid<IDbMsgStore>::value, dbMsgStore));
}
