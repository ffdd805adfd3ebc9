// The logger over fakes of the backend's log: which entries are wanted, when
// the masks are read again, and the entries' text byte for byte.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <stdexcept>

#include "CommonBase/HResultException.h"
#include "CommonBase/MessageFormat.h"
#include "LogFakes.h"
#include "Tools/Storeset_7_1/Logger/Logger.h"
#include "Tools/Storeset_7_1/Logger/LoggerNotifier.h"
#include "winplat/windows.h"

namespace {

const _LogSeverity Severity = static_cast<_LogSeverity>(2);
const _LogFacility Facility = static_cast<_LogFacility>(0x40);

struct Streamed {};
std::wostream& operator<<(std::wostream&, const Streamed&) {
    throw std::runtime_error("no text");
}

}  // namespace

TEST(Logger, IsEnabledByKindAndMasks) {
    struct Row {
        bool hasLog;
        int kind;
        ULONG mask;
        bool expected;
    } rows[] = {
        {false, 0, 0x01, false}, {false, 1, 0x11, false}, {false, 2, 0x00, false}, {false, 3, 0xFF, false},
        {true, 2, 0x00, true},   {true, 1, 0x10, true},   {true, 1, 0x01, true},   {true, 1, 0x22, false},
        {true, 0, 0x01, true},   {true, 0, 0x10, false},  {true, 3, 0xFF, false},  {true, -1, 0xFF, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << "log " << row.hasLog << " kind " << row.kind << " mask " << row.mask);
        FakeLogManager manager;
        manager.setMasks(0x10, 0x01);
        FakeLog log(&manager);
        {
            Logger logger(row.hasLog ? &log : nullptr);
            EXPECT_EQ(logger.isEnabled(row.kind, row.mask), row.expected);
        }
        EXPECT_EQ(manager.maskReads, row.hasLog ? 1 : 0);
        EXPECT_EQ(log.refs, 1u);
        EXPECT_EQ(manager.refs, 1u);
    }
}

TEST(Logger, MasksAreReadAgainOnlyAfterTheCounterMovedAndAFailedReadKeepsThem) {
    FakeLogManager manager;
    FakeLog log(&manager);
    GUID key;
    manager.Slot9(&key);
    auto notifier = boost::make_shared<LoggerNotifier>();
    {
        Logger logger(&log, notifier);
        manager.setMasks(0, 0x1);
        EXPECT_TRUE(logger.isEnabled(0, 0x1));
        manager.setMasks(0, 0x2);
        EXPECT_TRUE(logger.isEnabled(0, 0x1));
        EXPECT_EQ(manager.maskReads, 1);

        notifier->dispatch(key);
        EXPECT_FALSE(logger.isEnabled(0, 0x1));
        EXPECT_TRUE(logger.isEnabled(0, 0x2));
        EXPECT_EQ(manager.maskReads, 2);

        // A failed read keeps the masks and is tried again on the next question.
        manager.masksResult = E_ACCESSDENIED;
        manager.setMasks(0, 0x4);
        notifier->dispatch(key);
        EXPECT_TRUE(logger.isEnabled(0, 0x2));
        EXPECT_TRUE(logger.isEnabled(0, 0x2));
        EXPECT_EQ(manager.maskReads, 4);
        EXPECT_EQ(logger.loadConfiguration(), E_ACCESSDENIED);
        log.managerResult = E_OUTOFMEMORY;
        EXPECT_EQ(logger.loadConfiguration(), E_OUTOFMEMORY);
        EXPECT_TRUE(logger.isEnabled(0, 0x2));

        log.managerResult = S_OK;
        manager.masksResult = S_OK;
        EXPECT_TRUE(logger.isEnabled(0, 0x4));
        EXPECT_TRUE(logger.isEnabled(0, 0x4));
        EXPECT_EQ(manager.maskReads, 6);
    }
    notifier.reset();
    EXPECT_EQ(manager.refs, 1u);
    EXPECT_EQ(log.refs, 1u);
    EXPECT_EQ(Logger(nullptr).loadConfiguration(), E_INVALIDARG);
}

TEST(Logger, ComposesEntries) {
    struct Row {
        const char* file;
        int line;
        const char* function;
        const wchar_t* first;
        const wchar_t* second;
        const wchar_t* expected;
    } rows[] = {
        {nullptr, 3, "f", L"text", nullptr, L"text\n"},
        {nullptr, 0, "f", nullptr, nullptr, L""},
        {"C:\\src\\Tools\\Logger.cpp", 12, nullptr, L"a\n", L"b", L"In Tools\\Logger.cpp:12\na\nb\n"},
        {"Logger.cpp", -3, "Logger::f", L"", L"x\n", L"In Logger.cpp:-3 (Logger::f)\nx\n"},
        {"a\\b", 7, "g", nullptr, L"", L"In a\\b:7 (g)\n"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Logger::composeEntry(row.file, row.line, row.function, row.first, row.second),
                  row.expected);
    }
}

TEST(Logger, WritesEntriesWithTheCallersThread) {
    FakeLogManager manager;
    FakeLog log(&manager);
    Logger logger(&log);
    const char* file = "C:\\src\\Logger\\Test.cpp";
    EXPECT_EQ(logger.logHResult(Severity, Facility, file, 5, "F", L"text", E_FAIL), S_OK);
    EXPECT_EQ(logger.logMessage(Severity, Facility, nullptr, 0, nullptr, L"note", S_FALSE), S_OK);
    EXPECT_EQ(logger.logException(Severity, Facility, file, 6, nullptr, L"while reading",
                                  std::runtime_error("boom")),
              S_OK);
    const HResultException raised(E_INVALIDARG, 2, ".\\Logger", 9, "X::y", nullptr);
    EXPECT_EQ(logger.logException(Severity, Facility, nullptr, 0, nullptr, L"", raised), S_OK);
    log.writeResult = E_UNEXPECTED;
    EXPECT_EQ(logger.writeText(Severity, Facility, L"as it is"), E_UNEXPECTED);

    const std::wstring expected[] = {
        L"In Logger\\Test.cpp:5 (F)\ntext\nHRESULT: 0x80004005 E_FAIL\n",
        L"note\n",
        L"In Logger\\Test.cpp:6\nException of class std::runtime_error:\nboom\nwhile reading\n",
        widenBytes(raised.what()) + L"\n",
        L"as it is",
    };
    ASSERT_EQ(log.written.size(), std::size(expected));
    for (size_t i = 0; i < log.written.size(); ++i) {
        EXPECT_EQ(log.written[i].text, expected[i]);
        EXPECT_EQ(log.written[i].severity, Severity);
        EXPECT_EQ(log.written[i].facility, Facility);
        EXPECT_EQ(log.written[i].threadId, GetCurrentThreadId());
    }
}

TEST(Logger, WithoutALogEveryEntryIsRefused) {
    Logger logger(nullptr);
    EXPECT_FALSE(logger.hasLog());
    EXPECT_EQ(logger.logHResult(Severity, Facility, "f", 1, "g", L"t", E_FAIL), E_POINTER);
    EXPECT_EQ(logger.logMessage(Severity, Facility, "f", 1, "g", L"t", S_OK), E_POINTER);
    EXPECT_EQ(logger.logException(Severity, Facility, "f", 1, "g", L"t", std::logic_error("x")), E_POINTER);
    EXPECT_EQ(logger.writeText(Severity, Facility, L"t"), E_POINTER);
    ILog* out = reinterpret_cast<ILog*>(0x1);
    EXPECT_EQ(logger.queryLog(&out), E_POINTER);
    try {
        logger.getLog(&out);
        ADD_FAILURE() << "no raise";
    } catch (const HResultException& e) {
        EXPECT_EQ(e.getHResult(), E_POINTER);
        EXPECT_EQ(
            std::string(e.what()),
            "Exception of class HResultException: .\\Logger(226), Logger::getLog:\n0x80004003 E_POINTER");
    }
    EXPECT_EQ(out, nullptr);
}

TEST(Logger, HandsOutItsLog) {
    FakeLogManager manager;
    FakeLog log(&manager);
    Logger logger(&log);
    ILog* out = nullptr;
    EXPECT_EQ(logger.getLog(&out), &log);
    EXPECT_EQ(out, &log);
    EXPECT_EQ(log.refs, 3u);
    out->Release();
}

TEST(MessageFormat, FailuresGiveTheirTextAndThePattern) {
    struct Row {
        std::wstring got;
        const wchar_t* expected;
    } rows[] = {
        {formatMessageSafely(L"In %S:%d", "a\\b", 3), L"In a\\b:3"},
        {formatMessageSafely(L"Exception of %s:\n%s\n", std::string("class X"), "w"),
         L"Exception of class X:\nw\n"},
        {formatMessageSafely(L"In %S:%d %d", "x", 1),
         L"Internal error: Too few arguments passed: \"In %S:%d %d\""},
        {formatMessageSafely(L" (%S)", "a", "b"), L"Internal error: Too many arguments passed: \" (%S)\""},
        {formatMessageSafely(L"%1% %", "a"), L"Internal error: Ill-formed format string passed: \"%1% %\""},
        {formatMessageSafely(L"%s\n", Streamed()), L"Internal error: Unknown exception occurred: \"%s\n\""},
        {formatMessageSafely(0x0FFF001Fu), L"Missing property 0x0fff001f"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.got, row.expected);
    }
}
