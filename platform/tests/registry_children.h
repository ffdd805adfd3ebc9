// Other processes for the registry tests: the reg_writer helper started with
// its output caught, and waited for with a bound.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace regtest {

inline const std::string& writerPath() {
    static const std::string path = std::string(WINPLAT_HELPER_DIR) + "/winplat_reg_writer";
    return path;
}

// A running helper; `out` and `err` read its stdout and stderr when asked
// for (else they go where the test's go).
struct Child {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
    int in = -1;  // its stdin, when asked for
};

inline Child spawnChild(std::vector<std::string> args, bool catchOutput = false, bool feedInput = false) {
    args.insert(args.begin(), writerPath());
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    Child c;
    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1}, inPipe[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Each in a process group of its own, whose only link outside is this
    // process: a child stopped at an injection point is never sent SIGHUP
    // for a group orphaned around the test (one started from a shell job
    // that has ended), which would end it.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    if (catchOutput && pipe2(outPipe, O_CLOEXEC) == 0 && pipe2(errPipe, O_CLOEXEC) == 0) {
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    }
    if (feedInput && pipe2(inPipe, O_CLOEXEC) == 0) {
        posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    }
    if (posix_spawn(&c.pid, writerPath().c_str(), &actions, &attr, argv.data(), environ) != 0) {
        c.pid = -1;
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {outPipe[1], errPipe[1], inPipe[0]}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    c.out = outPipe[0];
    c.err = errPipe[0];
    c.in = inPipe[1];
    return c;
}

inline pid_t spawnWriter(std::vector<std::string> args) {
    return spawnChild(std::move(args)).pid;
}

// All a pipe holds until its writer closes it.
inline std::string drain(int fd) {
    std::string out;
    char buf[4096];
    ssize_t n;
    while (fd >= 0 && (n = read(fd, buf, sizeof buf)) != 0) {
        if (n > 0) {
            out.append(buf, static_cast<size_t>(n));
        } else if (errno != EINTR) {
            break;
        }
    }
    if (fd >= 0) {
        close(fd);
    }
    return out;
}

// The child's exit status (128 + the signal that ended it), or -1 when it
// has not ended within the bound (it is then killed). Blocks on the child's
// pidfd, so the wait ends when the child does, not at a later poll.
inline int waitBounded(pid_t pid, std::chrono::seconds bound) {
    bool late = false;
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd >= 0) {
        struct pollfd p = {fd, POLLIN, 0};
        int ready;
        while ((ready = poll(&p, 1, static_cast<int>(bound.count() * 1000))) < 0 && errno == EINTR) {
        }
        close(fd);
        if (ready == 0) {
            late = true;
            kill(pid, SIGKILL);
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    if (late) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs the helper to its end: its exit status, as waitBounded gives it.
inline int run(std::vector<std::string> args) {
    return waitBounded(spawnWriter(std::move(args)), std::chrono::seconds(60));
}

// A helper run to its end, its exit status and what it said on stderr.
struct Ran {
    int status;
    std::string err;
};
inline Ran runCaught(std::vector<std::string> args) {
    const Child c = spawnChild(std::move(args), true);
    std::string err = drain(c.err);
    drain(c.out);
    return {waitBounded(c.pid, std::chrono::seconds(60)), std::move(err)};
}

// The helper in "script" mode, stepped one command at a time: each ask()
// returns once the command is done, with what winplat said during it.
class Scripted {
  public:
    explicit Scripted(std::vector<std::string> options = {}) {
        options.push_back("script");
        ::signal(SIGPIPE, SIG_IGN);  // a helper that ended fails ask(), not the test
        c_ = spawnChild(std::move(options), true, true);
    }
    Scripted(const Scripted&) = delete;
    Scripted& operator=(const Scripted&) = delete;
    ~Scripted() {
        if (c_.pid > 0) {
            kill(c_.pid, SIGKILL);
            end();
        }
    }
    struct Answer {
        long long result = -3;  // -3: no answer (the helper ended)
        std::string said;
    };
    Answer ask(const std::string& command) {
        const std::string line = command + "\n";
        Answer a;
        if (c_.in < 0 || write(c_.in, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
            return a;
        }
        std::string got;
        char ch;
        while (read(c_.out, &ch, 1) == 1 && ch != '\n') {
            got.push_back(ch);
        }
        const size_t tab = got.find('\t');
        if (tab == std::string::npos) {
            return a;
        }
        a.result = std::stoll(got.substr(0, tab));
        for (size_t i = tab + 1; i < got.size(); ++i) {
            if (got[i] == '\\' && i + 1 < got.size()) {
                a.said += got[++i] == 'n' ? '\n' : got[i];
            } else {
                a.said += got[i];
            }
        }
        return a;
    }
    long long get(const std::string& name) { return ask("get " + name).result; }
    // Ends it (closing its input: it exits as a program does); its exit
    // status, and what it said on stderr outside ask().
    int end() {
        if (c_.in >= 0) {
            close(c_.in);
            c_.in = -1;
        }
        err_ = drain(c_.err);
        drain(c_.out);
        const int status = c_.pid > 0 ? waitBounded(c_.pid, std::chrono::seconds(60)) : -1;
        c_.pid = -1;
        return status;
    }
    const std::string& err() const { return err_; }
    pid_t pid() const { return c_.pid; }

  private:
    Child c_;
    std::string err_;
};

// Whether the process `pid` ended, or waits for a file lock another holds:
// a state /proc shows, not a moment to wait for.
inline bool endedOrWaitsForALock(pid_t pid) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid) {
        return true;
    }
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        if (line.find("->") != std::string::npos &&
            line.find(" " + std::to_string(pid) + " ") != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Waits until the child stops itself (an injection point raised SIGSTOP).
inline bool waitStopped(pid_t pid, std::chrono::seconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        const pid_t r = waitpid(pid, &status, WNOHANG | WUNTRACED);
        if (r == pid) {
            return WIFSTOPPED(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

}  // namespace regtest
