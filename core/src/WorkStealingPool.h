#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <mutex>
#include <vector>

namespace tallyfox::detail {

// What the processor moves between cores at once: data that different threads write must
// not share one.
constexpr std::size_t cacheLine = 64;

// Jobs shared out among a fixed set of worker threads, one queue per worker. A folder's
// subfolders are found by whoever lists it, so work appears where it is done: each worker
// keeps what it finds in its own queue and takes from others only when its own runs dry.
// Own jobs pop from the back (depth first keeps queues short); thieves take from the head,
// the oldest job, which is usually a folder near the top carrying the most work.
//
// Header only: a worker asks for a job and hands back its finds once per folder, and a scan
// of small folders does little else between.
template <typename Job>
class WorkStealingPool {
 public:
  // Starts over with this many queues, the first holding the one job to begin with.
  void start(int queueCount, Job first) {
    queueCount_ = queueCount;
    queues_ = std::make_unique<WorkQueue[]>(std::size_t(queueCount));
    queues_[0].items.push_back(std::move(first));
    pending_.store(1);
  }

  int queueCount() const { return queueCount_; }

  // Workers from this index on take no jobs but wait until the limit rises again.
  void setActiveLimit(int limit) { activeLimit_.store(limit); }
  bool isActive(int index) const { return index < activeLimit_.load(std::memory_order_relaxed); }

  // No job is queued or being worked on: the work is done.
  bool finished() const { return pending_.load(std::memory_order_acquire) == 0; }

  // The next job for worker index, from its own queue or stolen from another; waits briefly
  // while others still work. False when there is none for now, or the worker is not active.
  bool next(int index, Job& job) {
    for (;;) {
      if (!isActive(index)) return false;
      if (popOwn(index, job)) return true;
      for (int k = 1; k < queueCount_; ++k)
        if (steal((index + k) % queueCount_, job)) return true;
      if (finished()) return false;
      {
        std::unique_lock lock(idleMutex_);
        idleWorkers_.fetch_add(1);
        idleCondition_.wait_for(lock, idleWait);
        idleWorkers_.fetch_sub(1);
      }
    }
  }

  // Queues the jobs of worker index and empties jobs; they come back out in their order.
  void push(int index, std::vector<Job>& jobs) {
    const std::size_t count = jobs.size();
    // Counted before they become visible, so that no thread sees the work end meanwhile.
    pending_.fetch_add(std::int64_t(count), std::memory_order_acq_rel);
    {
      // Pushed in reverse: the own queue pops from the back, so in the given order.
      WorkQueue& queue = queues_[std::size_t(index)];
      std::lock_guard guard(queue.lock);
      for (auto job = jobs.rbegin(); job != jobs.rend(); ++job) queue.items.push_back(std::move(*job));
    }
    jobs.clear();
    if (idleWorkers_.load(std::memory_order_relaxed) >= 1) wakeIdle(count > 1);
  }

  // A job taken by next() is done, whatever became of it.
  void jobDone() {
    if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) wakeIdle(true);
  }

  // An inactive worker's wait for the limit to change or the work to end.
  void park() {
    std::unique_lock lock(idleMutex_);
    idleCondition_.wait_for(lock, parkedWait);
  }

  void wakeIdle(bool all) {
    std::lock_guard lock(idleMutex_);
    if (all)
      idleCondition_.notify_all();
    else
      idleCondition_.notify_one();
  }

 private:
  static constexpr std::size_t compactAfterSteals = 1024;
  static constexpr auto idleWait = std::chrono::milliseconds(2);
  static constexpr auto parkedWait = std::chrono::milliseconds(50);

  // Each queue on lines of its own: a worker takes its own queue's lock all the time.
  struct alignas(cacheLine) WorkQueue {
    std::mutex lock;
    std::vector<Job> items;
    std::size_t head = 0;
  };

  // Read by every worker at every turn and written rarely: on a line of their own, so that
  // the counters below, written all the time, never make reading them miss the cache.
  alignas(cacheLine) std::atomic<int> activeLimit_{0};
  int queueCount_ = 0;
  alignas(cacheLine) std::atomic<std::int64_t> pending_{0};
  alignas(cacheLine) std::atomic<int> idleWorkers_{0};
  alignas(cacheLine) std::unique_ptr<WorkQueue[]> queues_;
  std::mutex idleMutex_;
  std::condition_variable idleCondition_;

  bool popOwn(int index, Job& job) {
    WorkQueue& queue = queues_[std::size_t(index)];
    std::lock_guard guard(queue.lock);
    if (queue.head >= queue.items.size()) return false;
    job = std::move(queue.items.back());
    queue.items.pop_back();
    if (queue.items.size() == queue.head) {
      queue.items.clear();
      queue.head = 0;
    }
    return true;
  }

  bool steal(int victim, Job& job) {
    WorkQueue& queue = queues_[std::size_t(victim)];
    std::lock_guard guard(queue.lock);
    if (queue.head >= queue.items.size()) return false;
    const std::size_t oldHead = queue.head;
    job = std::move(queue.items[oldHead]);
    queue.head = oldHead + 1;
    // Compacting rarely keeps a steal O(1) on average.
    if (oldHead >= compactAfterSteals && queue.items.size() < 2 * queue.head) {
      queue.items.erase(queue.items.begin(), queue.items.begin() + std::ptrdiff_t(queue.head));
      queue.head = 0;
    }
    return true;
  }
};

}  // namespace tallyfox::detail
