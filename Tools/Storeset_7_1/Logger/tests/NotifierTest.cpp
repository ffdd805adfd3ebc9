// The notifier over fake log managers: watches begin and end with the
// managers' own slots, one manager too many is refused, a dead event is
// dropped without a spin, and loggers on several threads read masks that
// the notification thread keeps moving.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <chrono>
#include <memory>
#include <thread>

#include "CommonBase/HResultException.h"
#include "LogFakes.h"
#include "Tools/Storeset_7_1/Logger/Logger.h"
#include "Tools/Storeset_7_1/Logger/LoggerNotifier.h"
#include "winplat/inject.h"
#include "winplat/kernel.h"
#include "winplat/windows.h"

// Reaches into the notifier for what only a test does: lose an event.
struct LoggerNotifierTestAccess {
    // Closes the registration's event behind the notifier's back; the
    // registration forgets it, so nothing closes it twice.
    static void closeEvent(LoggerNotifier& notifier, const GUID& key) {
        CLockGuard guard(notifier.lock_);
        LogRegistration& r = notifier.registrations_.at(key);
        CloseHandle(r.event);
        r.event = nullptr;
    }
};

namespace {

GUID keyOf(FakeLogManager& manager) {
    GUID key;
    manager.Slot9(&key);
    return key;
}

// Polls until done() holds; a hang is a failure, not a wait for ever.
template <class Done>
bool eventually(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A test declares its fakes first and then takes the notifier, so the
// notifier (and with it the managers' last references) goes before the fakes.
class Notifier : public testing::Test {
  protected:
    void SetUp() override {
        handles_ = winplat::kernel::openHandleCount();
        notifier_ = boost::make_shared<LoggerNotifier>();
    }
    void TearDown() override {
        notifier_.reset();
        EXPECT_EQ(winplat::kernel::openHandleCount(), handles_);
    }
    boost::shared_ptr<LoggerNotifier> takeNotifier() { return std::move(notifier_); }

    boost::shared_ptr<LoggerNotifier> notifier_;
    size_t handles_ = 0;
};

}  // namespace

TEST_F(Notifier, AWatchEndsWithTheLastLoggerOfItsManager) {
    FakeLogManager manager;
    FakeLog log(&manager);
    auto notifier = takeNotifier();
    auto first = std::make_unique<Logger>(&log, notifier);
    auto second = std::make_unique<Logger>(&log, notifier);
    EXPECT_EQ(notifier->registrationCount(), 1u);
    ASSERT_NE(manager.watch, nullptr);
    ISynchronize* watch = manager.watch;

    first.reset();
    EXPECT_TRUE(manager.endedCookies.empty());
    std::atomic<int> stranger{0};
    EXPECT_EQ(notifier->unregisterCounter(&stranger), S_FALSE);
    EXPECT_EQ(notifier->unregisterCounter(nullptr), E_INVALIDARG);
    EXPECT_EQ(notifier->registrationCount(), 1u);

    watch->AddRef();
    second.reset();
    EXPECT_EQ(manager.endedCookies, std::vector<ULONG>{0x5151});
    EXPECT_EQ(notifier->registrationCount(), 0u);
    // The server may signal late: nothing is moved, nothing breaks.
    EXPECT_EQ(watch->Signal(), S_OK);
    watch->Release();
    // The manager goes once the thread has taken the entries without it.
    EXPECT_TRUE(eventually([&] { return manager.refs == 1u; }));
    EXPECT_EQ(log.refs, 1u);
}

TEST_F(Notifier, TheServersSignalMovesEveryCounterOfItsManagerOnce) {
    FakeLogManager a(1), b(2);
    a.setMasks(0, 0x1);
    b.setMasks(0, 0x1);
    FakeLog logA(&a), logB(&b);
    auto notifier = takeNotifier();
    Logger onA(&logA, notifier), alsoOnA(&logA, notifier), onB(&logB, notifier);
    for (Logger* logger : {&onA, &alsoOnA, &onB}) {
        EXPECT_TRUE(logger->isEnabled(0, 0x1));
    }
    a.setMasks(0, 0x2);
    b.setMasks(0, 0x2);
    EXPECT_EQ(a.watch->Signal(), S_OK);
    EXPECT_TRUE(eventually([&] { return onA.isEnabled(0, 0x2) && alsoOnA.isEnabled(0, 0x2); }));
    EXPECT_TRUE(onB.isEnabled(0, 0x1));
    EXPECT_EQ(a.maskReads, 4);
    EXPECT_EQ(b.maskReads, 1);
    // One signal, one wake-up: the event does not stay signalled.
    const size_t waits = notifier->waitCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_LE(notifier->waitCount(), waits + 1);
    EXPECT_TRUE(onA.isEnabled(0, 0x2));
    EXPECT_EQ(a.maskReads, 4);
}

TEST_F(Notifier, FailuresOfTheManagerAreRaisedAndNothingIsKept) {
    FakeLogManager manager;
    FakeLog log(&manager);
    auto notifier = takeNotifier();
    struct Case {
        HRESULT managerResult;
        HRESULT watchResult;
        const char* injected;
        HRESULT expected;
    } cases[] = {
        {E_ACCESSDENIED, S_OK, nullptr, E_ACCESSDENIED},
        {S_OK, E_OUTOFMEMORY, nullptr, E_OUTOFMEMORY},
        {S_OK, S_OK, "CreateEventW", E_OUTOFMEMORY},
        {S_OK, S_OK, "CoCreateFreeThreadedMarshaler", E_NOTIMPL},
    };
    for (const Case& c : cases) {
        log.managerResult = c.managerResult;
        manager.watchResult = c.watchResult;
        if (c.injected) {
            winplat::inject::arm(c.injected, c.expected);
        }
        try {
            Logger logger(&log, notifier);
            ADD_FAILURE() << "no raise";
        } catch (const HResultException& e) {
            EXPECT_EQ(e.getHResult(), c.expected);
        }
        winplat::inject::reset();
        EXPECT_EQ(notifier->registrationCount(), 0u);
        EXPECT_EQ(manager.watch, nullptr);
        EXPECT_EQ(log.refs, 1u);
        EXPECT_EQ(manager.refs, 1u);
    }
    try {
        notifier->registerLogger(nullptr, nullptr);
        ADD_FAILURE() << "no raise";
    } catch (const HResultException& e) {
        EXPECT_EQ(e.getHResult(), E_INVALIDARG);
    }
}

TEST(NotifierStart, WithoutItsThreadOrEventsNoNotifierIsMade) {
    const size_t handles = winplat::kernel::openHandleCount();
    for (const char* failing : {"_beginthreadex", "CreateEventW"}) {
        SCOPED_TRACE(failing);
        winplat::inject::arm(failing, 1);
        try {
            LoggerNotifier notifier;
            ADD_FAILURE() << "no raise";
        } catch (const HResultException& e) {
            EXPECT_EQ(e.getHResult(), E_OUTOFMEMORY);
        }
        winplat::inject::reset();
        EXPECT_EQ(winplat::kernel::openHandleCount(), handles);
    }
}

TEST_F(Notifier, OneLogManagerTooManyIsRefused) {
    std::vector<std::unique_ptr<FakeLogManager>> managers;
    std::vector<std::unique_ptr<FakeLog>> logs;
    std::vector<std::unique_ptr<Logger>> loggers;
    for (uint32_t i = 0; i <= kMaxLogManagers; ++i) {
        managers.push_back(std::make_unique<FakeLogManager>(100 + i));
        logs.push_back(std::make_unique<FakeLog>(managers.back().get()));
    }
    auto notifier = takeNotifier();
    for (size_t i = 0; i < kMaxLogManagers; ++i) {
        loggers.push_back(std::make_unique<Logger>(logs[i].get(), notifier));
    }
    EXPECT_EQ(kMaxLogManagers, 62u);
    try {
        Logger refused(logs.back().get(), notifier);
        ADD_FAILURE() << "no raise";
    } catch (const HResultException& e) {
        EXPECT_EQ(e.getHResult(), static_cast<HRESULT>(0x800705AA));
        EXPECT_EQ(std::string(e.what()).rfind("Exception of class HResultException: .\\LoggerNotifier(86), "
                                              "LoggerNotifier::registerLogger:\n"
                                              "0x800705aa",
                                              0),
                  0u);
    }
    EXPECT_EQ(managers.back()->watch, nullptr);
    EXPECT_EQ(managers.back()->refs, 1u);
    EXPECT_EQ(logs.back()->refs, 1u);
    EXPECT_EQ(notifier->registrationCount(), kMaxLogManagers);
    // More loggers of a manager already watched are always taken.
    loggers.push_back(std::make_unique<Logger>(logs.front().get(), notifier));
    EXPECT_EQ(notifier->registrationCount(), kMaxLogManagers);

    // Every watch still works with the wait full.
    managers[kMaxLogManagers - 1]->setMasks(0, 0x8);
    managers[kMaxLogManagers - 1]->watch->Signal();
    EXPECT_TRUE(eventually([&] { return loggers[kMaxLogManagers - 1]->isEnabled(0, 0x8); }));
    loggers.clear();
    EXPECT_EQ(notifier->registrationCount(), 0u);
}

TEST_F(Notifier, ADeadEventIsDroppedAndTheThreadGoesBackToSleep) {
    FakeLogManager dead(1), alive(2);
    alive.setMasks(0, 0x1);
    FakeLog deadLog(&dead), aliveLog(&alive);
    auto notifier = takeNotifier();
    Logger onDead(&deadLog, notifier), onAlive(&aliveLog, notifier);
    EXPECT_TRUE(eventually([&] { return notifier->watchedCount() == 2u; }));

    EXPECT_TRUE(onAlive.isEnabled(0, 0x1));

    LoggerNotifierTestAccess::closeEvent(*notifier, keyOf(dead));
    // The wake-up of the living watch is served; the wait after it fails, the
    // dead entry goes, and the thread waits again.
    alive.setMasks(0, 0x2);
    alive.watch->Signal();
    EXPECT_TRUE(eventually([&] { return notifier->watchedCount() == 1u; }));
    EXPECT_TRUE(eventually([&] { return onAlive.isEnabled(0, 0x2); }));
    const size_t waits = notifier->waitCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LE(notifier->waitCount(), waits + 1);

    // The living watch still moves its loggers.
    alive.setMasks(0, 0x4);
    alive.watch->Signal();
    EXPECT_TRUE(eventually([&] { return onAlive.isEnabled(0, 0x4); }));
}

TEST_F(Notifier, LoggersOnManyThreadsFollowTheMasks) {
    FakeLogManager manager;
    manager.setMasks(0, 0x1);
    FakeLog log(&manager);
    auto notifier = takeNotifier();
    Logger logger(&log, notifier);
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                logger.isEnabled(0, 0x3);
                logger.isEnabled(1, 0x3);
            }
        });
    }
    for (ULONG round = 1; round <= 50; ++round) {
        manager.setMasks(round, round);
        manager.watch->Signal();
    }
    manager.setMasks(0, 0x2);
    manager.watch->Signal();
    EXPECT_TRUE(eventually([&] { return logger.isEnabled(0, 0x2) && !logger.isEnabled(1, 0x1); }));
    stop = true;
    for (std::thread& t : readers) {
        t.join();
    }
}
