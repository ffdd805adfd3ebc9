// Every failure road of the adoption, driven by fault injection on a fresh
// demo world: the exact text on the right stream, the exact HRESULT, every
// object released, and the registry holding exactly what was written before
// the failure.
#include "StandinWorld.h"

namespace {

const std::string Opening = "Opening MAPI profile 'Demo'\n";
const std::string Reading = "Retrieving database name from MAPI profile\n";
const std::string Named = "Database name is 'C:\\ProgramData\\Connector\\Demo.db'\n";
const std::string Connecting = "Connecting to MirtBackend\n";
const std::string Listing = "Retrieving list of stores\n";
const std::string Checks =
    "Searching profile section in registry\n"
    "Checking existence of PR_RECORD_KEY\n"
    "Checking existence of PR_STORE_RECORD_KEY\n"
    "Checking existence of PR_ENTRYID\n"
    "Setting new property values\n";
const std::string FirstStore = "Handling of store #0\nAdjusting primary store\n" + Checks;

std::string error(const std::string& location, const std::string& code) {
    return "\nError occurred: Exception of class HResultException: " + location + ":\n" + code + "\n";
}
std::string adopterError(const char* function, const std::string& code) {
    return error(std::string("Storeset\\DbAdopter(N), ") + function, code);
}

class FailureRoads : public WorldTest {
  protected:
    void arm(const char* name, HRESULT code, int skip = 0) {
        winplat::inject::arm(name, static_cast<uint32_t>(code), 1, skip);
    }
    void expectFailure(const Run& r, HRESULT hr, const std::string& out, const std::string& err) {
        EXPECT_EQ(r.result, hr);
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(withoutLines(r.err), err);
        expectAllReleased();
    }
    // The primary section as the first store leaves it.
    world::ProfileSnapshot firstStoreAdopted() {
        world::ProfileSnapshot expected = before_;
        auto& primary = expected[PrimarySection];
        primary[L"01020ff9"] = {REG_BINARY, storeBytes(1)};
        primary[L"01020ffa"] = {REG_BINARY, storeBytes(1)};
        world::SectionValues now = world::snapshotProfile(Profile)[PrimarySection];
        primary[L"01020fff"] = now[L"01020fff"];  // the wrapped form is the end-to-end test's
        EXPECT_EQ(primary[L"01020fff"].second.size(), 60u);
        return expected;
    }
    void setValue(const std::wstring& section, const wchar_t* name, DWORD type, const std::string& bytes) {
        HKEY key = sectionKey(section);
        ASSERT_EQ(RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        before_ = world::snapshotProfile(Profile);
    }
    void deleteValue(const std::wstring& section, const wchar_t* name) {
        HKEY key = sectionKey(section);
        ASSERT_EQ(RegDeleteValueW(key, name), ERROR_SUCCESS);
        RegCloseKey(key);
        before_ = world::snapshotProfile(Profile);
    }
    HKEY sectionKey(const std::wstring& section) {
        std::wstring path = std::wstring(world::ProfilesKeyW) + L"\\Demo\\" + section;
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ | KEY_WRITE, &key),
                  ERROR_SUCCESS);
        return key;
    }
};

}  // namespace

// --- The adoption's own calls ---------------------------------------------

TEST_F(FailureRoads, MapiInitializeFailsAndNothingIsUninitialised) {
    arm("olmapi32!MAPIInitialize", E_UNEXPECTED);
    Run r = run();
    expectFailure(r, E_UNEXPECTED, "", adopterError("DbAdopter::execute", "0x8000ffff E_UNEXPECTED"));
    EXPECT_EQ(runtime().counter("uninitCalls"), 0);
    expectProfile(before_);
}

TEST_F(FailureRoads, MapiAdminProfilesFails) {
    arm("olmapi32!MAPIAdminProfiles", E_OUTOFMEMORY);
    Run r = run();
    expectFailure(r, E_OUTOFMEMORY, "", adopterError("DbAdopter::execute", "0x8007000e E_OUTOFMEMORY"));
    EXPECT_EQ(runtime().counter("uninitCalls"), 1);
    expectProfile(before_);
}

TEST_F(FailureRoads, AdminServicesFails) {
    arm("olmapi32!IProfAdmin::AdminServices", MAPI_E_NOT_FOUND);
    Run r = run();
    expectFailure(r, MAPI_E_NOT_FOUND, Opening,
                  adopterError("DbAdopter::execute", "0x8004010f MAPI_E_NOT_FOUND"));
    expectProfile(before_);
}

TEST_F(FailureRoads, OpenProfileSectionFails) {
    arm("olmapi32!IMsgServiceAdmin::OpenProfileSection", MAPI_E_NO_ACCESS);
    Run r = run();
    expectFailure(r, MAPI_E_NO_ACCESS, Opening + Reading,
                  adopterError("DbAdopter::execute", "0x80070005 E_ACCESSDENIED"));
    expectProfile(before_);
}

TEST_F(FailureRoads, CoCreateInstanceFails) {
    arm("CoCreateInstance", REGDB_E_CLASSNOTREG);
    Run r = run();
    expectFailure(r, REGDB_E_CLASSNOTREG, Opening + Reading + Named + Connecting,
                  adopterError("DbAdopter::execute", "0x80040154"));
    expectProfile(before_);
}

TEST_F(FailureRoads, RegisterClientProcessFails) {
    arm("Hollomar!IAppServer::RegisterClientProcess", E_ACCESSDENIED);
    Run r = run();
    expectFailure(r, E_ACCESSDENIED, Opening + Reading + Named + Connecting,
                  adopterError("DbAdopter::execute", "0x80070005 E_ACCESSDENIED"));
    expectProfile(before_);
}

TEST_F(FailureRoads, OpenConnectionFails) {
    arm("Hollomar!IAppServer::OpenConnection", static_cast<HRESULT>(0x80041000u));
    Run r = run();
    expectFailure(r, static_cast<HRESULT>(0x80041000u), Opening + Reading + Named + Connecting,
                  adopterError("DbAdopter::execute", "0x80041000 MIRT_E_DATABASE"));
    expectProfile(before_);
}

TEST_F(FailureRoads, GetStoreIdsFails) {
    arm("Hollomar!IAppConnection::GetStoreIds", E_OUTOFMEMORY);
    Run r = run();
    expectFailure(r, E_OUTOFMEMORY, Opening + Reading + Named + Connecting + Listing,
                  adopterError("DbAdopter::execute", "0x8007000e E_OUTOFMEMORY"));
    expectProfile(before_);
}

TEST_F(FailureRoads, OpenMsgStoreFailsOnTheSecondStoreAfterTheFirstWasAdopted) {
    arm("Hollomar!IAppConnection::OpenMsgStore", MAPI_E_NOT_FOUND, 1);
    Run r = run();
    expectFailure(r, MAPI_E_NOT_FOUND,
                  Opening + Reading + Named + Connecting + Listing + FirstStore + "Handling of store #1\n",
                  adopterError("DbAdopter::adoptOneStore", "0x8004010f MAPI_E_NOT_FOUND"));
    expectProfile(firstStoreAdopted());
}

TEST_F(FailureRoads, GetPropsFailsOnTheSecondStore) {
    arm("Hollomar!IDbMapiProps::GetProps", E_FAIL, 1);
    Run r = run();
    expectFailure(r, E_FAIL,
                  Opening + Reading + Named + Connecting + Listing + FirstStore + "Handling of store #1\n",
                  adopterError("DbAdopter::adoptOneStore", "0x80004005 E_FAIL"));
    expectProfile(firstStoreAdopted());
}

TEST_F(FailureRoads, WrapStoreEntryIdFailsBeforeAnyWrite) {
    arm("olmapi32!WrapStoreEntryID", MAPI_E_UNKNOWN_FLAGS);
    Run r = run();
    expectFailure(r, MAPI_E_UNKNOWN_FLAGS,
                  Opening + Reading + Named + Connecting + Listing +
                      "Handling of store #0\nAdjusting primary store\n" + Checks,
                  adopterError("DbAdopter::adjustProfileSection", "0x80040106 MAPI_E_UNKNOWN_FLAGS"));
    expectProfile(before_);
}

TEST_F(FailureRoads, HrSetOnePropFailsAfterEveryStoreWasHandled) {
    arm("olmapi32!HrSetOneProp", MAPI_E_NO_ACCESS);
    Run r = run();
    EXPECT_EQ(r.result, MAPI_E_NO_ACCESS);
    EXPECT_EQ(r.out.substr(r.out.size() - 26), "Making server unavailable\n");
    EXPECT_EQ(withoutLines(r.err),
              adopterError("DbAdopter::makeServerUnavailable", "0x80070005 E_ACCESSDENIED"));
    world::ProfileSnapshot now = world::snapshotProfile(Profile);
    EXPECT_EQ(now[ServiceSection], before_[ServiceSection]);
    EXPECT_NE(now[PrimarySection][L"01020ff9"], before_[PrimarySection][L"01020ff9"]);
    expectAllReleased();
}

// --- Failures of the other parts, with their own texts ---------------------

TEST_F(FailureRoads, AProfileThatDoesNotExistFailsTheAccessCheck) {
    Run r = run({L"/p", L"Nobody"});
    expectFailure(
        r, E_ACCESSDENIED,
        "Insufficient permissions to 'HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows "
        "Messaging Subsystem\\Profiles\\Nobody'\nREAD / WRITE access requested\n",
        error("Storeset\\RegistryHelper(N), RegistryHelper::checkRights", "0x80070005 E_ACCESSDENIED"));
    EXPECT_EQ(runtime().counter("uninitCalls"), 1);
    for (const std::string& call : runtime().calls()) {
        EXPECT_EQ(call.find("MAPIAdminProfiles"), std::string::npos);
    }
    expectProfile(before_);
}

TEST_F(FailureRoads, AProfileKeyWithoutWriteAccessFailsTheAccessCheck) {
    winplat::registry::denyWrite(HKEY_CURRENT_USER, std::wstring(world::ProfilesKeyW) + L"\\Demo");
    Run r = run();
    winplat::registry::clearDeniedKeys();
    expectFailure(
        r, E_ACCESSDENIED,
        "Insufficient permissions to 'HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows "
        "Messaging Subsystem\\Profiles\\Demo'\nREAD / WRITE access requested\n",
        error("Storeset\\RegistryHelper(N), RegistryHelper::checkRights", "0x80070005 E_ACCESSDENIED"));
    expectProfile(before_);
}

TEST_F(FailureRoads, AMissingDatabaseNameRaisesTheMissingPropertysCode) {
    deleteValue(ServiceSection, L"001f6708");
    Run r = run();
    expectFailure(r, MAPI_E_NOT_FOUND, Opening + Reading,
                  error("Utilities\\MapiHelper(N), Utilities::MapiHelper::getOneProp",
                        "0x8004010f MAPI_E_NOT_FOUND: Requested property: 0x6708001f"));
    expectProfile(before_);
}

TEST_F(FailureRoads, NoSectionForTheStoresProvider) {
    // The primary section's provider changes to a text; only the text-valued
    // decoy and other kinds remain.
    setValue(PrimarySection, L"01023414", REG_SZ, std::string("x\0\0\0", 4));
    Run r = run();
    expectFailure(r, static_cast<HRESULT>(0x80070103u),
                  Opening + Reading + Named + Connecting + Listing +
                      "Handling of store #0\nAdjusting primary store\nSearching profile section in registry\n"
                      "Profile section not found\n",
                  error("Storeset\\RegistryHelper(N), RegistryHelper::searchKeyByMdbProvider", "0x80070103"));
    expectProfile(before_);
}

TEST_F(FailureRoads, AMissingStoreRecordKeyStopsBeforeAnyWrite) {
    deleteValue(PrimarySection, L"01020ffa");
    Run r = run();
    expectFailure(r, static_cast<HRESULT>(0x80070002u),
                  Opening + Reading + Named + Connecting + Listing +
                      "Handling of store #0\nAdjusting primary store\nSearching profile section in registry\n"
                      "Checking existence of PR_RECORD_KEY\nChecking existence of PR_STORE_RECORD_KEY\n",
                  error("Storeset\\RegistryHelper(N), RegistryHelper::checkPropertyExists",
                        "0x80070002 ERROR_FILE_NOT_FOUND"));
    expectProfile(before_);
}

TEST_F(FailureRoads, AnEntryIdThatIsNotBinaryIsRefused) {
    setValue(PrimarySection, L"01020fff", REG_SZ, std::string("a\0\0\0", 4));
    Run r = run();
    expectFailure(r, static_cast<HRESULT>(0x8007000Du),
                  Opening + Reading + Named + Connecting + Listing +
                      "Handling of store #0\nAdjusting primary store\n" +
                      Checks.substr(0, Checks.find("Setting")),
                  error("Storeset\\RegistryHelper(N), RegistryHelper::checkPropertyExists", "0x8007000d"));
    expectProfile(before_);
}

TEST_F(FailureRoads, AFailedWriteKeepsTheValuesWrittenBeforeIt) {
    winplat::inject::arm("RegSetValueExW", ERROR_WRITE_FAULT, 1, 1);
    Run r = run();
    expectFailure(r, static_cast<HRESULT>(0x8007001Du),
                  Opening + Reading + Named + Connecting + Listing + FirstStore,
                  error("Storeset\\RegistryHelper(N), RegistryHelper::setPropertyValue", "0x8007001d"));
    world::ProfileSnapshot expected = before_;
    expected[PrimarySection][L"01020ff9"] = {REG_BINARY, storeBytes(1)};
    expectProfile(expected);
}

TEST_F(FailureRoads, TheProxyStubRefusingTheRoutinesStopsTheRun) {
    arm("HollomarPS!setAllocationFunctions", E_INVALIDARG);
    Run r = run();
    expectFailure(r, E_INVALIDARG, Opening + Reading + Named + Connecting,
                  error("Utilities\\Support(N), Utilities::Support::setAllocationFunctions",
                        "0x80070057 E_INVALIDARG"));
    expectProfile(before_);
}

// A narrow text thrown through the adoption is a failure all the same.
TEST_F(FailureRoads, ANarrowTextThrownEndsWithEFail) {
    arm("Hollomar!IAppServer::RegisterClientProcess#throw", E_FAIL);
    Run r = run();
    expectFailure(r, E_FAIL, Opening + Reading + Named + Connecting,
                  "\nError occurred: backend server raised a narrow text\n");
    expectProfile(before_);
}
