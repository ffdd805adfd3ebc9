// A hang is a failure: a test thread that waits on other threads arms a
// watchdog that ends the process when the wait outlives it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

class Watchdog {
  public:
    explicit Watchdog(int seconds = 30)
        : thread_([this, seconds] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_.wait_for(lock, std::chrono::seconds(seconds), [this] { return finished_; })) {
                  std::fprintf(stderr, "watchdog: the test hangs\n");
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};
