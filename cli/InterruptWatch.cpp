#include "InterruptWatch.h"

#include <pthread.h>

namespace tfscan {

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt, std::function<void()> onTick,
                               std::initializer_list<int> interrupts)
    : onInterrupt_(std::move(onInterrupt)), onTick_(std::move(onTick)) {
  sigemptyset(&interrupts_);
  for (const int signal : interrupts) sigaddset(&interrupts_, signal);
  signals_ = interrupts_;
  sigaddset(&signals_, wakeSignal);
  ::pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
  thread_ = std::thread([this] { watch(); });
}

void InterruptWatch::stop() {
  if (!thread_.joinable()) return;
  stopping_.store(true);
  ::pthread_kill(thread_.native_handle(), wakeSignal);
  thread_.join();
}

bool InterruptWatch::interrupted() {
  if (interrupted_.load()) return true;
  if (thread_.joinable()) return false;
  const timespec now{0, 0};
  if (::sigtimedwait(&interrupts_, nullptr, &now) > 0) interrupted_.store(true);
  return interrupted_.load();
}

void InterruptWatch::watch() {
  onTick_();
  auto next = std::chrono::steady_clock::now() + tickInterval;
  while (!stopping_.load()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::nanoseconds>(next - std::chrono::steady_clock::now());
    const timespec wait{time_t(left.count() > 0 ? left.count() / 1'000'000'000 : 0),
                        long(left.count() > 0 ? left.count() % 1'000'000'000 : 0)};
    const int signal = ::sigtimedwait(&signals_, nullptr, &wait);
    if (signal > 0 && signal != wakeSignal && !interrupted_.exchange(true)) onInterrupt_();
    if (stopping_.load()) break;
    if (std::chrono::steady_clock::now() >= next) {
      onTick_();
      next = std::chrono::steady_clock::now() + tickInterval;
    }
  }
}

}  // namespace tfscan
