// The logger against the 7.1 stand-in server of a fresh world: the server's
// signal reaches the notification thread, which moves the logger's counter,
// and the next question reads the new masks.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <chrono>
#include <thread>

#include "Backend/v71/Backend.h"
#include "Tools/Storeset_7_1/Logger/Logger.h"
#include "Tools/Storeset_7_1/Logger/LoggerNotifier.h"
#include "demo/WorldTest.h"
#include "winplat/modules.h"

namespace {

template <class Fn>
Fn serverHook(const char* name) {
    HMODULE m = GetModuleHandleW(L"Hollomar.dll");
    return m ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(m, name))) : nullptr;
}

std::vector<std::string> callsStarting(const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& call : server().calls()) {
        if (call.rfind(prefix, 0) == 0) {
            out.push_back(call);
        }
    }
    return out;
}

class LoggerOnTheServer : public StandinWorldTest {
  protected:
    LoggerOnTheServer() : StandinWorldTest(world::Build::v71) {}

    void SetUp() override {
        StandinWorldTest::SetUp();
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        comEntered_ = true;
        ASSERT_EQ(CoCreateInstance(BackendAppServerClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IAppServer,
                                   reinterpret_cast<void**>(&server_)),
                  S_OK);
        ASSERT_EQ(server_->GetLog(&log_), S_OK);
        setMasks_ = serverHook<void (*)(ULONG, ULONG)>("standinSetLogMasks");
        signal_ = serverHook<int (*)()>("standinSignalLogWatches");
        ASSERT_TRUE(setMasks_ && signal_);
    }
    void TearDown() override {
        leave();
        StandinWorldTest::TearDown();
    }
    void leave() {
        if (log_) {
            log_->Release();
            log_ = nullptr;
        }
        if (server_) {
            server_->Release();
            server_ = nullptr;
        }
        if (comEntered_) {
            CoUninitialize();
            comEntered_ = false;
        }
    }

    bool comEntered_ = false;
    IAppServer* server_ = nullptr;
    ILog* log_ = nullptr;
    void (*setMasks_)(ULONG, ULONG) = nullptr;
    int (*signal_)() = nullptr;
};

}  // namespace

TEST_F(LoggerOnTheServer, FollowsTheServersConfigurationAndEndsItsWatch) {
    setMasks_(0, 0x4);
    {
        auto notifier = boost::make_shared<LoggerNotifier>();
        Logger logger(log_, notifier);
        EXPECT_EQ(server().counter("liveWatches"), 1);
        EXPECT_TRUE(logger.isEnabled(0, 0x4));
        setMasks_(0, 0x8);
        EXPECT_TRUE(logger.isEnabled(0, 0x4));
        EXPECT_EQ(callsStarting("6 ILogManager::GetMasks ").size(), 1u);

        EXPECT_EQ(signal_(), 1);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!logger.isEnabled(0, 0x8) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_TRUE(logger.isEnabled(0, 0x8));
        EXPECT_FALSE(logger.isEnabled(0, 0x4));
        EXPECT_EQ(callsStarting("6 ILogManager::GetMasks "),
                  (std::vector<std::string>{"6 ILogManager::GetMasks 0x00000000 0x00000004",
                                            "6 ILogManager::GetMasks 0x00000000 0x00000008"}));
        EXPECT_EQ(logger.logHResult(static_cast<_LogSeverity>(1), static_cast<_LogFacility>(3), nullptr, 0,
                                    nullptr, L"über", S_OK),
                  S_OK);
    }
    // The watch ended with the cookie it began with.
    const std::vector<std::string> begun = callsStarting("7 ILogManager::Slot7 ");
    ASSERT_EQ(begun.size(), 1u);
    const std::string cookie = begun[0].substr(begun[0].rfind(' ') + 1);
    EXPECT_EQ(callsStarting("8 ILogManager::Slot8 "),
              std::vector<std::string>{"8 ILogManager::Slot8 " + cookie});
    EXPECT_EQ(callsStarting("3 ILog::WriteEntry "),
              std::vector<std::string>{"3 ILog::WriteEntry 1 3 caller über\n"});
    EXPECT_EQ(server().counter("liveWatches"), 0);
    leave();
    expectAllReleased();
}
