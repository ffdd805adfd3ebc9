// Every reachable raise site of the 7.1 adoption and of the helpers it uses,
// driven by fault injection on a fresh 7.1 demo world: the exact
// "Error occurred" text with its line, the HRESULT as the result, everything
// released, and the registry holding exactly what was written before.
#include <algorithm>

#include "World71.h"

using namespace demo71;

namespace {

const std::string FirstStore = "Handling of store #0\nAdjusting primary store\n" + Checks;
const std::string SectionCheck =
    "Handling of store #0\nAdjusting primary store\nSearching profile section in registry\n";
const std::string NoRights =
    "Insufficient permissions to 'HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows "
    "Messaging Subsystem\\Profiles\\Nobody'\nREAD / WRITE access requested\n";

// How the profile is changed before the run.
enum class Edit { None, NoDatabaseName, ProviderNotBinary, NoStoreRecordKey, EntryIdNotBinary };
// What the run leaves written.
enum class Written { Nothing, FirstStore, FirstRecordKey, AllStoresButNoMarker };

struct Road {
    const char* name;
    Edit edit;
    const char* inject;  // null: no injection
    int64_t code;
    int skip;
    HRESULT hr;
    std::string out;
    std::string message;  // after "Error occurred: "
    Written written = Written::Nothing;
    std::string profile = "Demo";
};

void PrintTo(const Road& road, std::ostream* os) {
    *os << road.name;
}

std::string at(const char* location, const char* code) {
    return std::string("Exception of class HResultException: ") + location + ":\n" + code;
}

const Road Roads[] = {
    {"MapiInitialize", Edit::None, "olmapi32!MAPIInitialize", E_UNEXPECTED, 0, E_UNEXPECTED, "",
     at(".\\DbAdopter(38), DbAdopter::execute", "0x8000ffff E_UNEXPECTED")},
    {"NoRightsOnTheProfile", Edit::None, nullptr, 0, 0, E_ACCESSDENIED, NoRights,
     at(".\\RegistryHelper(32), RegistryHelper::checkRights", "0x80070005 E_ACCESSDENIED"), Written::Nothing,
     "Nobody"},
    {"MapiAdminProfiles", Edit::None, "olmapi32!MAPIAdminProfiles", E_OUTOFMEMORY, 0, E_OUTOFMEMORY, "",
     at(".\\DbAdopter(45), DbAdopter::execute", "0x8007000e E_OUTOFMEMORY")},
    {"AdminServices", Edit::None, "olmapi32!IProfAdmin::AdminServices", MAPI_E_NOT_FOUND, 0, MAPI_E_NOT_FOUND,
     Opening, at(".\\DbAdopter(49), DbAdopter::execute", "0x8004010f MAPI_E_NOT_FOUND")},
    {"OpenProfileSection", Edit::None, "olmapi32!IMsgServiceAdmin::OpenProfileSection", MAPI_E_NO_ACCESS, 0,
     MAPI_E_NO_ACCESS, Opening + Reading,
     at(".\\DbAdopter(55), DbAdopter::execute", "0x80070005 E_ACCESSDENIED")},
    {"SectionGetProps", Edit::None, "olmapi32!IProfSect::GetProps", E_FAIL, 0, E_FAIL, Opening + Reading,
     at(".\\MapiHelper(52), Utilities::MapiHelper::getOneProp", "0x80004005 E_FAIL")},
    {"NoDatabaseName", Edit::NoDatabaseName, nullptr, 0, 0, MAPI_E_NOT_FOUND, Opening + Reading,
     at(".\\MapiHelper(72), Utilities::MapiHelper::getOneProp",
        "0x8004010f MAPI_E_NOT_FOUND: Requested property: 0x6708001f")},
    {"CoCreateInstance", Edit::None, "CoCreateInstance", REGDB_E_CLASSNOTREG, 0, REGDB_E_CLASSNOTREG,
     Opening + Reading + Named + Connecting, at(".\\DbAdopter(63), DbAdopter::execute", "0x80040154")},
    {"RegisterClientProcess", Edit::None, "Hollomar!IAppServer::RegisterClientProcess", E_ACCESSDENIED, 0,
     E_ACCESSDENIED, Opening + Reading + Named + Connecting,
     at(".\\DbAdopter(64), DbAdopter::execute", "0x80070005 E_ACCESSDENIED")},
    {"ProxyStubNotLoaded", Edit::None, "GetModuleHandleW", ERROR_MOD_NOT_FOUND, 0,
     static_cast<HRESULT>(0x8007007Eu), Opening + Reading + Named + Connecting,
     at(".\\Support(90), Utilities::Support::setAllocationFunctions", "0x8007007e")},
    // A failed lookup without a last error is a failure all the same.
    {"ProxyStubNotLoadedWithoutLastError", Edit::None, "GetModuleHandleW", 0, 0, E_FAIL,
     Opening + Reading + Named + Connecting,
     at(".\\Support(90), Utilities::Support::setAllocationFunctions", "0x80004005 E_FAIL")},
    // COM activation's own lookup of DllGetClassObject comes first.
    {"ProxyStubWithoutExport", Edit::None, "GetProcAddress", ERROR_PROC_NOT_FOUND, 1,
     static_cast<HRESULT>(0x8007007Fu), Opening + Reading + Named + Connecting,
     at(".\\Support(95), Utilities::Support::setAllocationFunctions", "0x8007007f")},
    {"ProxyStubRefusesTheRoutines", Edit::None, "HollomarPS!setAllocationFunctions", E_INVALIDARG, 0,
     E_INVALIDARG, Opening + Reading + Named + Connecting,
     at(".\\Support(97), Utilities::Support::setAllocationFunctions", "0x80070057 E_INVALIDARG")},
    {"OpenConnection", Edit::None, "Hollomar!IAppServer::OpenConnection", 0x80041000, 0,
     static_cast<HRESULT>(0x80041000u), Opening + Reading + Named + Connecting,
     at(".\\DbAdopter(72), DbAdopter::execute", "0x80041000 MIRT_E_DATABASE")},
    {"GetStoreIds", Edit::None, "Hollomar!IAppConnection::GetStoreIds", E_OUTOFMEMORY, 0, E_OUTOFMEMORY, Head,
     at(".\\DbAdopter(77), DbAdopter::execute", "0x8007000e E_OUTOFMEMORY")},
    {"OpenMapiPropsOfTheSecondStore", Edit::None, "Hollomar!IAppConnection::OpenMapiProps", MAPI_E_NOT_FOUND,
     1, MAPI_E_NOT_FOUND, Head + FirstStore + "Handling of store #1\n",
     at(".\\DbAdopter(93), DbAdopter::adoptOneStore", "0x8004010f MAPI_E_NOT_FOUND"), Written::FirstStore},
    {"GetPropsOfTheSecondStore", Edit::None, "Hollomar!IDbMapiProps::GetProps", E_FAIL, 1, E_FAIL,
     Head + FirstStore + "Handling of store #1\n",
     at(".\\DbAdopter(97), DbAdopter::adoptOneStore", "0x80004005 E_FAIL"), Written::FirstStore},
    // The skips count the registry opens before the search: the rights check,
    // the runtime's and COM's own; a changed count shows as another message.
    {"ProfileKeyDoesNotOpenForTheSearch", Edit::None, "RegOpenKeyExW", ERROR_ACCESS_DENIED, 8, E_ACCESSDENIED,
     Head + SectionCheck,
     at(".\\RegistryHelper(43), RegistryHelper::searchKeyByMdbProvider", "0x80070005 E_ACCESSDENIED")},
    {"SectionDoesNotOpen", Edit::None, "RegOpenKeyExW", ERROR_ACCESS_DENIED, 9, E_ACCESSDENIED,
     Head + SectionCheck,
     at(".\\RegistryHelper(59), RegistryHelper::searchKeyByMdbProvider", "0x80070005 E_ACCESSDENIED")},
    {"NoSectionForTheProvider", Edit::ProviderNotBinary, nullptr, 0, 0, static_cast<HRESULT>(0x80070103u),
     Head + SectionCheck + "Profile section not found\n",
     at(".\\RegistryHelper(54), RegistryHelper::searchKeyByMdbProvider", "0x80070103")},
    {"NoStoreRecordKey", Edit::NoStoreRecordKey, nullptr, 0, 0, static_cast<HRESULT>(0x80070002u),
     Head + SectionCheck + "Checking existence of PR_RECORD_KEY\nChecking existence of PR_STORE_RECORD_KEY\n",
     at(".\\RegistryHelper(84), RegistryHelper::checkPropertyExists", "0x80070002 ERROR_FILE_NOT_FOUND")},
    {"EntryIdNotBinary", Edit::EntryIdNotBinary, nullptr, 0, 0, static_cast<HRESULT>(0x8007000Du),
     Head + "Handling of store #0\nAdjusting primary store\n" + Checks.substr(0, Checks.find("Setting")),
     at(".\\RegistryHelper(84), RegistryHelper::checkPropertyExists", "0x8007000d")},
    {"WrapStoreEntryId", Edit::None, "olmapi32!WrapStoreEntryID", MAPI_E_UNKNOWN_FLAGS, 0,
     MAPI_E_UNKNOWN_FLAGS, Head + FirstStore,
     at(".\\DbAdopter(139), DbAdopter::adjustProfileSection", "0x80040106 MAPI_E_UNKNOWN_FLAGS")},
    {"SecondWriteOfTheFirstStore", Edit::None, "RegSetValueExW", ERROR_WRITE_FAULT, 1,
     static_cast<HRESULT>(0x8007001Du), Head + FirstStore,
     at(".\\RegistryHelper(105), RegistryHelper::setPropertyValue", "0x8007001d"), Written::FirstRecordKey},
    {"HrSetOneProp", Edit::None, "olmapi32!HrSetOneProp", MAPI_E_NO_ACCESS, 0, MAPI_E_NO_ACCESS,
     Head + FirstStore + "Handling of store #1\nAdjusting public store\n" + Checks +
         "Handling of store #2\nDelegated store, skipped\nHandling of store #3\nUnknown store, skipped\n"
         "Making server unavailable\n",
     at(".\\DbAdopter(155), DbAdopter::makeServerUnavailable", "0x80070005 E_ACCESSDENIED"),
     Written::AllStoresButNoMarker},
    // What is not an HResultException still ends as a failure, after unwinding.
    {"ForeignThrow", Edit::None, "Hollomar!IAppServer::RegisterClientProcess#throw", 0, 0, E_FAIL,
     Opening + Reading + Named + Connecting, "unknown exception"},
    {"AllocationFailure", Edit::None, "Hollomar!IAppServer::RegisterClientProcess#badalloc", 0, 0,
     E_OUTOFMEMORY, Opening + Reading + Named + Connecting, "std::bad_alloc"},
};

class FailureRoads71 : public World71Test, public ::testing::WithParamInterface<Road> {
  protected:
    void edit(Edit e) {
        switch (e) {
            case Edit::None:
                return;
            case Edit::NoDatabaseName:
                return change(ServiceSection, L"001f6708", REG_NONE, "");
            case Edit::ProviderNotBinary:
                return change(PrimarySection, L"01023414", REG_SZ, std::string("x\0\0\0", 4));
            case Edit::NoStoreRecordKey:
                return change(PrimarySection, L"01020ffa", REG_NONE, "");
            case Edit::EntryIdNotBinary:
                return change(PrimarySection, L"01020fff", REG_SZ, std::string("a\0\0\0", 4));
        }
    }
    // REG_NONE deletes the value.
    void change(const std::wstring& section, const wchar_t* name, DWORD type, const std::string& bytes) {
        std::wstring path = std::wstring(world::ProfilesKeyW) + L"\\Demo\\" + section;
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ | KEY_WRITE, &key),
                  ERROR_SUCCESS);
        LSTATUS r = type == REG_NONE
                        ? RegDeleteValueW(key, name)
                        : RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                         static_cast<DWORD>(bytes.size()));
        RegCloseKey(key);
        ASSERT_EQ(r, ERROR_SUCCESS);
        before_ = world::snapshotProfile(Profile);
    }
    world::ProfileSnapshot expectedAfter(Written written) {
        world::ProfileSnapshot expected = before_;
        switch (written) {
            case Written::Nothing:
                break;
            case Written::FirstRecordKey:
                expected[PrimarySection][L"01020ff9"] = {REG_BINARY, storeBytes(1)};
                break;
            case Written::FirstStore:
                expectAdopted(expected, PrimarySection, 1);
                break;
            case Written::AllStoresButNoMarker:
                expectAdopted(expected, PrimarySection, 1);
                expectAdopted(expected, PublicSection, 2);
                break;
        }
        return expected;
    }
};

}  // namespace

TEST_P(FailureRoads71, EndsWithItsMessageAndResultAndLeavesNothingBehind) {
    const Road& road = GetParam();
    edit(road.edit);
    if (road.inject) {
        winplat::inject::arm(road.inject, road.code, 1, road.skip);
    }
    Run r = run({"/profile=" + road.profile});
    EXPECT_EQ(r.result, road.hr);
    EXPECT_EQ(r.out, road.out);
    EXPECT_EQ(r.err, "\nError occurred: " + road.message + "\n");
    expectProfile(expectedAfter(road.written));
    expectAllReleased();
    // Unwinding gives the connection back before the server, as the end of a
    // run does; there is a connection once the stores were being listed.
    const std::vector<std::string> calls = server().calls();
    auto position = [&](const char* call) {
        return std::find(calls.begin(), calls.end(), call) - calls.begin();
    };
    const auto connectionGone = position("2 IAppConnection::Release -> 0");
    const auto serverGone = position("2 IAppServer::Release -> 0");
    if (road.out.find(Listing) != std::string::npos) {
        EXPECT_LT(connectionGone, serverGone) << "the server went before its connection";
    } else {
        EXPECT_EQ(connectionGone, std::ssize(calls)) << "a connection was made";
    }
    // MAPI is uninitialised exactly when it was initialised.
    EXPECT_EQ(runtime().counter("uninitCalls"), road.edit == Edit::None && road.hr == E_UNEXPECTED ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(EveryRaiseSite, FailureRoads71, ::testing::ValuesIn(Roads),
                         [](const ::testing::TestParamInfo<Road>& info) {
                             return std::string(info.param.name);
                         });
