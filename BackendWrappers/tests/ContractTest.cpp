// The interfaces are their contract: each slot's name at its raw vtable index
// and its parameter types, read from the declarations, against contract.txt
// (written out from the interfaces' published tables; AsyncISynchronizator's
// rows are derived here from ISynchronizator's: Begin_ at 2k-3 takes the in
// list, Finish_ at 2k-2 the out list). And the interface IDs by value.
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "Fakes.h"

namespace {

using namespace BackendWrappers;

template <class T>
struct TypeText;
#define TYPE_TEXT(T, text)                        \
    template <>                                   \
    struct TypeText<T> {                          \
        static std::string get() { return text; } \
    };
TYPE_TEXT(void, "void")
TYPE_TEXT(int, "int")
TYPE_TEXT(ULONG, "ULONG")
TYPE_TEXT(char, "char")
TYPE_TEXT(wchar_t, "wchar_t")
TYPE_TEXT(BYTE, "BYTE")
TYPE_TEXT(GUID, "GUID")
TYPE_TEXT(LARGE_INTEGER, "LARGE_INTEGER")
TYPE_TEXT(ULARGE_INTEGER, "ULARGE_INTEGER")
TYPE_TEXT(FILETIME, "FILETIME")
TYPE_TEXT(STATSTG, "STATSTG")
#define TYPE_SELF(T) TYPE_TEXT(T, #T)
TYPE_SELF(IUnknown)
TYPE_SELF(IStream)
TYPE_SELF(IStorage)
TYPE_SELF(IEnumSTATSTG)
TYPE_SELF(ISynchronize)
TYPE_SELF(IAppConnection)
TYPE_SELF(IDbMsgStore)
TYPE_SELF(IDbFolder)
TYPE_SELF(IDbMapiProps)
TYPE_SELF(IDbMessage)
TYPE_SELF(IDbAttach)
TYPE_SELF(IDbTable)
TYPE_SELF(ILog)
TYPE_SELF(ILogManager)
TYPE_SELF(ISynchronizator)
TYPE_SELF(IDbNamedPropsManager)
TYPE_SELF(IDatabaseManager)
TYPE_SELF(IDbNotificationEngine)
TYPE_SELF(IDbAdviseSink)
TYPE_SELF(IDbReportSender)
TYPE_SELF(_ServerConfiguration)
TYPE_SELF(_ConnectionType)
TYPE_SELF(_ProfileType)
TYPE_SELF(_StoreTypes)
TYPE_SELF(_StoreLimitType)
TYPE_SELF(_ObjectType)
TYPE_SELF(_DbError)
TYPE_SELF(_SyncInfo)
TYPE_SELF(_SPropTagArray)
TYPE_SELF(_SPropValueArray)
TYPE_SELF(_SPropProblemArray)
TYPE_SELF(_SRowSet)
TYPE_SELF(_SRow)
TYPE_SELF(_SBinary)
TYPE_SELF(_SBinaryArray)
TYPE_SELF(_SSortOrderSet)
TYPE_SELF(_SRestrictionEx)
TYPE_SELF(_MAPINAMEID_ARRAY)
TYPE_SELF(_NOTIFICATION_ARRAY)
TYPE_SELF(_LogSeverity)
TYPE_SELF(_LogFacility)
TYPE_SELF(_LogDisplaying)
TYPE_SELF(_SynchronizatorCallFlags)
TYPE_SELF(_QueueRequestPriority)
TYPE_SELF(_ConnectionInfo)
TYPE_SELF(_SharingList)
TYPE_SELF(_ServerInfo)
TYPE_SELF(__MIDL___MIDL_itf_idlStructures_0000_0001)
TYPE_TEXT(BackendUI::SyncStatusEvents, "BackendUI::SyncStatusEvents")
TYPE_TEXT(BackendUI::SyncGlobalEvents, "BackendUI::SyncGlobalEvents")
TYPE_TEXT(BackendUI::SyncFolderEvents, "BackendUI::SyncFolderEvents")
TYPE_TEXT(BackendUI::SyncFolderEventInfo, "BackendUI::SyncFolderEventInfo")
template <class T>
struct TypeText<T*> {
    static std::string get() { return TypeText<T>::get() + "*"; }
};
template <class T>
struct TypeText<const T> {
    static std::string get() { return "const " + TypeText<T>::get(); }
};
template <class T>
struct TypeText<T&> {
    static std::string get() { return TypeText<T>::get() + "&"; }
};

template <class... A>
std::string parameterText(HRESULT(STDMETHODCALLTYPE*)(void*, A...)) {
    std::string text;
    ((text += (text.empty() ? "" : ", ") + TypeText<A>::get()), ...);
    return text;
}

// The platform's spellings of types this layer cannot tell apart.
std::string canonical(std::string text) {
    static const std::pair<const char*, const char*> same[] = {
        {"\\bREFIID\\b", "const GUID&"}, {"\\bREFCLSID\\b", "const GUID&"},
        {"\\bIID\\b", "GUID"},           {"\\bDWORD\\b", "ULONG"},
        {"\\bLONG\\b", "int"},           {"\\bOLECHAR\\b", "wchar_t"},
        {"\\bSNB\\b", "wchar_t**"},      {"unsigned char", "BYTE"}};
    for (const auto& [from, to] : same) {
        text = std::regex_replace(text, std::regex(from), to);
    }
    return text;
}

std::map<std::string, std::string> contract() {
    std::ifstream in(STORESET_SOURCE_DIR "/BackendWrappers/tests/contract.txt");
    std::map<std::string, std::string> rows;
    std::string line;
    const std::regex row("(\\S+) (\\d+) (\\w+)\\((.*)\\)");
    while (std::getline(in, line)) {
        std::smatch m;
        if (!std::regex_match(line, m, row)) {
            continue;
        }
        std::string params = m[4];
        if (m[1] == "ISynchronizator") {
            size_t bar = params.find('|');
            std::string ins = params.substr(0, bar), outs = params.substr(bar + 1);
            auto trim = [](std::string s) { return std::regex_replace(s, std::regex("^\\s+|\\s+$"), ""); };
            ins = trim(ins);
            outs = trim(outs);
            int k = std::stoi(m[2]);
            rows["AsyncISynchronizator " + std::to_string(2 * k - 3)] =
                "Begin_" + std::string(m[3]) + "(" + canonical(ins) + ")";
            rows["AsyncISynchronizator " + std::to_string(2 * k - 2)] =
                "Finish_" + std::string(m[3]) + "(" + canonical(outs) + ")";
            params = ins + (!ins.empty() && !outs.empty() ? ", " : "") + outs;
        }
        rows[std::string(m[1]) + " " + std::string(m[2])] = std::string(m[3]) + "(" + canonical(params) + ")";
    }
    return rows;
}

// Calls each row's raw index on a recording object and writes what sits there.
#define CONTRACT_ROW(slot, name, params, args, treatment)                                         \
    {                                                                                             \
        using Fn = BACKEND_RAW_SLOT_TYPE(params);                                                 \
        fakes::reset();                                                                           \
        fakes::Sentinels s;                                                                       \
        fakes::callWithSentinels(object, slot, s, Fn{});                                          \
        std::vector<fakes::Call> seen = fakes::calls();                                           \
        found[iface + " " + std::to_string(slot)] =                                               \
            (seen.empty() ? std::string("?") : seen[0].method) + "(" + parameterText(Fn{}) + ")"; \
    }

#define CONTRACT_TABLE(IFACE, FAKE, I, TABLE) \
    {                                         \
        const std::string iface = IFACE;      \
        auto* fake = new fakes::FAKE;         \
        void* object = static_cast<I*>(fake); \
        TABLE(CONTRACT_ROW)                   \
        fake->Release();                      \
    }

TEST(Contract, EverySlotHasItsPublishedNameAndParameterTypes) {
    std::map<std::string, std::string> found;
    CONTRACT_TABLE("IAppServer", FakeAppServerWrapper, IAppServer, BACKEND_IAPPSERVER_SLOTS)
    CONTRACT_TABLE("IAppConnection", FakeAppConnectionWrapper, IAppConnection, BACKEND_IAPPCONNECTION_SLOTS)
    CONTRACT_TABLE("IDbObject", FakeDbObjectWrapper, IDbObject, BACKEND_IDBOBJECT_SLOTS)
    CONTRACT_TABLE("IDbMapiProps", FakeDbMapiPropsWrapper, IDbMapiProps, BACKEND_IDBMAPIPROPS_SLOTS)
    CONTRACT_TABLE("IDbMsgStore", FakeDbMsgStoreWrapper, IDbMsgStore, BACKEND_IDBMSGSTORE_SLOTS)
    CONTRACT_TABLE("IDbTable", FakeDbTableWrapper, IDbTable, BACKEND_IDBTABLE_ALL_SLOTS)
    CONTRACT_TABLE("IDbNotificationEngine", FakeDbNotificationEngineWrapper, IDbNotificationEngine,
                   BACKEND_IDBNOTIFICATIONENGINE_ALL_SLOTS)
    CONTRACT_TABLE("ILog", FakeLogWrapper, ILog, BACKEND_ILOG_SLOTS)
    CONTRACT_TABLE("ILogManager", FakeLogManagerWrapper, ILogManager, BACKEND_ILOGMANAGER_SLOTS)
    CONTRACT_TABLE("IDbFolder", FakeDbFolderWrapper, IDbFolder, BACKEND_IDBFOLDER_SLOTS)
    CONTRACT_TABLE("IDbMessage", FakeDbMessageWrapper, IDbMessage, BACKEND_IDBMESSAGE_SLOTS)
    CONTRACT_TABLE("ISynchronizator", FakeSynchronizatorWrapper, ISynchronizator,
                   BACKEND_ISYNCHRONIZATOR_SLOTS)
    CONTRACT_TABLE("AsyncISynchronizator", FakeAsyncISynchronizatorWrapper, AsyncISynchronizator,
                   BACKEND_ASYNCISYNCHRONIZATOR_SLOTS)
    CONTRACT_TABLE("ISyncEventsUI", FakeSyncEventUIWrapper, BackendUI::ISyncEventsUI,
                   BACKEND_ISYNCEVENTSUI_SLOTS)
    CONTRACT_TABLE("IDbNamedPropsManager", FakeDbNamedPropsManagerWrapper, IDbNamedPropsManager,
                   BACKEND_IDBNAMEDPROPSMANAGER_SLOTS)
    CONTRACT_TABLE("ISequentialStream", FakeSequentialStreamWrapper, ISequentialStream,
                   BACKEND_ISEQUENTIALSTREAM_SLOTS)
    CONTRACT_TABLE("IStream", FakeStreamWrapper, IStream, BACKEND_ISTREAM_SLOTS)
    CONTRACT_TABLE("IEnumSTATSTG", FakeEnumSTATSTGWrapper, IEnumSTATSTG, BACKEND_IENUMSTATSTG_SLOTS)
    CONTRACT_TABLE("IStorage", FakeStorageWrapper, IStorage, BACKEND_ISTORAGE_SLOTS)
    CONTRACT_TABLE("ISynchronize", FakeSynchronizeWrapper, ISynchronize, BACKEND_ISYNCHRONIZE_SLOTS)
    CONTRACT_TABLE("ICallFactory", FakeCallFactoryWrapper, ICallFactory, BACKEND_ICALLFACTORY_SLOTS)
    std::map<std::string, std::string> expected = contract();
    EXPECT_EQ(expected.size(), 257u);  // 209 written rows and 48 derived ones
    for (const auto& [where, text] : expected) {
        SCOPED_TRACE(where);
        auto it = found.find(where);
        ASSERT_NE(it, found.end());
        EXPECT_EQ(canonical(it->second), text);
    }
    EXPECT_EQ(found.size(), expected.size());
}

TEST(Contract, InterfaceIdsAreThePublishedOnes) {
    const std::pair<const IID*, const char*> ids[] = {
        {&BackendIid<IUnknown>::value, "{00000000-0000-0000-C000-000000000046}"},
        {&BackendIid<IDbMapiProps>::value, "{12A94FB1-F6E5-4825-8F3C-E70A67938197}"},
        {&BackendIid<IDbMessage>::value, "{C2F1FDB4-390A-4E30-9665-63418FBF5E6F}"},
        {&BackendIid<IDbFolder>::value, "{08578AC6-BC15-4336-95B7-A3121A0FD38A}"},
        {&BackendIid<IDbTable>::value, "{D82E8E8B-0B94-44CA-908C-4B3B38054A6B}"},
        {&BackendIid<IDbAttach>::value, "{D3C525C8-712C-431E-9F30-0DA309633AA4}"},
        {&BackendIid<ILog>::value, "{47323FA0-8DD7-4BD9-9CEE-F66478F217EE}"},
        {&BackendIid<ILogManager>::value, "{68169311-6B1C-4742-9699-E63A96AFF760}"},
        {&BackendIid<IDbMsgStore>::value, "{9DAB5590-9D1F-4219-BF5F-A79DB06CE484}"},
        {&BackendIid<IAppServer>::value, "{65ABA069-3C53-4B62-9DCB-F0D0A2202549}"},
        {&BackendIid<IAppConnection>::value, "{1069C819-3208-47F1-B477-A6B3AC023202}"},
        {&BackendIid<ISynchronizator>::value, "{FE50FFBB-7F0D-42B8-850C-1674FF83DA3B}"},
        {&BackendIid<ISynchronize>::value, "{00000030-0000-0000-C000-000000000046}"},
        {&BackendIid<IStream>::value, "{0000000C-0000-0000-C000-000000000046}"},
        {&BackendIid<IStorage>::value, "{0000000B-0000-0000-C000-000000000046}"},
        {&BackendIid<IDbObject>::value, "{CB6EE8F9-3ACD-4976-B4C2-45A414AAB7FA}"},
        {&BackendIid<IDbNamedPropsManager>::value, "{4E797D1C-2480-4F72-9D76-C2A840DAC105}"},
        {&BackendIid<IDatabaseManager>::value, "{D7A45040-1087-4A11-A470-6C3955841951}"},
        {&BackendIid<IDbNotificationEngine>::value, "{07977CB8-6437-4054-AE14-BA6FA50094D8}"},
        {&BackendIid<ISequentialStream>::value, "{0C733A30-2A1C-11CE-ADE5-00AA0044773D}"},
        {&BackendIid<IEnumSTATSTG>::value, "{0000000D-0000-0000-C000-000000000046}"},
        {&BackendIid<ICallFactory>::value, "{1C733A30-2A1C-11CE-ADE5-00AA0044773D}"},
        {&BackendIid<AsyncISynchronizator>::value, "{4DD96898-53D2-45FB-A0BC-292DEF9A6BA1}"},
        {&BackendIid<BackendUI::ISyncEventsUI>::value, "{D0F2B9B2-5866-44CF-B5A7-F486EB97BF97}"},
        {&IID_IBackendWrapper, "{0385221C-EDE1-45E9-8857-CE36749CA350}"},
    };
    std::vector<const IID*> setOrder;
#define SET_ORDER(W, I, SLOTS) setOrder.push_back(&BackendIid<I>::value);
    BACKEND_WRAPPERS(SET_ORDER)
    for (size_t i = 0; i < std::size(ids); ++i) {
        IID parsed;
        std::wstring text(ids[i].second, ids[i].second + std::strlen(ids[i].second));
        ASSERT_EQ(CLSIDFromString(text.c_str(), &parsed), S_OK);
        EXPECT_TRUE(IsEqualIID(*ids[i].first, parsed)) << ids[i].second;
        // The factory's order is the table's order.
        if (i < setOrder.size()) {
            EXPECT_EQ(setOrder[i], ids[i].first) << i;
        }
    }
}

}  // namespace
