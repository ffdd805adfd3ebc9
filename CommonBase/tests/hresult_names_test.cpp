#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CommonBase/HResultNames.h"
#include "CommonBase/StringUtils.h"
#include "winplat/errors.h"
#include "winplat/mapi.h"

namespace {
HRESULT hr(uint32_t v) {
    return static_cast<HRESULT>(v);
}
}  // namespace

TEST(HResultNames, WellKnownValues) {
    EXPECT_EQ(formatHResult(S_OK), "0x00000000 S_OK");
    EXPECT_EQ(formatHResult(S_FALSE), "0x00000001 S_FALSE");
    EXPECT_EQ(formatHResult(E_FAIL), "0x80004005 E_FAIL");
    EXPECT_EQ(formatHResult(E_INVALIDARG), "0x80070057 E_INVALIDARG");
    EXPECT_EQ(formatHResult(E_NOTIMPL), "0x80004001 E_NOTIMPL");
    EXPECT_EQ(formatHResult(E_OUTOFMEMORY), "0x8007000e E_OUTOFMEMORY");
    EXPECT_EQ(formatHResult(MAPI_E_NOT_FOUND), "0x8004010f MAPI_E_NOT_FOUND");
    EXPECT_EQ(formatHResult(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)), "0x800700b7 ERROR_ALREADY_EXISTS");
    EXPECT_EQ(formatHResult(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)), "0x80070002 ERROR_FILE_NOT_FOUND");
    EXPECT_EQ(formatHResult(hr(0x80041000)), "0x80041000 MIRT_E_DATABASE");
    EXPECT_EQ(formatHResult(hr(0x80043001)), "0x80043001 MIRT_E_NO_MAILBOX");
    // Not a name of the table: bare hex.
    EXPECT_EQ(formatHResult(RPC_E_CHANGED_MODE), "0x80010106");
    EXPECT_EQ(formatHResult(hr(0x80041019)), "0x80041019");
    EXPECT_EQ(formatHResult(hr(0x0004100B)), "0x0004100b");
    EXPECT_EQ(formatHResult(hr(0xDEADBEEF)), "0xdeadbeef");
}

TEST(HResultNames, WarningAndErrorOfOneCodeAreDistinct) {
    EXPECT_EQ(formatHResult(hr(0x00041008)), "0x00041008 MIRT_W_EXISTS");
    EXPECT_EQ(formatHResult(hr(0x80041008)), "0x80041008 MIRT_E_EXISTS");
    EXPECT_EQ(formatHResult(hr(0x0004201E)), "0x0004201e MIRT_W_DUPLICATE_REQUEST");
    EXPECT_EQ(formatHResult(hr(0x8004201E)), "0x8004201e MIRT_E_DUPLICATE_REQUEST");
    EXPECT_EQ(hresultNameCount(), 227u);
}

// One value per group, written independently of the table from the public
// definitions (the platform headers of this project where they define them).
TEST(HResultNames, OneValuePerStandardGroup) {
    struct Expect {
        HRESULT code;
        const char* name;
    } expected[] = {
        {E_UNEXPECTED, "E_UNEXPECTED"},
        {E_NOINTERFACE, "E_NOINTERFACE"},
        {E_POINTER, "E_POINTER"},
        {E_HANDLE, "E_HANDLE"},
        {E_ABORT, "E_ABORT"},
        {E_ACCESSDENIED, "E_ACCESSDENIED"},
        {E_PENDING, "E_PENDING"},
        {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "ERROR_PATH_NOT_FOUND"},
        {HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), "ERROR_SHARING_VIOLATION"},
        {HRESULT_FROM_WIN32(ERROR_DISK_FULL), "ERROR_DISK_FULL"},
        {HRESULT_FROM_WIN32(1722), "RPC_S_SERVER_UNAVAILABLE"},
        {HRESULT_FROM_WIN32(1726), "RPC_S_CALL_FAILED"},
        {HRESULT_FROM_WIN32(1727), "RPC_S_CALL_FAILED_DNE"},
        {hr(0x80010007), "RPC_E_SERVER_DIED"},
        {hr(0x8001011F), "RPC_E_TIMEOUT"},
        {hr(0x8001000F), "RPC_E_INVALID_DATA"},
        {hr(0x80000001), "EXCEPTION_GUARD_PAGE"},
        {hr(0xC0000005), "EXCEPTION_ACCESS_VIOLATION"},
        {hr(0xC0000017), "STATUS_NO_MEMORY"},
        {hr(0xC00000FD), "EXCEPTION_STACK_OVERFLOW"},
        {hr(0xC00002C9), "STATUS_REG_NAT_CONSUMPTION"},
        {MAPI_E_NO_SUPPORT, "MAPI_E_NO_SUPPORT"},
        {MAPI_E_INVALID_ENTRYID, "MAPI_E_INVALID_ENTRYID"},
        {MAPI_E_UNEXPECTED_TYPE, "MAPI_E_UNEXPECTED_TYPE"},
        {MAPI_W_NO_SERVICE, "MAPI_W_NO_SERVICE"},
        {MAPI_W_ERRORS_RETURNED, "MAPI_W_ERRORS_RETURNED"},
        {MAPI_E_AMBIGUOUS_RECIP, "MAPI_E_AMBIGUOUS_RECIP"},
        {STG_E_INVALIDFUNCTION, "STG_E_INVALIDFUNCTION"},
        {STG_E_MEDIUMFULL, "STG_E_MEDIUMFULL"},
        {STG_E_REVERTED, "STG_E_REVERTED"},
        {STG_S_CONVERTED, "STG_S_CONVERTED"},
        {hr(0x80030202), "STG_E_TERMINATED"},
        {hr(0x00030206), "STG_S_CANNOTCONSOLIDATE"},
    };
    for (const Expect& e : expected) {
        const char* name = hresultName(e.code);
        ASSERT_NE(name, nullptr) << std::hex << e.code;
        EXPECT_STREQ(name, e.name);
    }
}

TEST(HResultNames, WideFormIsTheWidenedNarrowForm) {
    for (HRESULT code : {S_OK, E_FAIL, hr(0x00041008), hr(0x12345678)})
        EXPECT_EQ(formatHResultW(code), widenBytes(formatHResult(code)));
    EXPECT_EQ(formatHResultW(E_FAIL), L"0x80004005 E_FAIL");
}

TEST(HResultNames, FirstUseFromManyThreads) {
    std::vector<std::string> results(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < results.size(); ++i)
        threads.emplace_back([&results, i] { results[i] = formatHResult(hr(0x80042017)); });
    for (auto& t : threads)
        t.join();
    for (const auto& r : results)
        EXPECT_EQ(r, "0x80042017 MIRT_E_NOT_FOUND");
}
