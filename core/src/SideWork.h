#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>

namespace tallyfox {

// Work on a large tree worth sharing with a second thread: below this many nodes the
// thread costs more than it saves.
constexpr std::size_t nodesForSecondThread = 65536;

// Runs work on a second thread when one is to be had, else at wait(); wait() also passes on
// what the work threw. Destruction waits too, so that no exit path leaves the thread behind.
class SideWork {
 public:
  SideWork(bool separate, std::function<void()> work) : work_(std::move(work)) {
    if (!separate) return;
    try {
      thread_ = std::thread([this] {
        try {
          work_();
        } catch (...) {
          failure_ = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      // No thread to be had: wait() does the work.
    }
  }
  ~SideWork() {
    if (thread_.joinable()) thread_.join();
  }
  SideWork(const SideWork&) = delete;
  SideWork& operator=(const SideWork&) = delete;

  void wait() {
    if (thread_.joinable())
      thread_.join();
    else if (!done_)
      work_();
    done_ = true;
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  }

 private:
  std::function<void()> work_;
  std::thread thread_;
  std::exception_ptr failure_;
  bool done_ = false;
};

}  // namespace tallyfox
