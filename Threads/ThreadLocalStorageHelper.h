// Process-wide per-thread values addressed by GUID keys, each key backed by a
// thread-local storage slot allocated on its first use, and a marker for the
// threads started through the library's Thread. Reached through
// threadLocalStorageHelper(); exported by the Fibrex library only.
#pragma once

#include <cstring>
#include <map>
#include <memory>

#include "winplat/windows.h"
#include "Threads/CLock.h"
#include "Threads/Thread.h"

class FIBREX_API ThreadLocalStorageHelper {
  public:
    ThreadLocalStorageHelper(const ThreadLocalStorageHelper& other);
    ThreadLocalStorageHelper& operator=(const ThreadLocalStorageHelper& other);
    ~ThreadLocalStorageHelper();

    void fillMyThread();
    bool isMyThread();

    bool fillKeyValue(const GUID& key, void* value);
    void* getKeyValue(const GUID& key);
    void resetKeyValue(const GUID& key);

    // Frees every slot and forgets every key. Takes no lock: not while other
    // threads use the helper.
    void clearIndexes();

  private:
    struct Slots;

    friend ThreadLocalStorageHelper& threadLocalStorageHelper();
    friend struct ThreadLocalStorageHelperTestAccess;

    ThreadLocalStorageHelper();

    struct KeyLess {
        bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
    };
    DWORD lookUp(const GUID& key);

    DWORD myThread_;
    CLock lock_;
    std::map<GUID, DWORD, KeyLess> keys_;
    // The slots of this helper and of its copies: copies share them, and the
    // last one to go frees them.
    std::shared_ptr<Slots> slots_;
};

FIBREX_API ThreadLocalStorageHelper& threadLocalStorageHelper();
