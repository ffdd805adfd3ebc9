// External connections and the client watcher, with real child processes.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "CommonBase/DataStream.h"
#include "CommonBase/ExternalConnection.h"
#include "StreamTestSupport.h"
#include "winplat/windows.h"

extern char** environ;

namespace {

using Watcher = detail::ClientWatcher<1>;

// A child that sleeps until it is killed.
class Child {
  public:
    Child() {
        char sleepName[] = "sleep";
        char seconds[] = "120";
        char* argv[] = {sleepName, seconds, nullptr};
        EXPECT_EQ(posix_spawn(&pid_, "/bin/sleep", nullptr, nullptr, argv, environ), 0);
    }
    ~Child() {
        kill();
        waitpid(pid_, nullptr, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    void kill() { ::kill(pid_, SIGKILL); }
    DWORD pid() const { return static_cast<DWORD>(pid_); }

  private:
    pid_t pid_ = 0;
};

// Waits (at most ten seconds) for a condition another thread brings about.
bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 10000; ++i) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

IExternalConnection* connectionOf(IStream* stream) {
    IExternalConnection* connection = nullptr;
    EXPECT_EQ(stream->QueryInterface(IID_IExternalConnection, reinterpret_cast<void**>(&connection)), S_OK);
    return connection;
}

// A plain outer object that counts its references.
class Outer : public IUnknown {
  public:
    STDMETHOD(QueryInterface)(REFIID riid, void** out) override {
        if (IsEqualGUID(riid, IID_IUnknown)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }
    ULONG refs = 1;
};

class ClientWatcherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        watcher = Watcher::instance();
        ASSERT_NE(watcher, nullptr);
        ASSERT_TRUE(eventually([&] { return watcher->clientCount() == 0; }));
    }
    void TearDown() override {
        EXPECT_TRUE(eventually([&] { return watcher->clientCount() == 0; }));
    }
    Watcher* watcher = nullptr;
};

}  // namespace

TEST_F(ClientWatcherTest, StrongConnectionsAreCountedAndTheLastOneDisconnects) {
    StreamRef stream(memoryStream());
    IExternalConnection* connection = connectionOf(stream.get());
    size_t watched = watcher->watchedCount();
    uint64_t disconnects = winplat::com::disconnectCount(stream.get());

    EXPECT_EQ(connection->AddConnection(EXTCONN_WEAK, 0), 0u);
    EXPECT_EQ(watcher->watchedCount(), watched);
    EXPECT_EQ(connection->AddConnection(EXTCONN_STRONG, 0), 1u);
    EXPECT_EQ(watcher->watchedCount(), watched + 1);
    EXPECT_EQ(connection->AddConnection(EXTCONN_STRONG | EXTCONN_CALLABLE, 0), 2u);
    EXPECT_EQ(watcher->watchedCount(), watched + 1);

    EXPECT_EQ(connection->ReleaseConnection(EXTCONN_WEAK, 0, TRUE), 0u);
    EXPECT_EQ(connection->ReleaseConnection(EXTCONN_STRONG, 0, TRUE), 1u);
    EXPECT_EQ(winplat::com::disconnectCount(stream.get()), disconnects);
    EXPECT_EQ(connection->ReleaseConnection(EXTCONN_STRONG, 0, TRUE), 0u);
    EXPECT_EQ(winplat::com::disconnectCount(stream.get()), disconnects + 1);
    EXPECT_EQ(watcher->watchedCount(), watched);
    // Never below 0; without last-release-closes nothing is disconnected.
    EXPECT_EQ(connection->ReleaseConnection(EXTCONN_STRONG, 0, FALSE), 0u);
    EXPECT_EQ(winplat::com::disconnectCount(stream.get()), disconnects + 1);
    connection->Release();
    // The connection's faces hold the stream, not themselves.
    EXPECT_EQ(stream->AddRef(), 2u);
    stream->Release();
}

TEST_F(ClientWatcherTest, AggregationFaces) {
    IUnknown* inner = nullptr;
    EXPECT_EQ(CExternalConnection<1>::create(nullptr, &inner), E_FAIL);
    Outer outer;
    ASSERT_EQ(CExternalConnection<1>::create(&outer, &inner), S_OK);
    EXPECT_EQ(outer.refs, 1u);
    IExternalConnection* connection = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IExternalConnection, reinterpret_cast<void**>(&connection)), S_OK);
    EXPECT_EQ(outer.refs, 2u);  // outer-facing faces count on the outer object
    IClientManip* manip = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IClientManip, reinterpret_cast<void**>(&manip)), S_OK);
    EXPECT_EQ(outer.refs, 3u);
    IUnknown* viaFace = nullptr;
    EXPECT_EQ(connection->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaFace)), S_OK);
    EXPECT_EQ(viaFace, &outer);
    viaFace->Release();
    EXPECT_EQ(inner->QueryInterface(IID_IStream, reinterpret_cast<void**>(&viaFace)), E_NOINTERFACE);
    EXPECT_EQ(inner->QueryInterface(IID_IUnknown, nullptr), E_INVALIDARG);
    IUnknown* same = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&same)), S_OK);
    EXPECT_EQ(same, inner);
    EXPECT_EQ(same->Release(), 1u);  // the inner count
    manip->Release();
    connection->Release();
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(inner->Release(), 0u);
}

TEST_F(ClientWatcherTest, LastClientProcessEndingDisconnectsEveryStream) {
    Child first, second;
    StreamRef a(memoryStream()), b(memoryStream());
    for (IStream* stream : {a.get(), b.get()}) {
        IExternalConnection* connection = connectionOf(stream);
        connection->AddConnection(EXTCONN_STRONG, 0);
        connection->Release();
    }
    uint64_t total = winplat::com::disconnectTotal();
    // The record is kept by address, which an earlier stream may have had.
    uint64_t beforeA = winplat::com::disconnectCount(a.get());
    uint64_t beforeB = winplat::com::disconnectCount(b.get());
    EXPECT_EQ(detail::registerClientProcess(true, first.pid(), nullptr), S_OK);
    EXPECT_EQ(detail::registerClientProcess(true, second.pid(), nullptr), S_OK);
    EXPECT_EQ(watcher->clientCount(), 2u);

    // A handle for a process already watched is closed, not kept nor leaked.
    HANDLE extra = OpenProcess(SYNCHRONIZE, FALSE, first.pid());
    ASSERT_NE(extra, nullptr);
    EXPECT_EQ(detail::registerClientProcess(true, first.pid(), extra), S_FALSE);
    EXPECT_FALSE(CloseHandle(extra));
    EXPECT_EQ(watcher->clientCount(), 2u);

    first.kill();
    ASSERT_TRUE(eventually([&] { return watcher->clientCount() == 1; }));
    EXPECT_EQ(winplat::com::disconnectTotal(), total);

    second.kill();
    EXPECT_TRUE(winplat::com::waitForDisconnects(total + 2, 10000));
    EXPECT_EQ(winplat::com::disconnectCount(a.get()), beforeA + 1);
    EXPECT_EQ(winplat::com::disconnectCount(b.get()), beforeB + 1);
    // The watcher has let go of the streams again.
    EXPECT_TRUE(eventually([&] {
        ULONG count = a->AddRef();
        a->Release();
        return count == 2;
    }));
}

TEST_F(ClientWatcherTest, RegistrationFailures) {
    HRESULT hr = detail::registerClientProcess(true, 0x7FFFFFF0, nullptr);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(watcher->clientCount(), 0u);
    Child child;
    child.kill();
    waitpid(static_cast<pid_t>(child.pid()), nullptr, 0);
    EXPECT_TRUE(FAILED(detail::registerClientProcess(true, child.pid(), nullptr)));
    EXPECT_EQ(watcher->clientCount(), 0u);
}

TEST_F(ClientWatcherTest, BeyondTheWaitLimitRegistrationIsRefused) {
    std::vector<std::unique_ptr<Child>> children;
    for (size_t i = 0; i < kMaxWatchedClients + 1; ++i) {
        children.push_back(std::make_unique<Child>());
    }
    for (size_t i = 0; i < kMaxWatchedClients; ++i) {
        ASSERT_EQ(detail::registerClientProcess(true, children[i]->pid(), nullptr), S_OK) << i;
    }
    Child& last = *children.back();
    HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, last.pid());
    EXPECT_EQ(detail::registerClientProcess(true, last.pid(), handle), CLIENT_WATCHER_E_TOO_MANY_CLIENTS);
    EXPECT_FALSE(CloseHandle(handle));  // taken over and closed
    EXPECT_EQ(watcher->clientCount(), kMaxWatchedClients);

    // The watcher still works: an ended client makes room.
    children[0]->kill();
    ASSERT_TRUE(eventually([&] { return watcher->clientCount() == kMaxWatchedClients - 1; }));
    EXPECT_EQ(detail::registerClientProcess(true, last.pid(), nullptr), S_OK);
    children.clear();
}

// The last release of a stream racing the end of its last client: the
// watcher must neither revive nor destroy twice a stream that is going away.
TEST_F(ClientWatcherTest, FinalReleaseRacingTheLastClient) {
    for (int round = 0; round < 40; ++round) {
        Child child;
        IStream* stream = memoryStream();
        IExternalConnection* connection = connectionOf(stream);
        connection->AddConnection(EXTCONN_STRONG, 0);
        connection->Release();
        IStreamManager* manager = nullptr;
        stream->QueryInterface(IID_IStreamManager, reinterpret_cast<void**>(&manager));
        IStreamData* data = nullptr;
        manager->getStreamData(&data);
        manager->Release();
        ASSERT_EQ(detail::registerClientProcess(true, child.pid(), nullptr), S_OK);

        std::thread killer([&] { child.kill(); });
        if (round % 2) {
            std::this_thread::yield();
        }
        stream->Release();
        killer.join();
        ASSERT_TRUE(eventually([&] { return watcher->clientCount() == 0; }));
        // Every stream is gone: only the test still holds the back-end.
        ASSERT_TRUE(eventually([&] {
            ULONG count = data->AddRef();
            data->Release();
            return count == 2;
        }));
        data->Release();
    }
}

TEST_F(ClientWatcherTest, TheSecondWatcherIsSeparate) {
    Child child;
    auto* second = detail::ClientWatcher<0>::instance();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(static_cast<void*>(second), static_cast<void*>(watcher));
    EXPECT_EQ(detail::registerClientProcess(false, child.pid(), nullptr), S_OK);
    EXPECT_EQ(second->clientCount(), 1u);
    EXPECT_EQ(watcher->clientCount(), 0u);
    child.kill();
    EXPECT_TRUE(eventually([&] { return second->clientCount() == 0; }));
}

TEST_F(ClientWatcherTest, ClientManipSlots) {
    IUnknown* inner = nullptr;
    Outer outer;
    ASSERT_EQ(CExternalConnection<1>::create(&outer, &inner), S_OK);
    IClientManip* manip = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IClientManip, reinterpret_cast<void**>(&manip)), S_OK);
    void** table = *reinterpret_cast<void***>(manip);
    // Slot 3 registerClientProcess, slot 4 disconnect.
    auto registerSlot = reinterpret_cast<HRESULT (*)(void*, DWORD, HANDLE)>(table[3]);
    auto disconnectSlot = reinterpret_cast<HRESULT (*)(void*)>(table[4]);
    EXPECT_TRUE(FAILED(registerSlot(manip, 0x7FFFFFF0, nullptr)));
    uint64_t before = winplat::com::disconnectCount(&outer);
    EXPECT_EQ(disconnectSlot(manip), S_OK);
    EXPECT_EQ(winplat::com::disconnectCount(&outer), before + 1);
    manip->Release();
    inner->Release();
}

namespace {
// An outer object whose last reference is already gone.
class DyingOuter : public Outer, public IOuterLifetime {
  public:
    bool tryAddRef() override {
        ++asked;
        return false;
    }
    int asked = 0;
};
}  // namespace

TEST_F(ClientWatcherTest, AnObjectGoingAwayIsNotRevived) {
    DyingOuter dying;
    IUnknown* inner = nullptr;
    ASSERT_EQ(CExternalConnection<1>::create(&dying, &inner, &dying), S_OK);
    IExternalConnection* connection = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IExternalConnection, reinterpret_cast<void**>(&connection)), S_OK);
    connection->AddConnection(EXTCONN_STRONG, 0);
    connection->Release();
    StreamRef alive(memoryStream());
    IExternalConnection* aliveConnection = connectionOf(alive.get());
    aliveConnection->AddConnection(EXTCONN_STRONG, 0);
    aliveConnection->Release();

    Child child;
    uint64_t total = winplat::com::disconnectTotal();
    ASSERT_EQ(detail::registerClientProcess(true, child.pid(), nullptr), S_OK);
    ULONG refs = dying.refs;
    uint64_t dyingDisconnects = winplat::com::disconnectCount(&dying);
    child.kill();
    ASSERT_TRUE(winplat::com::waitForDisconnects(total + 1, 10000));
    EXPECT_EQ(dying.asked, 1);
    EXPECT_EQ(dying.refs, refs);  // no reference taken, none dropped
    EXPECT_EQ(winplat::com::disconnectCount(&dying), dyingDisconnects);
    EXPECT_EQ(inner->Release(), 0u);  // leaves the watcher as it goes
}
