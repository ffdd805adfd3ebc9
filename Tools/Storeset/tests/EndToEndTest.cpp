// Storeset run against a fresh demo world, in-process and as the real
// program: the whole transcript, the registry before and after, and the
// stand-ins' records.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "StandinWorld.h"
#include "platform/tests/needs_root.h"

namespace {

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

// The whole transcript of a run on the demo world; `profile` and `database`
// as the console shows them (UTF-8).
std::string demoTranscript(const std::string& profile = "Demo",
                           const std::string& database = "C:\\ProgramData\\Connector\\Demo.db") {
    return "Opening MAPI profile '" + profile +
           "'\n"
           "Retrieving database name from MAPI profile\n"
           "Database name is '" +
           database +
           "'\n"
           "Connecting to MirtBackend\n"
           "Retrieving list of stores\n"
           "Handling of store #0\nAdjusting primary store\n" +
           StoreLines + "Handling of store #1\nAdjusting public store\n" + StoreLines +
           "Handling of store #2\nDelegated store, skipped\n"
           "Handling of store #3\nUnknown store, skipped\n"
           "Making server unavailable\n"
           "\nok\n";
}

// What the real program did: its two streams apart and its exit status.
struct Process {
    std::string out;
    std::string err;
    int status = -1;
};

std::string drain(int fd) {
    std::string bytes;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        bytes.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return bytes;
}

// Runs the Storeset program with `arguments` in this process's environment
// (which names the world), as the user `as` unless that is 0. Its output is
// small: the pipes never fill.
Process runProgram(std::vector<std::string> arguments, uid_t as = 0) {
    arguments.insert(arguments.begin(), STORESET_BINARY);
    std::vector<char*> argv;
    for (auto& a : arguments) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    int out[2];
    int err[2];
    Process p;
    if (pipe(out) != 0 || pipe(err) != 0) {
        return p;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // Only calls that are safe between fork and exec.
        if ((as != 0 && (setgroups(0, nullptr) != 0 || setgid(as) != 0 || setuid(as) != 0)) ||
            dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) {
            _exit(127);
        }
        for (int fd : {out[0], out[1], err[0], err[1]}) {
            close(fd);
        }
        execve(argv[0], argv.data(), environ);
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    p.out = drain(out[0]);
    p.err = drain(err[0]);
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        p.status = WEXITSTATUS(status);
    }
    return p;
}

class EndToEnd : public WorldTest {
  protected:
    // The demo's run as it should end: its transcript and nothing on the
    // error stream, the primary and public stores adopted, the server
    // marked unavailable, everything released.
    void expectTheDemoRun(const Run& r) {
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.out, demoTranscript());
        EXPECT_EQ(r.err, "");
        expectDemoAdopted();
    }

    // The demo world again, its profile named `profile` (UTF-8) and its
    // connector section naming the database `database`.
    void layOutRenamed(const std::string& profile, const std::wstring& database) {
        std::string text = world::readFile(std::string(STORESET_SOURCE_DIR) + "/demo/Demo.reg");
        const std::string from = "\\Profiles\\Demo";
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 1)) {
            text.replace(at, from.size(), "\\Profiles\\" + profile);
        }
        const size_t value = text.find("\"001f6708\"=");
        ASSERT_NE(value, std::string::npos);
        const size_t end = text.find('\n', value);
        text.replace(value, end - value,
                     "\"001f6708\"=" + world::regHex(winplat::wideToBytes(database + L'\0')));
        world_ = world::layOut(root_, text, profile,
                               world::readFile(std::string(STORESET_SOURCE_DIR) + "/demo/Demo.db"),
                               world::standinFolder());
    }
};

}  // namespace

TEST_F(EndToEnd, AdoptsThePrimaryAndPublicStoresAndMarksTheServerUnavailable) {
    expectTheDemoRun(run());

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
    // The runtime's record, in order: the profile section is asked for with
    // the property interface's ID, {00020303-...}, writable.
    EXPECT_EQ(
        runtime().calls(),
        (std::vector<std::string>{
            "MAPIInitialize null", "MAPIAdminProfiles 0x00000000", "IProfAdmin::AdminServices Demo unicode",
            "IMsgServiceAdmin::OpenProfileSection " + std::string(world::ServiceSection) +
                " {00020303-0000-0000-C000-000000000046} modify",
            "IProfSect::GetProps 0x6708001f -> 0x00000000", "WrapStoreEntryID ZAVUZU.DLL 24",
            "WrapStoreEntryID ZAVUZU.DLL 24", "IProfSect::SetProps 0x660c001e -> 0x00000000",
            "HrSetOneProp 0x660c001e -> 0x00000000", "MAPIUninitialize"}));
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

// A database saved with a UTF-8 byte-order mark, as Notepad saves it, reads
// as it would without, whatever its first line.
TEST_F(EndToEnd, AByteOrderMarkAtTheStartOfTheDatabaseIsNothing) {
    const std::string demo = world::readFile(std::string(STORESET_SOURCE_DIR) + "/demo/Demo.db");
    for (const std::string& lines : {demo, demo.substr(demo.find('\n') + 1)}) {
        SCOPED_TRACE(lines.substr(0, lines.find('\n')));
        world_ = world::layOutDemo(root_, STORESET_SOURCE_DIR, world::standinFolder());
        rewriteDatabase("\xEF\xBB\xBF" + lines);
        expectTheDemoRun(run());
    }
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
    EXPECT_EQ(r.out, demoTranscript());
    EXPECT_EQ(r.err, "");
    expectAllReleased();
}

TEST_F(EndToEnd, UsageNeverTouchesMapi) {
    Run r = run({L"/?"});
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(runtime().counter("initCalls"), 0);
    expectProfile(before_);
}

// A name outside ASCII looks the same on the wide line and on the narrow
// lines (ANSI code page text), and reaches MAPI and the server unchanged.
TEST_F(EndToEnd, ANonAsciiProfileShowsTheSameOnEveryLine) {
    layOutRenamed("Caf\xC3\xA9", L"C:\\ProgramData\\Connector\\Caf\x00E9.db");
    const world::ProfileSnapshot before = world::snapshotProfile("Caf\xC3\xA9");
    Run r = run({L"/p", L"Caf\x00E9"});
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.out, demoTranscript("Caf\xC3\xA9", "C:\\ProgramData\\Connector\\Caf\xC3\xA9.db"));
    EXPECT_EQ(r.err, "");
    EXPECT_NE(world::snapshotProfile("Caf\xC3\xA9"), before);
    std::vector<std::string> calls = server().calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(
        calls[2],
        "IAppServer::OpenConnection database='C:\\ProgramData\\Connector\\Caf\xC3\xA9.db' "
        "profile='Caf\xC3\xA9' server='' user='' display='' autoConnect=1 email='' port=443 securePort=1 "
        "local=1 keepAlive=1 timeout=180 profileType=0 type=1 flags=0");
    expectAllReleased();
}

// The real program, out of process: what it prints on each stream, its exit
// status, and the registry file it leaves, byte for byte the file an
// in-process run on the same world leaves.
TEST_F(EndToEnd, TheProgramPrintsTheTranscriptAndWritesWhatTheRunInProcessWrites) {
    const std::string before = registryBytes();
    Process p = runProgram({"/p", "Demo"});
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.out, demoTranscript());
    EXPECT_EQ(p.err, "");
    const std::string after = registryBytes();
    EXPECT_NE(after, before);

    world_ = world::layOutDemo(root_, STORESET_SOURCE_DIR, world::standinFolder());
    ASSERT_EQ(registryBytes(), before);
    Run r = run();
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(registryBytes(), after);
}

// A profile the registry does not hold: the program says so on its output,
// the error on its error stream, exits with the HRESULT's low byte and
// leaves the registry file as it was.
TEST_F(EndToEnd, TheProgramFailsOnAnUnknownProfileWithItsOwnStatus) {
    const std::string before = registryBytes();
    Process p = runProgram({"/p", "Caf\xC3\xA9"});
    EXPECT_EQ(p.status, 5);  // E_ACCESSDENIED, 0x80070005
    EXPECT_EQ(p.out,
              "Insufficient permissions to 'HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows "
              "Messaging Subsystem\\Profiles\\Caf\xC3\xA9'\nREAD / WRITE access requested\n");
    EXPECT_EQ(withoutLines(p.err),
              "\nError occurred: Exception of class HResultException: Storeset\\RegistryHelper(N), "
              "RegistryHelper::checkRights:\n0x80070005 E_ACCESSDENIED\n");
    EXPECT_EQ(registryBytes(), before);
}

// A line the server cannot read is a database error that names the file and
// the line, whatever the lines before it: nothing adopted, no marker, the
// registry file byte for byte as it was.
TEST_F(EndToEnd, ALineTheServerCannotReadIsADatabaseErrorNamingTheLine) {
    const std::string before = registryBytes();
    for (const BadDatabaseLine& row : badDatabaseLines()) {
        SCOPED_TRACE(row.database);
        rewriteDatabase(row.database);
        Run r = run();
        EXPECT_EQ(r.result, static_cast<HRESULT>(0x80041000u));
        EXPECT_EQ(r.out, Head.substr(0, Head.find("Retrieving list")));
        EXPECT_EQ(withoutLines(r.err),
                  row.complaint +
                      "\nError occurred: Exception of class HResultException: Storeset\\DbAdopter(N), "
                      "DbAdopter::execute:\n0x80041000 MIRT_E_DATABASE\n");
        EXPECT_EQ(registryBytes(), before);
        expectAllReleased();
    }
    // The real program says it on its error stream and exits with 1.
    rewriteDatabase(badDatabaseLines()[0].database);
    Process p = runProgram({"/p", "Demo"});
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.out, Head.substr(0, Head.find("Retrieving list")));
    EXPECT_EQ(withoutLines(p.err),
              badDatabaseLines()[0].complaint +
                  "\nError occurred: Exception of class HResultException: "
                  "Storeset\\DbAdopter(N), DbAdopter::execute:\n0x80041000 MIRT_E_DATABASE\n");
    EXPECT_EQ(registryBytes(), before);
}

// A registry file its owner made read-only, in a folder the owner may
// write: the program, run as that owner, is refused its first write with
// access denied and leaves the registry as it was.
TEST_F(EndToEnd, TheProgramIsRefusedARegistryItsOwnerMadeReadOnly) {
    NEEDS_ROOT(needsroot::kFileAndProcess);
    constexpr uid_t kOwner = 65534;  // a user other than the test's (root)
    const std::string before = registryBytes();
    const std::string journal = world_.registryFile + ".journal";
    for (const std::string& f : {root_, world_.registryFile, world_.registryFile + ".lock", journal}) {
        ASSERT_EQ(chown(f.c_str(), kOwner, kOwner), 0) << f;
    }
    ASSERT_EQ(chmod(world_.registryFile.c_str(), 0444), 0);
    const std::string journalBefore = world::readFile(journal);
    Process p = runProgram({"/p", "Demo"}, kOwner);
    EXPECT_EQ(p.status, 5);  // E_ACCESSDENIED, 0x80070005
    EXPECT_EQ(p.out, Head + "Handling of store #0\nAdjusting primary store\n" + StoreLines);
    EXPECT_EQ(withoutLines(p.err),
              "\nError occurred: Exception of class HResultException: Storeset\\RegistryHelper(N), "
              "RegistryHelper::setPropertyValue:\n0x80070005 E_ACCESSDENIED\n");
    EXPECT_EQ(world::readFile(world_.registryFile), before);
    EXPECT_EQ(world::readFile(journal), journalBefore);
}

// An empty database name, and a database that is absent, a folder, or a
// file whose reads fail, are the server's database error alike, the server
// saying the name is empty or naming the file and the reason: nothing
// adopted, no marker, the registry file byte for byte as it was, and the
// program exits with 1 (the error's low byte is 0).
class UnreadableDatabase : public EndToEnd, public ::testing::WithParamInterface<Unreadable> {};

TEST_P(UnreadableDatabase, FailsWithTheDatabaseErrorAndChangesNothing) {
    makeUnreadable(GetParam());
    const std::string before = registryBytes();
    const std::string err = unreadableComplaint(GetParam()) +
                            "\nError occurred: Exception of class HResultException: Storeset\\DbAdopter(N), "
                            "DbAdopter::execute:\n0x80041000 MIRT_E_DATABASE\n";
    Run r = run();
    EXPECT_EQ(r.result, static_cast<HRESULT>(0x80041000u));
    EXPECT_EQ(r.out, "Opening MAPI profile 'Demo'\nRetrieving database name from MAPI profile\n" +
                         namedDatabase(GetParam()) + "Connecting to MirtBackend\n");
    EXPECT_EQ(withoutLines(r.err), err);
    EXPECT_EQ(registryBytes(), before);
    expectAllReleased();

    Process p = runProgram({"/p", "Demo"});
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.out, r.out);
    EXPECT_EQ(withoutLines(p.err), err);
    EXPECT_EQ(registryBytes(), before);
}

INSTANTIATE_TEST_SUITE_P(EveryWay, UnreadableDatabase, ::testing::ValuesIn(EveryUnreadable), rowName);
