// The interfaces are their contract: each slot's name at its raw vtable
// index and its parameter types, read from the declarations, against a
// contract file written out from the interfaces' published tables
// (AsyncISynchronizator's rows are derived from ISynchronizator's: Begin_ at
// 2k-3 takes the in list, Finish_ at 2k-2 the out list). Shared by the
// contract tests of both builds, which add their own types and tables.
#pragma once

#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <vector>

#include "Fakes.h"

namespace contract {

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
inline std::string canonical(std::string text) {
    static const std::pair<const char*, const char*> same[] = {
        {"\\bREFIID\\b", "const GUID&"}, {"\\bREFCLSID\\b", "const GUID&"}, {"\\bIID\\b", "GUID"},
        {"\\bDWORD\\b", "ULONG"},        {"\\bUINT\\b", "ULONG"},           {"\\bLONG\\b", "int"},
        {"\\bOLECHAR\\b", "wchar_t"},    {"\\bSNB\\b", "wchar_t**"},        {"unsigned char", "BYTE"}};
    for (const auto& [from, to] : same) {
        text = std::regex_replace(text, std::regex(from), to);
    }
    return text;
}

// The rows of a contract file; a file that cannot be read fails the test.
inline std::map<std::string, std::string> read(const std::string& path) {
    std::ifstream in(path);
    std::map<std::string, std::string> rows;
    if (!in) {
        ADD_FAILURE() << "the contract file cannot be read: " << path;
        return rows;
    }
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
#define CONTRACT_ROW(slot, name, params, args, treatment)                                                   \
    {                                                                                                       \
        using Fn = BACKEND_RAW_SLOT_TYPE(params);                                                           \
        fakes::reset();                                                                                     \
        fakes::Sentinels s;                                                                                 \
        fakes::callWithSentinels(object, slot, s, Fn{});                                                    \
        std::vector<fakes::Call> seen = fakes::calls();                                                     \
        found[iface + " " + std::to_string(slot)] =                                                         \
            (seen.empty() ? std::string("?") : seen[0].method) + "(" + contract::parameterText(Fn{}) + ")"; \
    }

#define CONTRACT_TABLE(IFACE, FAKE, I, TABLE) \
    {                                         \
        const std::string iface = IFACE;      \
        auto* fake = new fakes::FAKE;         \
        void* object = static_cast<I*>(fake); \
        TABLE(CONTRACT_ROW)                   \
        fake->Release();                      \
    }

// Every slot of every interface, probed through its raw index, against the
// contract file's rows.
inline void expectEverySlot(const std::string& path, size_t rows) {
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
    CONTRACT_TABLE("IDatabaseManager", FakeDatabaseManagerWrapper, IDatabaseManager,
                   BACKEND_IDATABASEMANAGER_ALL_SLOTS)
    std::map<std::string, std::string> expected = read(path);
    EXPECT_EQ(expected.size(), rows);
    for (const auto& [where, text] : expected) {
        SCOPED_TRACE(where);
        auto it = found.find(where);
        ASSERT_NE(it, found.end());
        EXPECT_EQ(canonical(it->second), text);
    }
    EXPECT_EQ(found.size(), expected.size());
}

// Each interface ID of the set, in factory order, is the published one.
inline void expectIdsInSetOrder(const std::vector<const char*>& published) {
    std::vector<const IID*> setOrder;
#define CONTRACT_SET_ORDER(W, I, SLOTS) setOrder.push_back(&BackendIid<I>::value);
    BACKEND_WRAPPERS(CONTRACT_SET_ORDER)
#undef CONTRACT_SET_ORDER
    ASSERT_EQ(setOrder.size(), published.size());
    for (size_t i = 0; i < published.size(); ++i) {
        IID parsed;
        std::wstring text(published[i], published[i] + std::strlen(published[i]));
        ASSERT_EQ(CLSIDFromString(text.c_str(), &parsed), S_OK);
        EXPECT_TRUE(IsEqualIID(*setOrder[i], parsed)) << i << " " << published[i];
    }
    IID wrapperId;
    ASSERT_EQ(CLSIDFromString(L"{0385221C-EDE1-45E9-8857-CE36749CA350}", &wrapperId), S_OK);
    EXPECT_TRUE(IsEqualIID(IID_IBackendWrapper, wrapperId));
}

}  // namespace contract
