// The 7.1 tables against the published 7.1 layouts: each table's names in
// slot order, transcribed by hand, and probes that call through raw vtable
// indices where the 7.1 layout differs from the 7.4 one (GetProps at 10, not
// 11; RegisterClientProcess at 13 with two arguments; OpenConnection at 3 and
// its twin at 5; the twins 22 and 23 of IAppConnection).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Backend/v71/Backend.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace {

std::string lastCalled;

#define PROBE71_SLOT(slot, name, params, args, treatment) \
    HRESULT STDMETHODCALLTYPE name params override {      \
        lastCalled = #name;                               \
        return slot;                                      \
    }

template <class I>
struct Unknown : I {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

struct AppServerProbe : Unknown<IAppServer> {
    BACKEND_IAPPSERVER_SLOTS(PROBE71_SLOT)
};
struct AppConnectionProbe : Unknown<IAppConnection> {
    BACKEND_IAPPCONNECTION_SLOTS(PROBE71_SLOT)
};
struct DbMapiPropsProbe : Unknown<IDbMapiProps> {
    BACKEND_IDBMAPIPROPS_ALL_SLOTS(PROBE71_SLOT)
};

// Calls vtable entry `index` of `object` as a function of type Fn.
template <class Fn, class... A>
HRESULT callRaw(void* object, size_t index, A... arguments) {
    void** vtable = *static_cast<void***>(object);
    return reinterpret_cast<Fn>(vtable[index])(object, arguments...);
}

std::vector<std::string> namesFrom(std::initializer_list<const char*> names) {
    return std::vector<std::string>(names.begin(), names.end());
}

}  // namespace

TEST(Slots71, TablesNameTheirSlotsInThePublishedOrder) {
    EXPECT_EQ(
        namesFrom({BACKEND_IAPPSERVER_SLOTS(BACKEND_SLOT_NAME)}),
        namesFrom({"OpenConnection", "Slot4", "Slot5", "Slot6", "OpenSynchronizator", "GetLastError", "Slot9",
                   "Slot10", "Slot11", "Slot12", "RegisterClientProcess", "Slot14", "GetLog", "Slot16"}));
    EXPECT_EQ(namesFrom({BACKEND_IAPPCONNECTION_SLOTS(BACKEND_SLOT_NAME)}),
              namesFrom({"GetConfiguration",
                         "Slot4",
                         "Slot5",
                         "Slot6",
                         "Slot7",
                         "Slot8",
                         "OpenFolder",
                         "OpenMapiProps",
                         "GetStoreIds",
                         "GetNamedPropsManager",
                         "GetLastError",
                         "GetDatabaseManager",
                         "GetNotificationEngine",
                         "GetLog",
                         "Slot17",
                         "GetSynchronizator",
                         "Slot19",
                         "Slot20",
                         "Slot21",
                         "Slot22",
                         "Slot23",
                         "Slot24",
                         "Slot25",
                         "Slot26",
                         "Slot27",
                         "Slot28"}));
    EXPECT_EQ(namesFrom({BACKEND_IDBMAPIPROPS_ALL_SLOTS(BACKEND_SLOT_NAME)}),
              namesFrom({"GetConnection", "GetLastError", "GetObjectType", "Slot6", "Slot7", "Slot8",
                         "GetPropList", "GetProps", "SetProps", "Slot12", "OpenProperty", "DeleteProps",
                         "Slot15", "Slot16", "Slot17"}));
    EXPECT_EQ(namesFrom({BACKEND_IDBOBJECT_SLOTS(BACKEND_SLOT_NAME)}),
              namesFrom({"GetConnection", "GetLastError"}));
}

TEST(Slots71, RawIndicesReachTheMethodsThe71LayoutPutsThere) {
    typedef HRESULT(STDMETHODCALLTYPE * Register)(void*, ULONG, UINT);
    typedef HRESULT(STDMETHODCALLTYPE * Open)(void*, _ServerConfiguration*, _ConnectionType,
                                              IAppConnection**);
    typedef HRESULT(STDMETHODCALLTYPE * GuidToGuid)(void*, GUID, GUID*);
    typedef HRESULT(STDMETHODCALLTYPE * OpenProps)(void*, GUID, ULONG, IDbMapiProps**);
    typedef HRESULT(STDMETHODCALLTYPE * StoreIds)(void*, ULONG*, GUID**);
    typedef HRESULT(STDMETHODCALLTYPE * Props)(void*, _SPropTagArray*, _SPropValueArray**);
    typedef HRESULT(STDMETHODCALLTYPE * Connection)(void*, IAppConnection**);

    AppServerProbe server;
    AppConnectionProbe connection;
    DbMapiPropsProbe props;
    void* s = static_cast<IAppServer*>(&server);
    void* c = static_cast<IAppConnection*>(&connection);
    void* p = static_cast<IDbMapiProps*>(&props);
    // What a raw call reached: the method's name and the slot number it returns.
    auto hit = [](HRESULT result) { return lastCalled + "@" + std::to_string(result); };
    EXPECT_EQ(hit(callRaw<Register>(s, 13, ULONG{4242}, UINT{0})), "RegisterClientProcess@13");
    EXPECT_EQ(hit(callRaw<Open>(s, 3, nullptr, ConnectionTypeLocal, nullptr)), "OpenConnection@3");
    EXPECT_EQ(hit(callRaw<Open>(s, 5, nullptr, ConnectionTypeLocal, nullptr)), "Slot5@5");
    EXPECT_EQ(hit(callRaw<OpenProps>(c, 10, GUID{}, ULONG{0}, nullptr)), "OpenMapiProps@10");
    EXPECT_EQ(hit(callRaw<StoreIds>(c, 11, nullptr, nullptr)), "GetStoreIds@11");
    EXPECT_EQ(hit(callRaw<GuidToGuid>(c, 22, GUID{}, nullptr)), "Slot22@22");
    EXPECT_EQ(hit(callRaw<GuidToGuid>(c, 23, GUID{}, nullptr)), "Slot23@23");
    EXPECT_EQ(hit(callRaw<Connection>(p, 3, nullptr)), "GetConnection@3");
    EXPECT_EQ(hit(callRaw<Props>(p, 10, nullptr, nullptr)), "GetProps@10");
}
