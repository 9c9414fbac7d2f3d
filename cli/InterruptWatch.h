#pragma once

#include <signal.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <thread>

namespace tfscan {

// The exit status of a command ended by an interrupt, as a shell reports a SIGINT.
inline constexpr int exitInterrupted = 130;

// An interrupt as a request, not a kill: the interrupting signals (Ctrl-C's SIGINT, and for a
// run under a service manager its SIGTERM) are blocked in every thread (the scanner's threads
// inherit the mask) and taken by one watching thread, which also paces the progress lines.
// An interrupt that comes at any moment before the command ends is seen by interrupted().
class InterruptWatch {
 public:
  static constexpr auto tickInterval = std::chrono::milliseconds(200);

  InterruptWatch(std::function<void()> onInterrupt, std::function<void()> onTick,
                 std::initializer_list<int> interrupts = {SIGINT});
  ~InterruptWatch() { stop(); }
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // Ends the watching thread; interrupts from now on stay pending for interrupted().
  void stop();
  bool interrupted();

 private:
  static constexpr int wakeSignal = SIGUSR2;

  void watch();

  std::function<void()> onInterrupt_, onTick_;
  sigset_t interrupts_;
  sigset_t signals_;  // the interrupts and the wake signal
  std::atomic<bool> stopping_{false};
  std::atomic<bool> interrupted_{false};
  std::thread thread_;
};

}  // namespace tfscan
