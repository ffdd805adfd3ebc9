// Storeset_7_1 on a fresh 7.1 demo world: the whole transcript, the registry
// before and after, the slots the server was called at, and every resource
// given back, the connection before the server.
#include "World71.h"

using namespace demo71;

namespace {

std::string storeGuid(int n) {
    char text[48];
    std::snprintf(text, sizeof(text), "{0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C2%02X}", n);
    return text;
}

std::vector<std::string> storeCalls(int n, const char* result = "0x00000000") {
    return {"10 IAppConnection::OpenMapiProps " + storeGuid(n) + " 0",
            "10 IDbMapiProps::GetProps " + storeGuid(n) + " -> " + result};
}

class EndToEnd71 : public World71Test {};

}  // namespace

TEST_F(EndToEnd71, AdoptsThePrimaryAndPublicStoresAndMarksTheServerUnavailable) {
    Run r = run();
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.out, Head + "Handling of store #0\nAdjusting primary store\n" + Checks +
                         "Handling of store #1\nAdjusting public store\n" + Checks +
                         "Handling of store #2\nDelegated store, skipped\n"
                         "Handling of store #3\nUnknown store, skipped\n"
                         "Making server unavailable\n"
                         "\nok\n");
    EXPECT_EQ(r.err, "");

    expectDemoAdopted();

    // The slots, in order, and the configuration the server received.
    std::vector<std::string> expectedCalls = {
        "IClassFactory::CreateInstance -> 0x00000000", "13 IAppServer::RegisterClientProcess self 0",
        "3 IAppServer::OpenConnection database='C:\\ProgramData\\Connector\\Demo.db' profile='Demo' "
        "server='' "
        "user='' display='' autoConnect=1 email='' port=443 securePort=1 local=1 keepAlive=1 timeout=180 "
        "profileType=0 type=1",
        "11 IAppConnection::GetStoreIds"};
    for (int n = 1; n <= 4; ++n) {
        for (const std::string& call : storeCalls(n)) {
            expectedCalls.push_back(call);
        }
    }
    // The connection goes before the server that made it.
    expectedCalls.push_back("2 IAppConnection::Release -> 0");
    expectedCalls.push_back("2 IAppServer::Release -> 0");
    EXPECT_EQ(server().calls(), expectedCalls);
    EXPECT_EQ(proxyStub().calls(), std::vector<std::string>{"setAllocationFunctions"});
    // Narrow profile calls: AdminServices without MAPI_UNICODE.
    std::vector<std::string> mapiCalls = runtime().calls();
    ASSERT_GE(mapiCalls.size(), 3u);
    EXPECT_EQ(mapiCalls[0], "MAPIInitialize null");
    EXPECT_EQ(mapiCalls[1], "MAPIAdminProfiles 0x00000000");
    EXPECT_EQ(mapiCalls[2], "IProfAdmin::AdminServices Demo");
    EXPECT_EQ(mapiCalls.back(), "MAPIUninitialize");
    EXPECT_EQ(runtime().counter("initCalls"), 1);
    EXPECT_EQ(runtime().counter("uninitCalls"), 1);
}

TEST_F(EndToEnd71, ADatabaseWithoutStoresOnlyMarksTheServer) {
    rewriteDatabase("# no stores\n");
    Run r = run();
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.out, Head + "Making server unavailable\n\nok\n");
    world::ProfileSnapshot expected = before_;
    expectMarker(expected);
    expectProfile(expected);
    expectAllReleased();
}

// A byte-order mark before the first line, as Notepad saves the file, is
// nothing: the first store reads as it would without.
TEST_F(EndToEnd71, AByteOrderMarkAtTheStartOfTheDatabaseIsNothing) {
    rewriteDatabase("\xEF\xBB\xBF{0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C201} primary\n");
    Run r = run();
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.out, Head + "Handling of store #0\nAdjusting primary store\n" + Checks +
                         "Making server unavailable\n\nok\n");
    EXPECT_EQ(r.err, "");
    world::ProfileSnapshot expected = before_;
    expectAdopted(expected, PrimarySection, 1);
    expectMarker(expected);
    expectProfile(expected);
    expectAllReleased();
}

// A provider value that is missing (an error element) or shorter than a GUID
// is never read past its end: the store is unknown and nothing is written.
TEST_F(EndToEnd71, StoresWithoutAUsableProviderAreSkippedAsUnknown) {
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
                         Checks + "Making server unavailable\n\nok\n");
    world::ProfileSnapshot expected = before_;
    expectAdopted(expected, PrimarySection, 1);
    expectMarker(expected);
    expectProfile(expected);
    expectAllReleased();
    EXPECT_EQ(server().calls()[5], "10 IDbMapiProps::GetProps " + storeGuid(5) + " -> 0x00040380");
}

// A line the server cannot read is a database error that names the file and
// the line: nothing adopted, no marker, the registry file as it was.
TEST_F(EndToEnd71, ALineTheServerCannotReadIsADatabaseErrorNamingTheLine) {
    const std::string before = registryBytes();
    for (const BadDatabaseLine& row : badDatabaseLines()) {
        SCOPED_TRACE(row.database);
        rewriteDatabase(row.database);
        Run r = run();
        EXPECT_EQ(r.result, static_cast<HRESULT>(0x80041000u));
        EXPECT_EQ(r.out, Opening + Reading + Named + Connecting);
        EXPECT_EQ(r.err, row.complaint +
                             "\nError occurred: Exception of class HResultException: .\\DbAdopter(72), "
                             "DbAdopter::execute:\n0x80041000 MIRT_E_DATABASE\n");
        EXPECT_EQ(registryBytes(), before);
        expectAllReleased();
    }
}

// An empty database name, and a database that is absent, a folder, or a
// file whose reads fail, are the server's database error alike, the server
// saying the name is empty or naming the file and the reason: nothing
// adopted, no marker, and the registry file byte for byte as it was.
class UnreadableDatabase71 : public EndToEnd71, public ::testing::WithParamInterface<Unreadable> {};

TEST_P(UnreadableDatabase71, FailsWithTheDatabaseErrorAndChangesNothing) {
    makeUnreadable(GetParam());
    const std::string before = registryBytes();
    Run r = run();
    EXPECT_EQ(r.result, static_cast<HRESULT>(0x80041000u));
    EXPECT_EQ(r.out, Opening + Reading + namedDatabase(GetParam()) + Connecting);
    EXPECT_EQ(
        r.err,
        unreadableComplaint(GetParam()) +
            "\nError occurred: Exception of class HResultException: .\\DbAdopter(72), DbAdopter::execute:\n"
            "0x80041000 MIRT_E_DATABASE\n");
    EXPECT_EQ(registryBytes(), before);
    expectAllReleased();
}

INSTANTIATE_TEST_SUITE_P(EveryWay, UnreadableDatabase71, ::testing::ValuesIn(EveryUnreadable), rowName);
