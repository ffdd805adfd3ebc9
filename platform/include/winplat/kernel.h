// Kernel subset: last error, handles, events, waits, critical sections,
// interlocked operations, threads, TLS, debugger hooks and process handles.
#pragma once

#include <cstdint>
#include <string>

#include "winplat/errors.h"
#include "winplat/types.h"

// Pseudo handles, as the platform hands them out.
#define WINPLAT_PSEUDO_PROCESS (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define WINPLAT_PSEUDO_THREAD (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)))

#define DUPLICATE_CLOSE_SOURCE 0x00000001u
#define DUPLICATE_SAME_ACCESS 0x00000002u

#define SYNCHRONIZE 0x00100000u
#define PROCESS_TERMINATE 0x0001u
#define PROCESS_QUERY_INFORMATION 0x0400u
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000u

#define CREATE_SUSPENDED 0x00000004u
#define STILL_ACTIVE 259u

#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_TIME_CRITICAL 15
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF

#define TLS_OUT_OF_INDEXES 0xFFFFFFFFu

#define EXCEPTION_MAXIMUM_PARAMETERS 15
#define EXCEPTION_NONCONTINUABLE 0x1u
#define EXCEPTION_EXECUTE_HANDLER 1
#define EXCEPTION_CONTINUE_SEARCH 0
#define EXCEPTION_CONTINUE_EXECUTION (-1)

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

// A recursive lock: the owner may enter again and must leave as often. All
// zero is a valid unowned section, so a static one needs no initialisation.
struct CRITICAL_SECTION {
    LONG LockCount;       // 0 free, 1 held, 2 held with waiters
    LONG RecursionCount;  // entries of the owner
    DWORD OwningThread;   // thread id of the owner, 0 when free
    DWORD SpinCount;
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;
// Constant initialiser for process-wide critical sections that must exist
// before any dynamic initialisation runs.
#define WINPLAT_CRITICAL_SECTION_STATIC_INIT \
    { 0, 0, 0, 0 }

extern "C" {

WINPLAT_API DWORD GetLastError();
WINPLAT_API void SetLastError(DWORD error);

// Handles (every kind of kernel object the platform hands out).
WINPLAT_API BOOL CloseHandle(HANDLE object);
WINPLAT_API BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target,
                                 DWORD desiredAccess, BOOL inheritHandle, DWORD options);
WINPLAT_API HANDLE GetCurrentProcess();
WINPLAT_API HANDLE GetCurrentThread();

// Events.
WINPLAT_API HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                                LPCWSTR name);
WINPLAT_API BOOL SetEvent(HANDLE event);
WINPLAT_API BOOL ResetEvent(HANDLE event);

// Waits on events, threads and processes, mixed freely.
WINPLAT_API DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
WINPLAT_API DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                         DWORD milliseconds);

// Critical sections.
WINPLAT_API void InitializeCriticalSection(LPCRITICAL_SECTION section);
WINPLAT_API BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION section, DWORD spinCount);
WINPLAT_API void DeleteCriticalSection(LPCRITICAL_SECTION section);
WINPLAT_API void EnterCriticalSection(LPCRITICAL_SECTION section);
WINPLAT_API BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
WINPLAT_API void LeaveCriticalSection(LPCRITICAL_SECTION section);

// Threads. `_beginthreadex` returns the thread handle (0 on failure, with the
// last error and errno set) and stores the id that GetCurrentThreadId will
// report on the new thread.
WINPLAT_API uintptr_t _beginthreadex(void* security, unsigned stackSize, unsigned (*startAddress)(void*),
                                     void* argList, unsigned initFlag, unsigned* threadId);
WINPLAT_API DWORD ResumeThread(HANDLE thread);
WINPLAT_API DWORD SuspendThread(HANDLE thread);
WINPLAT_API BOOL SetThreadPriority(HANDLE thread, int priority);
WINPLAT_API int GetThreadPriority(HANDLE thread);
WINPLAT_API DWORD GetCurrentThreadId();
WINPLAT_API BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
[[noreturn]] WINPLAT_API void ExitThread(DWORD exitCode);
WINPLAT_API void Sleep(DWORD milliseconds);

// Thread-local storage. An index can be 0.
WINPLAT_API DWORD TlsAlloc();
WINPLAT_API BOOL TlsFree(DWORD index);
WINPLAT_API LPVOID TlsGetValue(DWORD index);
WINPLAT_API BOOL TlsSetValue(DWORD index, LPVOID value);

// Debugger. RaiseException supports only the thread-name exception
// 0x406D1388 (the thread is named and the call returns); any other code stops
// the process with a message.
WINPLAT_API BOOL IsDebuggerPresent();
WINPLAT_API void RaiseException(DWORD code, DWORD flags, DWORD argumentCount, const ULONG_PTR* arguments);

// Processes.
WINPLAT_API DWORD GetCurrentProcessId();
WINPLAT_API BOOL DisableThreadLibraryCalls(HMODULE module);
WINPLAT_API HANDLE OpenProcess(DWORD desiredAccess, BOOL inheritHandle, DWORD processId);
WINPLAT_API BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
WINPLAT_API BOOL TerminateProcess(HANDLE process, UINT exitCode);
WINPLAT_API DWORD GetProcessId(HANDLE process);

}  // extern "C"

// Interlocked operations: full barriers, as on the platform.
inline LONG InterlockedIncrement(volatile LONG* addend) {
    return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(volatile LONG* addend) {
    return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(volatile LONG* target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchangeAdd(volatile LONG* addend, LONG value) {
    return __atomic_fetch_add(addend, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(volatile LONG* destination, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}
inline void* InterlockedCompareExchangePointer(void* volatile* destination, void* exchange, void* comparand) {
    __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}
inline void* InterlockedExchangePointer(void* volatile* target, void* value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

namespace winplat::kernel {

// Live handles of every kind (events, threads, processes, files, ...), for
// leak checks in tests.
WINPLAT_API size_t openHandleCount();

// Test hooks for the debugger path: force IsDebuggerPresent's answer
// (-1: ask the system again, 0: false, 1: true).
WINPLAT_API void setDebuggerPresentOverride(int present);
// The full name last announced for a thread id through RaiseException
// (empty when none); the system name is cut to 15 bytes, this one is not.
WINPLAT_API std::string announcedThreadName(DWORD threadId);

}  // namespace winplat::kernel
