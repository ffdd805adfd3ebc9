// Storeset run in-process against a fresh demo world: the whole transcript,
// the registry before and after, and the stand-ins' records.
#include "StandinWorld.h"

namespace {

const std::wstring ServiceSection = L"4c743e44ba2e8547ac48d3181fb5e9cc";
const std::wstring PrimarySection = L"1e2f3a4b5c6d7e8f9a0b1c2d3e4f5a6b";
const std::wstring PublicSection = L"2f3a4b5c6d7e8f9a0b1c2d3e4f5a6b7c";

const std::string StoreLines =
    "Searching profile section in registry\n"
    "Checking existence of PR_RECORD_KEY\n"
    "Checking existence of PR_STORE_RECORD_KEY\n"
    "Checking existence of PR_ENTRYID\n"
    "Setting new property values\n";

const std::string Head =
    "Opening MAPI profile 'Demo'\n"
    "Retrieving database name from MAPI profile\n"
    "Database name is 'C:\\ProgramData\\Connector\\Demo.db'\n"
    "Connecting to MirtBackend\n"
    "Retrieving list of stores\n";

class EndToEnd : public WorldTest {
  protected:
    void expectAdopted(world::ProfileSnapshot& expected, const std::wstring& section, int store) {
        expected[section][L"01020ff9"] = {REG_BINARY, storeBytes(store)};
        expected[section][L"01020ffa"] = {REG_BINARY, storeBytes(store)};
        expected[section][L"01020fff"] = {REG_BINARY, wrappedEntryId(storeBytes(store))};
    }
    void expectMarker(world::ProfileSnapshot& expected) {
        expected[ServiceSection][L"001e660c"] = {
            REG_BINARY, std::string("{B19C9E26-B196-42b9-B3D1-1AC0942D3000}") + '\0'};
    }
};

}  // namespace

TEST_F(EndToEnd, AdoptsThePrimaryAndPublicStoresAndMarksTheServerUnavailable) {
    Run r = run();
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.out, Head + "Handling of store #0\nAdjusting primary store\n" + StoreLines +
                         "Handling of store #1\nAdjusting public store\n" + StoreLines +
                         "Handling of store #2\nDelegated store, skipped\n"
                         "Handling of store #3\nUnknown store, skipped\n"
                         "Making server unavailable\n"
                         "\nok\n");
    EXPECT_EQ(r.err, "");

    world::ProfileSnapshot expected = before_;
    expectAdopted(expected, PrimarySection, 1);
    expectAdopted(expected, PublicSection, 2);
    expectMarker(expected);
    expectProfile(expected);
    expectAllReleased();

    // What the server was asked, in order, and with which configuration.
    std::vector<std::string> calls = server().calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0], "IClassFactory::CreateInstance -> 0x00000000");
    EXPECT_EQ(calls[1], "IAppServer::RegisterClientProcess self 0 1");
    EXPECT_EQ(
        calls[2],
        "IAppServer::OpenConnection database='C:\\ProgramData\\Connector\\Demo.db' profile='Demo' server='' "
        "user='' display='' autoConnect=1 email='' port=443 securePort=1 local=1 keepAlive=1 timeout=180 "
        "profileType=0 type=1 flags=0");
    EXPECT_EQ(proxyStub().calls(), std::vector<std::string>{"setAllocationFunctions"});
    EXPECT_EQ(runtime().counter("initCalls"), 1);
    EXPECT_EQ(runtime().counter("uninitCalls"), 1);
}

TEST_F(EndToEnd, ADatabaseWithoutStoresOnlyMarksTheServer) {
    rewriteDatabase("# no stores\n");
    Run r = run();
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.out, Head + "Making server unavailable\n\nok\n");
    world::ProfileSnapshot expected = before_;
    expectMarker(expected);
    expectProfile(expected);
    expectAllReleased();
}

// A store whose provider value is missing (an error element) or shorter than
// a GUID is one the adoption does not know: reported, skipped, nothing read
// past the value.
TEST_F(EndToEnd, StoresWithoutAUsableProviderAreSkippedAsUnknown) {
    rewriteDatabase(
        "{0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C205} noprovider\n"
        "{0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C206} shortprovider\n"
        "{0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C201} primary\n");
    Run r = run();
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.out, Head +
                         "Handling of store #0\nUnknown store, skipped\n"
                         "Handling of store #1\nUnknown store, skipped\n"
                         "Handling of store #2\nAdjusting primary store\n" +
                         StoreLines + "Making server unavailable\n\nok\n");
    world::ProfileSnapshot expected = before_;
    expectAdopted(expected, PrimarySection, 1);
    expectMarker(expected);
    expectProfile(expected);
    expectAllReleased();
}

// Two stores of one kind both land in the first section with that provider.
TEST_F(EndToEnd, TheFirstMatchingSectionIsRewrittenForEveryStoreOfItsKind) {
    rewriteDatabase(
        "{0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C201} primary\n"
        "{0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C207} primary\n");
    Run r = run();
    EXPECT_EQ(r.result, 0);
    world::ProfileSnapshot expected = before_;
    expectAdopted(expected, PrimarySection, 7);
    expectMarker(expected);
    expectProfile(expected);
    expectAllReleased();
}

TEST_F(EndToEnd, BothSwitchCharactersWork) {
    Run r = run({L"-p", L"Demo"});
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.out.substr(r.out.size() - 4), "\nok\n");
    expectAllReleased();
}

TEST_F(EndToEnd, UsageNeverTouchesMapi) {
    Run r = run({L"/?"});
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(runtime().counter("initCalls"), 0);
    expectProfile(before_);
}
