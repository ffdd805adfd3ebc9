// BSTR and OLE automation dates.
#include "winplat/oleauto.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "winplat/inject.h"

namespace {

std::atomic<int64_t> gLiveBstrs{0};

// The length word sits right before the characters.
constexpr size_t kPrefix = sizeof(uint32_t);
static_assert(kPrefix % alignof(OLECHAR) == 0);

uint32_t* prefixOf(BSTR s) {
    return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(s) - kPrefix);
}

BSTR allocate(const char* call, const OLECHAR* text, UINT length) {
    int64_t code = 0;
    if (winplat::inject::take(call, &code)) {
        return nullptr;
    }
    // The byte length must fit the 32-bit prefix.
    if (length > (UINT32_MAX - sizeof(OLECHAR)) / sizeof(OLECHAR)) {
        return nullptr;
    }
    const size_t bytes = size_t{length} * sizeof(OLECHAR);
    auto* block = static_cast<char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR)));
    if (block == nullptr) {
        return nullptr;
    }
    *reinterpret_cast<uint32_t*>(block) = static_cast<uint32_t>(bytes);
    auto* chars = reinterpret_cast<OLECHAR*>(block + kPrefix);
    if (text != nullptr) {
        std::memcpy(chars, text, bytes);
    } else {
        std::memset(chars, 0, bytes);
    }
    chars[length] = 0;
    ++gLiveBstrs;
    return chars;
}

// Days from 1899-12-30 to the given proleptic Gregorian date (month 1-12,
// day counted from 1 but any value, carrying into neighbouring months).
int64_t serialOf(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yoe = year - era * 400;
    const int64_t mp = (month + 9) % 12;
    const int64_t doy = (153 * mp + 2) / 5;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t epochDays = era * 146097 + doe - 719468;  // from 1970-01-01
    return epochDays + 25569 + (day - 1);
}

void dateOf(int64_t serial, int64_t* year, int64_t* month, int64_t* day) {
    const int64_t z = serial - 25569 + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    *day = doy - (153 * mp + 2) / 5 + 1;
    *month = mp < 10 ? mp + 3 : mp - 9;
    *year = yoe + era * 400 + (*month <= 2 ? 1 : 0);
}

constexpr int64_t kFirstSerial = -657434;  // 0100-01-01
constexpr int64_t kLastSerial = 2958465;   // 9999-12-31

}  // namespace

extern "C" {

BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    return allocate("SysAllocStringLen", strIn, ui);
}

BSTR WINAPI SysAllocString(const OLECHAR* psz) {
    if (psz == nullptr) {
        return nullptr;
    }
    size_t n = 0;
    while (psz[n] != 0) {
        ++n;
    }
    if (n > UINT32_MAX) {
        return nullptr;
    }
    return allocate("SysAllocString", psz, static_cast<UINT>(n));
}

INT WINAPI SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
    if (pbstr == nullptr) {
        return FALSE;
    }
    BSTR copy = SysAllocString(psz);
    if (copy == nullptr && psz != nullptr) {
        return FALSE;
    }
    SysFreeString(*pbstr);
    *pbstr = copy;
    return TRUE;
}

void WINAPI SysFreeString(BSTR bstrString) {
    if (bstrString == nullptr) {
        return;
    }
    --gLiveBstrs;
    std::free(prefixOf(bstrString));
}

UINT WINAPI SysStringByteLen(BSTR bstr) {
    return bstr == nullptr ? 0 : *prefixOf(bstr);
}

UINT WINAPI SysStringLen(BSTR pbstr) {
    return static_cast<UINT>(SysStringByteLen(pbstr) / sizeof(OLECHAR));
}

INT WINAPI SystemTimeToVariantTime(LPSYSTEMTIME lpSystemTime, DOUBLE* pvtime) {
    if (lpSystemTime == nullptr || pvtime == nullptr) {
        return FALSE;
    }
    const SYSTEMTIME& st = *lpSystemTime;
    if (st.wYear < 100 || st.wYear > 9999 || st.wMonth < 1 || st.wMonth > 12 || st.wDay > 31 ||
        st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59) {
        return FALSE;
    }
    const int64_t days = serialOf(st.wYear, st.wMonth, st.wDay);
    if (days < kFirstSerial || days > kLastSerial) {
        return FALSE;
    }
    const double time = (st.wHour * 3600.0 + st.wMinute * 60.0 + st.wSecond) / 86400.0;
    // Before 1899-12-30 the fraction still counts forward from the day's start.
    *pvtime = days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
    return TRUE;
}

INT WINAPI VariantTimeToSystemTime(DOUBLE vtime, LPSYSTEMTIME lpSystemTime) {
    if (lpSystemTime == nullptr || std::isnan(vtime) || vtime <= static_cast<double>(kFirstSerial) - 1.0 ||
        vtime >= static_cast<double>(kLastSerial) + 1.0) {
        return FALSE;
    }
    const double whole = std::trunc(vtime);
    int64_t day = static_cast<int64_t>(whole);
    // A half second is rarely exact in a DATE: allow for the double's
    // spacing at this magnitude so that it still rounds up.
    const double spacing = std::nextafter(std::fabs(vtime), INFINITY) - std::fabs(vtime);
    const double slack = 4.0 * spacing * 86400.0;
    int64_t seconds = static_cast<int64_t>(std::floor(std::fabs(vtime - whole) * 86400.0 + 0.5 + slack));
    if (seconds >= 86400) {
        seconds -= 86400;
        ++day;
    }
    if (day < kFirstSerial || day > kLastSerial) {
        return FALSE;
    }
    int64_t year = 0;
    int64_t month = 0;
    int64_t mday = 0;
    dateOf(day, &year, &month, &mday);
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(mday);
    // 1899-12-30 was a Saturday.
    st.wDayOfWeek = static_cast<WORD>(((day % 7) + 7 + 6) % 7);
    st.wHour = static_cast<WORD>(seconds / 3600);
    st.wMinute = static_cast<WORD>(seconds / 60 % 60);
    st.wSecond = static_cast<WORD>(seconds % 60);
    st.wMilliseconds = 0;
    *lpSystemTime = st;
    return TRUE;
}

}  // extern "C"

namespace winplat::com {

int64_t liveBstrCount() {
    return gLiveBstrs.load();
}

}  // namespace winplat::com
