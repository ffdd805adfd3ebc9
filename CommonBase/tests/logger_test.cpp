// ILogger and NullLogger.
#include <gtest/gtest.h>

#include <stdexcept>

#include "CommonBase/HResultException.h"
#include "CommonBase/ILogger.h"
#include "winplat/errors.h"

TEST(NullLogger, DiscardsEverythingAndHasNoLog) {
    LoggerPtr logger(new NullLogger);
    EXPECT_FALSE(logger->isEnabled(1, 0x100));
    EXPECT_EQ(logger->logMessage(1, 0x100, "file", 10, "function", L"text", E_FAIL), S_OK);
    EXPECT_EQ(logger->logHResult(1, 0x100, "file", 10, "function", nullptr, E_FAIL), S_OK);
    EXPECT_EQ(logger->logException(1, 0x100, "file", 10, "function", L"text", std::runtime_error("x")), S_OK);
    EXPECT_EQ(logger->reserved(), 0u);

    ILog* log = reinterpret_cast<ILog*>(0x1234);
    EXPECT_EQ(logger->queryLog(&log), E_POINTER);
    EXPECT_EQ(log, reinterpret_cast<ILog*>(0x1234));
    try {
        logger->getLog();
        FAIL() << "no exception";
    } catch (const HResultException& e) {
        EXPECT_EQ(e.getHResult(), E_POINTER);
        EXPECT_NE(std::string(e.what()).find("CommonBase\\NullLogger(63), NullLogger::getLog:"),
                  std::string::npos)
            << e.what();
    }
}
