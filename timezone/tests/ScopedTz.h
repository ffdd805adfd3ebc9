// Pins the process zone (TZ) for a scope.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>

class ScopedTz {
  public:
    explicit ScopedTz(const char* tz) {
        if (const char* old = getenv("TZ")) {
            old_ = old;
        }
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTz() {
        if (old_) {
            setenv("TZ", old_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ScopedTz(const ScopedTz&) = delete;
    ScopedTz& operator=(const ScopedTz&) = delete;

  private:
    std::optional<std::string> old_;
};

// The C library's UTC offset in seconds at an instant of the pinned zone.
inline long glibcOffset(int64_t t) {
    const time_t tt = static_cast<time_t>(t);
    struct tm tm;
    localtime_r(&tt, &tm);
    return tm.tm_gmtoff;
}
