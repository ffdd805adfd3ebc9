// Process handles: waits that mix processes with events, exit codes,
// termination, and the failures of OpenProcess.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "winplat/inject.h"
#include "winplat/kernel.h"

extern char** environ;

namespace {

constexpr DWORD kBound = 20000;

// A sleeper child that ends with `code` once `release` closes its input.
struct Child {
    pid_t pid = -1;
    int input = -1;

    explicit Child(int code) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
        const std::string path = std::string(WINPLAT_HELPER_DIR) + "/winplat_sleeper";
        const std::string arg = std::to_string(code);
        char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>(arg.c_str()), nullptr};
        if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ) != 0) {
            pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(fds[0]);
        input = fds[1];
    }

    void release() {
        if (input >= 0) {
            close(input);
            input = -1;
        }
    }

    // Reaps the child (the platform leaves that to whoever started it).
    int reap() {
        release();
        int status = 0;
        if (pid > 0) {
            waitpid(pid, &status, 0);
            pid = -1;
        }
        return status;
    }

    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            reap();
        }
        release();
    }
};

TEST(KernelProcess, HandleIsSignalledWhenTheChildEndsAndCarriesItsExitCode) {
    const size_t before = winplat::kernel::openHandleCount();
    Child child(3);
    ASSERT_GT(child.pid, 0);
    HANDLE h =
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(child.pid));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetProcessId(h), static_cast<DWORD>(child.pid));
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(h, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    child.release();
    ASSERT_EQ(WaitForSingleObject(h, kBound), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);  // stays signalled
    EXPECT_TRUE(GetExitCodeProcess(h, &code));
    EXPECT_EQ(code, 3u);
    EXPECT_TRUE(CloseHandle(h));
    // Still a child of ours to reap: the handle did not take its status.
    EXPECT_EQ(WEXITSTATUS(child.reap()), 3);
    EXPECT_EQ(winplat::kernel::openHandleCount(), before);
}

TEST(KernelProcess, JoinsAWaitWithEvents) {
    Child child(0);
    ASSERT_GT(child.pid, 0);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(child.pid));
    ASSERT_NE(process, nullptr);
    HANDLE both[2] = {event, process};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);
    SetEvent(event);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, INFINITE), WAIT_OBJECT_0);
    child.release();
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, kBound), WAIT_OBJECT_0 + 1);
    SetEvent(event);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, kBound), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);  // the wait-all took it
    CloseHandle(process);
    CloseHandle(event);
}

TEST(KernelProcess, TerminateEndsTheChildWithTheGivenCode) {
    Child child(0);
    ASSERT_GT(child.pid, 0);
    HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE,
                           static_cast<DWORD>(child.pid));
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(TerminateProcess(h, 77));
    ASSERT_EQ(WaitForSingleObject(h, kBound), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(h, &code));
    EXPECT_EQ(code, 77u);
    EXPECT_FALSE(TerminateProcess(h, 1));  // already ended
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(h);
}

TEST(KernelProcess, ASignalledEndReportsTheSignalAsAShellDoes) {
    Child child(0);
    ASSERT_GT(child.pid, 0);
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(child.pid));
    ASSERT_NE(h, nullptr);
    kill(child.pid, SIGTERM);
    ASSERT_EQ(WaitForSingleObject(h, kBound), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(h, &code));
    EXPECT_EQ(code, 128u + SIGTERM);
    CloseHandle(h);
}

TEST(KernelProcess, OwnProcessIsNeverSignalled) {
    HANDLE self = OpenProcess(SYNCHRONIZE, FALSE, GetCurrentProcessId());
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(GetProcessId(self), GetCurrentProcessId());
    EXPECT_EQ(WaitForSingleObject(self, 10), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(GetCurrentProcess(), 0), WAIT_TIMEOUT);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(self, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(GetProcessId(GetCurrentProcess()), static_cast<DWORD>(getpid()));
    CloseHandle(self);
}

TEST(KernelProcess, OpenProcessFailures) {
    const size_t before = winplat::kernel::openHandleCount();
    // A process that has ended and been reaped no longer exists.
    DWORD gone = 0;
    {
        Child child(0);
        ASSERT_GT(child.pid, 0);
        gone = static_cast<DWORD>(child.pid);
        child.reap();
    }
    SetLastError(0);
    EXPECT_EQ(OpenProcess(SYNCHRONIZE, FALSE, gone), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(OpenProcess(SYNCHRONIZE, FALSE, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    winplat::inject::Scope scope;
    winplat::inject::arm("OpenProcess", ERROR_ACCESS_DENIED);
    EXPECT_EQ(OpenProcess(SYNCHRONIZE, FALSE, GetCurrentProcessId()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(winplat::kernel::openHandleCount(), before);

    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeProcess(event, &code));  // not a process
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GetProcessId(event), 0u);
    CloseHandle(event);
}

}  // namespace
