// Pins the process zone (TZ) for a scope; a null zone unsets TZ.
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
        if (tz != nullptr) {
            setenv("TZ", tz, 1);
        } else {
            unsetenv("TZ");
        }
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
