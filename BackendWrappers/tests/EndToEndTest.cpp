// The wrappers over the stand-in backend server of the build, created by COM
// activation in a demo world: every call reaches the server in a
// single-threaded apartment, on a calling thread or, for direct wrappers, on
// the caller's own; afterwards the server holds no live object, and where the
// call layer goes with its last holder, kernel handles and threads are back
// where they were too.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "EndToEndBuild.h"
#include "Fakes.h"
#include "Threads/Thread.h"
#include "Watchdog.h"
#include "demo/World.h"
#include "platform/tests/test_folder.h"
#include "standins/common/StandinProbe.h"
#include "winplat/com.h"
#include "winplat/kernel.h"
#include "winplat/modules.h"
#include "winplat/oleauto.h"

namespace {

using namespace BackendWrappers;

// MAPI-style memory for the server's replies: a block and the blocks linked to it.
std::mutex blocksMutex;
std::map<void*, std::vector<void*>> blocks;

SCODE STDMETHODCALLTYPE allocate(ULONG cb, LPVOID* out) {
    std::lock_guard<std::mutex> lock(blocksMutex);
    *out = std::calloc(1, cb ? cb : 1);
    blocks[*out];
    return S_OK;
}
SCODE STDMETHODCALLTYPE allocateMore(ULONG cb, LPVOID parent, LPVOID* out) {
    std::lock_guard<std::mutex> lock(blocksMutex);
    *out = std::calloc(1, cb ? cb : 1);
    blocks[parent].push_back(*out);
    return S_OK;
}
ULONG STDMETHODCALLTYPE freeBuffer(LPVOID block) {
    std::lock_guard<std::mutex> lock(blocksMutex);
    auto it = blocks.find(block);
    if (it != blocks.end()) {
        for (void* child : it->second) {
            std::free(child);
        }
        blocks.erase(it);
        std::free(block);
    }
    return 0;
}

size_t threadCount() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        ++n;
    }
    return n;
}

class EndToEnd : public ::testing::TestWithParam<bool> {};

TEST_P(EndToEnd, WrappedServerListsAndReadsTheDemoStores) {
    Watchdog watchdog(60);
    const bool direct = GetParam();
    namespace fs = std::filesystem;
    // One root per process, as the modules loaded from it stay loaded.
    static const std::string root = testfolder::fresh("backendwrappers-");
    // Gone however the test ends; the next test of the process lays it out again.
    struct Removed {
        ~Removed() { testfolder::removeAll(root); }
    } removed;
    endToEnd::layOutWorld(root);
    const std::string database = root + "/stores.db";
    world::writeFile(database, world::readFile(std::string(STORESET_SOURCE_DIR) + "/demo/Demo.db"));
    const size_t threadsBefore = threadCount();
    const size_t handlesBefore = winplat::kernel::openHandleCount();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    {
        IAppServer* raw = nullptr;
        ASSERT_EQ(CoCreateInstance(BackendAppServerClsid, nullptr, 0x17, IID_IAppServer,
                                   reinterpret_cast<void**>(&raw)),
                  S_OK);
        Standin backend(L"Hollomar.dll");
        ASSERT_TRUE(backend.loaded());
        backend.reset();
        auto setRoutines =
            reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(LPALLOCATEBUFFER, LPALLOCATEMORE, LPFREEBUFFER)>(
                reinterpret_cast<void (*)()>(
                    GetProcAddress(GetModuleHandleW(L"HollomarPS"), "setAllocationFunctions")));
        ASSERT_NE(setRoutines, nullptr);
        ASSERT_EQ(setRoutines(allocate, allocateMore, freeBuffer), S_OK);
        void* out = nullptr;
        ASSERT_EQ(CreateWrapper(IID_IAppServer, &out, raw, direct, OutOfThreadCaller::instance()), S_OK);
        auto* server = static_cast<IAppServer*>(out);
        ASSERT_NE(static_cast<void*>(server), static_cast<void*>(raw));

        EXPECT_EQ(endToEnd::registerClient(server), S_OK);
        std::wstring name(database.begin(), database.end());
        _ServerConfiguration config{};
        config.databaseName = SysAllocString(name.c_str());
        IAppConnection* connection = nullptr;
        ASSERT_EQ(endToEnd::openConnection(server, &config, &connection), S_OK);
        SysFreeString(config.databaseName);
        ULONG count = 0;
        GUID* ids = nullptr;
        ASSERT_EQ(connection->GetStoreIds(&count, &ids), S_OK);
        ASSERT_EQ(count, 4u);
        std::set<uint32_t> providers;
        for (ULONG i = 0; i < count; ++i) {
            endToEnd::Store* store = nullptr;
            ASSERT_EQ(endToEnd::openStore(connection, ids[i], &store), S_OK);
            struct {
                ULONG cValues;
                ULONG tag;
            } tags{1, 0x34140102};
            _SPropValueArray* values = nullptr;
            ASSERT_EQ(store->GetProps(reinterpret_cast<_SPropTagArray*>(&tags), &values), S_OK);
            ASSERT_EQ(values->cValues, 1u);
            ASSERT_EQ(values->lpProps[0].Value.bin.cb, sizeof(GUID));
            providers.insert(*reinterpret_cast<uint32_t*>(values->lpProps[0].Value.bin.lpb));
            freeBuffer(values->lpProps);
            freeBuffer(values);
            store->Release();
        }
        EXPECT_EQ(providers.size(), 4u);  // primary, public, delegate and a foreign provider
        freeBuffer(ids);
        // 1 registration, 1 connection, 1 list, 4 opens, 4 reads.
        EXPECT_EQ(backend.counter("callsInSta"), 11);
        EXPECT_EQ(backend.counter(("callsOnThread:" + std::to_string(GetCurrentThreadId())).c_str()),
                  direct ? 11 : 0);
        connection->Release();
        server->Release();
        EXPECT_EQ(backend.counter("liveObjects"), 0);
    }
    EXPECT_TRUE(blocks.empty());
    CoUninitialize();
    if constexpr (build::InstanceLivesUntilExit) {
        return;  // the call layer and its threads stay until the process ends
    }
    // The call layer went with its last holder, and its threads with it (the
    // system may take a moment to take an ended thread off its list).
    for (int i = 0; i < 500 && threadCount() != threadsBefore; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(threadCount(), threadsBefore);
    EXPECT_EQ(winplat::kernel::openHandleCount(), handlesBefore);
}

INSTANTIATE_TEST_SUITE_P(Modes, EndToEnd, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Direct" : "OnCallingThreads"; });

// A wrapper's last Release run by the server during a call on a calling
// thread, when it held the last reference on the call layer: the pool would
// wait for its own thread. The misuse trap ends the process with its message,
// from a thread of its own, and never hangs.
TEST(EndToEndDeathTest, LastHolderLetGoOnACallingThreadEndsWithTheMisuseMessage) {
    if constexpr (build::InstanceLivesUntilExit) {
        GTEST_SKIP() << "the call layer lives until the process ends: no holder takes it down";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            setThreadMisuseRunner([](ThreadMisuseAction action) {
                std::fprintf(stderr, "misuse handed to the crasher thread\n");
                runInCrasherThread(action);
            });
            IUnknown* wrapper = nullptr;
            createTypedWrapper<UnknownWrapper>(new fakes::Counted<>, &wrapper, false,
                                               OutOfThreadCaller::instance());
            auto caller = OutOfThreadCaller::instance();
            OutOfThreadCaller* layer = caller.get();
            caller.reset();
            layer->call(false, [wrapper] {
                wrapper->Release();
                return S_OK;
            });
        },
        "misuse handed to the crasher thread\n(.|\n)*Thread misuse: waitFor or shutDown called on the thread "
        "itself");
}

}  // namespace
