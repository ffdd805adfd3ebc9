// GetTimeZoneInformation over the process zone.
//
// The zone is what the C library reads: TZ names a zone file (":name",
// "name", or an absolute path) or is itself a POSIX rule string; without TZ
// the zone is /etc/localtime. A zone file's present rules are the POSIX rule
// string in its footer (the last line of a version 2 or later file), so both
// sources come down to one reader of "std offset [dst [offset] [,start[/time],end[/time]]]".
#include <stdlib.h>
#include <time.h>

#include <cctype>
#include <cstring>
#include <utility>
#include <fstream>
#include <iterator>
#include <string>

#include "inject_internal.h"
#include "time_internal.h"
#include "winplat/kernel.h"
#include "winplat/time.h"

extern char** environ;

namespace {

// One transition rule of a rule string, and the wall-clock second of the day
// at which it applies.
struct PosixRule {
    char form = 0;  // 'M' (month.week.day), 'J' (1-365, no leap day) or 'n' (0-365)
    int month = 0, week = 0, weekday = 0, day = 0;
    long seconds = 7200;
};

struct PosixZone {
    std::string stdName, dstName;
    long stdWest = 0, dstWest = 0;  // seconds west of UTC
    bool hasDst = false;
    PosixRule start, end;
};

class Reader {
  public:
    explicit Reader(const std::string& text) : p_(text.c_str()) {}

    bool name(std::string* out) {
        if (*p_ == '<') {
            const char* close = std::strchr(p_, '>');
            if (close == nullptr) {
                return false;
            }
            out->assign(p_ + 1, close);
            p_ = close + 1;
            return out->size() >= 1;
        }
        const char* b = p_;
        while (std::isalpha(static_cast<unsigned char>(*p_))) {
            ++p_;
        }
        out->assign(b, p_);
        return out->size() >= 3;
    }

    // [+-]hh[:mm[:ss]] in seconds; hours up to 167.
    bool offset(long* out) {
        long sign = 1;
        if (*p_ == '+' || *p_ == '-') {
            sign = *p_ == '-' ? -1 : 1;
            ++p_;
        }
        long parts[3] = {0, 0, 0};
        for (int i = 0; i < 3; ++i) {
            if (i > 0 && *p_ != ':') {
                break;
            }
            if (i > 0) {
                ++p_;
            }
            if (!number(&parts[i], i == 0 ? 167 : 59)) {
                return false;
            }
        }
        *out = sign * (parts[0] * 3600 + parts[1] * 60 + parts[2]);
        return true;
    }

    bool rule(PosixRule* r) {
        long a = 0, b = 0, c = 0;
        if (*p_ == 'M') {
            ++p_;
            if (!number(&a, 12) || !expect('.') || !number(&b, 5) || !expect('.') || !number(&c, 6) ||
                a < 1 || b < 1) {
                return false;
            }
            r->form = 'M';
            r->month = static_cast<int>(a);
            r->week = static_cast<int>(b);
            r->weekday = static_cast<int>(c);
        } else {
            r->form = *p_ == 'J' ? 'J' : 'n';
            if (*p_ == 'J') {
                ++p_;
            }
            if (!number(&a, 365) || (r->form == 'J' && a < 1)) {
                return false;
            }
            r->day = static_cast<int>(a);
        }
        if (*p_ == '/') {
            ++p_;
            return offset(&r->seconds);
        }
        return true;
    }

    bool expect(char c) {
        if (*p_ != c) {
            return false;
        }
        ++p_;
        return true;
    }
    bool atEnd() const { return *p_ == 0; }
    char peek() const { return *p_; }

  private:
    bool number(long* out, long max) {
        if (!std::isdigit(static_cast<unsigned char>(*p_))) {
            return false;
        }
        long v = 0;
        while (std::isdigit(static_cast<unsigned char>(*p_))) {
            v = v * 10 + (*p_++ - '0');
            if (v > max) {
                return false;
            }
        }
        *out = v;
        return true;
    }

    const char* p_;
};

bool parsePosixZone(const std::string& text, PosixZone* z) {
    Reader r(text);
    if (!r.name(&z->stdName) || !r.offset(&z->stdWest)) {
        return false;
    }
    if (r.atEnd()) {
        return true;
    }
    if (!r.name(&z->dstName)) {
        return false;
    }
    z->hasDst = true;
    z->dstWest = z->stdWest - 3600;
    if (!r.atEnd() && r.peek() != ',' && !r.offset(&z->dstWest)) {
        return false;
    }
    if (r.atEnd()) {
        // No rules given: the C library's default, the US rules.
        z->start = {'M', 3, 2, 0, 0, 7200};
        z->end = {'M', 11, 1, 0, 0, 7200};
        return true;
    }
    return r.expect(',') && r.rule(&z->start) && r.expect(',') && r.rule(&z->end) && r.atEnd();
}

// A zone whose daylight time is behind its standard time (tzdata's Ireland:
// winter is the "daylight" period) is read the way Windows records it: the
// later offset is the standard one and the seasons change places.
bool reverseNegativeDaylight(PosixZone* z) {
    if (!z->hasDst || z->dstWest <= z->stdWest) {
        return false;
    }
    std::swap(z->stdName, z->dstName);
    std::swap(z->stdWest, z->dstWest);
    std::swap(z->start, z->end);
    return true;
}

std::string zoneDirectory() {
    const char* dir = getenv("TZDIR");
    return dir != nullptr && *dir != 0 ? dir : "/usr/share/zoneinfo";
}

// The footer of a version 2+ zone file; false when the file cannot be read
// or is no zone file.
bool readFooter(const std::string& path, std::string* footer) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() < 5 || data.compare(0, 4, "TZif") != 0) {
        return false;
    }
    footer->clear();
    if (data[4] < '2' || data.back() != '\n') {
        return true;
    }
    const size_t open = data.rfind('\n', data.size() - 2);
    if (open != std::string::npos) {
        footer->assign(data, open + 1, data.size() - open - 2);
    }
    return true;
}

std::string processRuleString() {
    const char* tz = getenv("TZ");
    std::string footer;
    if (tz == nullptr) {
        return readFooter("/etc/localtime", &footer) ? footer : std::string();
    }
    std::string name = tz;
    const bool fileOnly = !name.empty() && name[0] == ':';
    if (fileOnly) {
        name.erase(0, 1);
    }
    if (name.empty()) {
        return std::string();
    }
    const std::string path = name[0] == '/' ? name : zoneDirectory() + "/" + name;
    if (readFooter(path, &footer)) {
        return footer;
    }
    return fileOnly ? std::string() : name;
}

void copyName(const std::string& name, WCHAR (&out)[32]) {
    size_t i = 0;
    for (; i < name.size() && i < 31; ++i) {
        out[i] = static_cast<unsigned char>(name[i]);
    }
    out[i] = 0;
}

// The nearest SYSTEMTIME rule of a POSIX rule for `year`.
SYSTEMTIME ruleDate(const PosixRule& r, int64_t year) {
    SYSTEMTIME st = {};
    if (r.form == 'M') {
        st.wMonth = static_cast<WORD>(r.month);
        st.wDay = static_cast<WORD>(r.week);
        st.wDayOfWeek = static_cast<WORD>(r.weekday);
    } else {
        // Day of a non-leap year for Jn; of this year for n.
        int dayOfYear = r.form == 'J' ? r.day - 1 : r.day;
        int month = 1;
        while (month < 12) {
            const int len = r.form == 'J' ? winplat::detail::daysInMonth(2001, month)
                                          : winplat::detail::daysInMonth(year, month);
            if (dayOfYear < len) {
                break;
            }
            dayOfYear -= len;
            ++month;
        }
        const int mday = dayOfYear + 1;
        const int64_t days = winplat::detail::daysFromCivil(year, month, mday);
        st.wMonth = static_cast<WORD>(month);
        st.wDayOfWeek = static_cast<WORD>((days + 3) % 7);  // day 0 (0000-03-01) was a Wednesday
        st.wDay =
            static_cast<WORD>(mday + 7 > winplat::detail::daysInMonth(year, month) ? 5 : (mday - 1) / 7 + 1);
    }
    long secs = r.seconds < 0 ? 0 : r.seconds > 86399 ? 86399 : r.seconds;
    st.wHour = static_cast<WORD>(secs / 3600);
    st.wMinute = static_cast<WORD>(secs / 60 % 60);
    st.wSecond = static_cast<WORD>(secs % 60);
    return st;
}

// What a local-time query checks, per thread, to know that the C library
// still answers for the zone whose seasons it read: where TZ's entry stands
// in the environment and its text (searching the environment on every query
// would cost a third of the C library's answer), and the C library's own
// names and offsets, which tzset and its local-time answers set.
struct ZoneKey {
    bool known;
    bool tzSet;
    bool reversed;
    char** environment;
    size_t slot;        // TZ's index, or the end's when TZ is unset
    const char* entry;  // TZ's entry, or the one before the end (null if none)
    size_t length;      // of TZ's entry; kTextRoom or more: not kept in text
    const char *standardName, *daylightName;
    long west;
    int daylight;
    winplat::detail::ReversedSeasons seasons;
    static constexpr size_t kTextRoom = 256;
    char text[kTextRoom];
};

// Constant-initialised and in the static TLS block: no guard on the path of
// every local-time query, and nothing destroyed before a late caller's query
// at thread exit.
thread_local ZoneKey tKey __attribute__((tls_model("initial-exec"))) = {};

// setenv puts a new string in TZ's place or adds one at the end, unsetenv
// moves the entries after a removed one down, and a putenv buffer written
// again keeps its place but not its text: each changes what is read here.
// Entries removed, then one added, may leave the array shrunk in place: the
// entries before the place read are checked first, so that a read never goes
// past the array's end.
bool sameTzEntry(const ZoneKey& k) {
    char** const env = environ;
    if (env != k.environment || env == nullptr) {
        return env == k.environment;
    }
    // Each entry read is known to be one: the one before it was not the end.
    size_t i = 0;
    for (; i + 4 <= k.slot; i += 4) {
        if (env[i] == nullptr || env[i + 1] == nullptr || env[i + 2] == nullptr || env[i + 3] == nullptr) {
            return false;
        }
    }
    for (; i < k.slot; ++i) {
        if (env[i] == nullptr) {
            return false;
        }
    }
    if (k.tzSet) {
        return env[k.slot] == k.entry &&
               (k.length >= ZoneKey::kTextRoom || std::memcmp(k.entry, k.text, k.length + 1) == 0);
    }
    return env[k.slot] == nullptr && (k.slot == 0 || env[k.slot - 1] == k.entry);
}

// The C library keeps its names for as long as the process runs: equal
// pointers are the same names.
bool sameLibraryZone(const ZoneKey& k) {
    return k.standardName == tzname[0] && k.daylightName == tzname[1] && k.west == timezone &&
           k.daylight == daylight;
}

// tzset brings the C library to the zone TZ names now (mktime does so itself,
// localtime_r does not), so that its next answer is for the zone the seasons
// are read for; it reads nothing when the C library is there already.
void refreshZoneKey(ZoneKey& k, bool sameTz) {
    bool tzChanged = !k.known;
    if (!sameTz) {
        char** const env = environ;
        size_t slot = 0;
        const char* entry = nullptr;
        const char* before = nullptr;
        for (; env != nullptr && env[slot] != nullptr; ++slot) {
            if (std::strncmp(env[slot], "TZ=", 3) == 0) {
                entry = env[slot];
                break;
            }
            before = env[slot];
        }
        const size_t length = entry != nullptr ? std::strlen(entry) : 0;
        tzChanged = tzChanged || k.tzSet != (entry != nullptr) ||
                    (entry != nullptr && (length >= ZoneKey::kTextRoom || length != k.length ||
                                          std::memcmp(entry, k.text, length) != 0));
        k.environment = env;
        k.slot = slot;
        k.tzSet = entry != nullptr;
        k.entry = entry != nullptr ? entry : before;
        k.length = length;
        if (length < ZoneKey::kTextRoom) {
            std::memcpy(k.text, entry != nullptr ? entry : "", length + 1);
        }
    }
    tzset();
    if (tzChanged) {
        PosixZone posix;
        k.reversed = parsePosixZone(processRuleString(), &posix) && reverseNegativeDaylight(&posix);
        k.seasons = {-posix.stdWest, -posix.dstWest};
    }
    k.known = true;
    k.standardName = tzname[0];
    k.daylightName = tzname[1];
    k.west = timezone;
    k.daylight = daylight;
}

}  // namespace

namespace winplat::detail {

const ReversedSeasons* processReversedSeasons() {
    ZoneKey& k = tKey;
    const bool sameTz = k.known && sameTzEntry(k);
    if (!sameTz || !sameLibraryZone(k)) {
        refreshZoneKey(k, sameTz);
    }
    return k.reversed ? &k.seasons : nullptr;
}

}  // namespace winplat::detail

extern "C" {

DWORD WINAPI GetTimeZoneInformation(LPTIME_ZONE_INFORMATION lpTimeZoneInformation) {
    if (winplat::detail::injected("GetTimeZoneInformation")) {
        return TIME_ZONE_ID_INVALID;
    }
    if (lpTimeZoneInformation == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return TIME_ZONE_ID_INVALID;
    }
    TIME_ZONE_INFORMATION& z = *lpTimeZoneInformation;
    z = {};
    PosixZone posix;
    if (!parsePosixZone(processRuleString(), &posix)) {
        posix = PosixZone();
        posix.stdName = "UTC";
    }
    reverseNegativeDaylight(&posix);
    z.Bias = static_cast<LONG>(posix.stdWest / 60);
    copyName(posix.stdName, z.StandardName);
    if (!posix.hasDst) {
        copyName(posix.stdName, z.DaylightName);
        return TIME_ZONE_ID_UNKNOWN;
    }
    copyName(posix.dstName, z.DaylightName);
    z.DaylightBias = static_cast<LONG>((posix.dstWest - posix.stdWest) / 60);
    const winplat::detail::ReversedSeasons* seasons = winplat::detail::processReversedSeasons();
    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    winplat::detail::toWindowsDaylightFlag(seasons, &local);
    z.DaylightDate = ruleDate(posix.start, local.tm_year + 1900);
    z.StandardDate = ruleDate(posix.end, local.tm_year + 1900);
    return local.tm_isdst > 0 ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

}  // extern "C"
