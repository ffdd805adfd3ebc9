#include "timezone/XTimeZone.h"

#include <utility>

namespace tavlo::timezone {

NativeHandle::NativeHandle(const NativeHandle& other)
    : handle_(other.handle_ != 0 && other.duplicate_ != nullptr ? other.duplicate_(other.handle_) : 0),
      release_(other.release_),
      duplicate_(other.duplicate_) {}

NativeHandle& NativeHandle::operator=(const NativeHandle& other) {
    if (this != &other) {
        // The copy leaves with the old handle and releases it.
        NativeHandle copy(other);
        std::swap(handle_, copy.handle_);
        std::swap(release_, copy.release_);
        std::swap(duplicate_, copy.duplicate_);
    }
    return *this;
}

NativeHandle::NativeHandle(NativeHandle&& other) noexcept
    : handle_(std::exchange(other.handle_, 0)), release_(other.release_), duplicate_(other.duplicate_) {}

NativeHandle& NativeHandle::operator=(NativeHandle&& other) noexcept {
    std::swap(handle_, other.handle_);
    std::swap(release_, other.release_);
    std::swap(duplicate_, other.duplicate_);
    return *this;
}

NativeHandle::~NativeHandle() {
    if (handle_ != 0 && release_ != nullptr) {
        release_(handle_);
    }
}

XTimeZone::~XTimeZone() = default;

void XTimeZone::addObservance(const ZoneObservance& observance) {
    observances_.push_back(observance);
    fingerprint_.clear();
}

ZoneObservance XTimeZone::firstOfKind(int32_t kind) const {
    for (const ZoneObservance& o : observances_) {
        if (o.kind == kind && o.valid != 0) {
            return o;
        }
    }
    ZoneObservance fallback = observances_.empty() ? ZoneObservance() : observances_.back();
    fallback.valid = 0;
    return fallback;
}

}  // namespace tavlo::timezone
