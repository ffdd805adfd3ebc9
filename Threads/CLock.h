// CLock: a handle on a shared, reference-counted critical section. Copies are
// further handles on the same lock; the lock lives as long as its last handle.
// Everything here is inline: every module (each tool, the Fibrex library)
// carries its own copy and its own default record.
#pragma once

#include "winplat/windows.h"

struct CLockRecord {
    LONG count;
    CRITICAL_SECTION section;
};

namespace clock_detail {

// The module's default record: count 1 for ever, its critical section set up
// on first use and deleted at the module's static destruction. Hidden, so a
// shared library and the program that loads it keep one each.
struct DefaultRecord {
    CLockRecord record;
    DefaultRecord() : record{1, {}} { InitializeCriticalSection(&record.section); }
    ~DefaultRecord() { DeleteCriticalSection(&record.section); }
    DefaultRecord(const DefaultRecord&) = delete;
    DefaultRecord& operator=(const DefaultRecord&) = delete;
};

__attribute__((visibility("hidden"))) inline CLockRecord* defaultRecord() {
    static DefaultRecord instance;
    return &instance.record;
}

}  // namespace clock_detail

class CLock {
  public:
    // true: a record of its own; false: the module's default record.
    explicit CLock(bool ownRecord) : record_(ownRecord ? newRecord() : clock_detail::defaultRecord()) {}

    CLock(const CLock& other) : record_(other.record_) { share(record_); }

    CLock& operator=(const CLock& other) {
        // Take the new record before giving up the old one: when both are the
        // same record and this was its only handle, releasing first would free it.
        CLockRecord* taken = other.record_;
        share(taken);
        release(record_);
        record_ = taken;
        return *this;
    }

    virtual ~CLock() { release(record_); }

    void lock() const { EnterCriticalSection(&record_->section); }
    void unlock() const { LeaveCriticalSection(&record_->section); }

  private:
    friend struct CLockTestAccess;

    static CLockRecord* newRecord() {
        CLockRecord* record = new CLockRecord{1, {}};
        InitializeCriticalSection(&record->section);
        return record;
    }
    static bool isDefault(const CLockRecord* record) { return record == clock_detail::defaultRecord(); }
    static void share(CLockRecord* record) {
        if (!isDefault(record)) {
            InterlockedIncrement(&record->count);
        }
    }
    static void release(CLockRecord* record) {
        if (record && !isDefault(record) && InterlockedDecrement(&record->count) == 0) {
            DeleteCriticalSection(&record->section);
            delete record;
        }
    }

    CLockRecord* record_;
};

// Holds a CLock from its construction to the end of its scope, on every path out.
class CLockGuard {
  public:
    explicit CLockGuard(const CLock* lock) : lock_(lock) { lock_->lock(); }
    explicit CLockGuard(const CLock& lock) : lock_(&lock) { lock_->lock(); }
    ~CLockGuard() { lock_->unlock(); }
    CLockGuard(const CLockGuard&) = delete;
    CLockGuard& operator=(const CLockGuard&) = delete;

  private:
    const CLock* lock_;
};
