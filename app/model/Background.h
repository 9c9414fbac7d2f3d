#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QtConcurrent>

#include <atomic>
#include <memory>
#include <type_traits>
#include <utility>

namespace tallyfox {

// Work in the thread pool whose answer comes back to one object on the main thread.
//
// The answer is delivered only while that object lives: it is posted to the application
// object, which outlives every model, and the receiver is looked up through a weak reference
// when the event loop gets there, so an object released in between is never touched. Work
// that answers a request which a newer one can overtake (the same question about another
// folder, a stop) runs in a lane: only the newest request's answer is delivered, and the
// older work sees its stop flag raised and may end early.
namespace Background {

// Raised when the request's answer is no longer wanted: overtaken, stopped, or its lane gone.
using StopFlag = std::atomic<bool>;

// One kind of request of one object. Lives on the main thread, normally as a member of the
// object that receives the answers; destroying it stops its work.
class Lane {
 public:
  Lane() = default;
  Lane(const Lane&) = delete;
  Lane& operator=(const Lane&) = delete;
  ~Lane() { stop(); }

  // Starts a request: the one before it, if any, is overtaken.
  std::shared_ptr<StopFlag> begin() {
    stop();
    current_ = std::make_shared<StopFlag>(false);
    return current_;
  }
  // Drops the answer on its way, if any, and asks its work to end.
  void stop() {
    if (current_) current_->store(true);
    current_.reset();
  }
  // A request is out and its answer has not been taken yet.
  bool isWaiting() const { return current_ != nullptr; }

 private:
  template <typename Work, typename Deliver>
  friend void run(QObject* receiver, Lane& lane, Work work, Deliver deliver);
  // Called on the main thread before the answer is delivered: the request is answered.
  void answered(const std::shared_ptr<StopFlag>& flag) {
    if (current_ == flag) current_.reset();
  }

  std::shared_ptr<StopFlag> current_;
};

// Runs `call` on the main thread later, after the event loop gets there, while `receiver`
// lives: for what work says before its end (progress, a phase). The receiver is the weak
// reference taken on the main thread when the work began.
template <typename Receiver, typename Call>
void post(QPointer<Receiver> receiver, Call call) {
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [receiver = std::move(receiver), call = std::move(call)]() mutable {
        if (receiver) call();
      },
      Qt::QueuedConnection);
}

namespace detail {

template <typename Work>
decltype(auto) perform(Work& work, const StopFlag& stop) {
  if constexpr (std::is_invocable_v<Work&, const StopFlag&>)
    return work(stop);
  else
    return work();
}

// Calls `deliver` with the result of `work`, or with nothing when the work returns nothing.
template <typename Work, typename Deliver>
void performAndPost(Work& work, Deliver deliver, const StopFlag& stop, QPointer<QObject> receiver,
                    std::shared_ptr<StopFlag> flag) {
  using Result = decltype(perform(work, stop));
  const auto hand = [flag](auto& deliver, auto&&... result) {
    if (flag && flag->load()) return;  // overtaken meanwhile
    deliver(std::forward<decltype(result)>(result)...);
  };
  if constexpr (std::is_void_v<Result>) {
    perform(work, stop);
    post(std::move(receiver), [deliver = std::move(deliver), hand]() mutable { hand(deliver); });
  } else {
    std::decay_t<Result> result = perform(work, stop);
    post(std::move(receiver), [deliver = std::move(deliver), hand, result = std::move(result)]() mutable {
      hand(deliver, std::move(result));
    });
  }
}

}  // namespace detail

// Runs `work` in the thread pool, then `deliver(result)` (or `deliver()` when the work returns
// nothing) on the main thread while `receiver` lives. `work` may take the request's stop flag
// (never raised outside a lane). It must not throw: a failure is part of its result, since
// only the receiver knows where to show it. `deliver` may capture the receiver's `this`.
template <typename Work, typename Deliver>
void run(QObject* receiver, Work work, Deliver deliver) {
  (void)QtConcurrent::run([receiver = QPointer<QObject>(receiver), work = std::move(work),
                           deliver = std::move(deliver)]() mutable {
    static const StopFlag never{false};
    detail::performAndPost(work, std::move(deliver), never, std::move(receiver), nullptr);
  });
}

// The same in `lane`: the request overtakes the lane's earlier one, and its answer is dropped
// in turn when a newer request or a stop comes first. Work overtaken before it starts is
// skipped.
template <typename Work, typename Deliver>
void run(QObject* receiver, Lane& lane, Work work, Deliver deliver) {
  std::shared_ptr<StopFlag> flag = lane.begin();
  // The lane is reached only after the receiver is known to live; it is the receiver's.
  auto answered = [&lane, flag, deliver = std::move(deliver)](auto&&... result) mutable {
    lane.answered(flag);
    deliver(std::forward<decltype(result)>(result)...);
  };
  (void)QtConcurrent::run([receiver = QPointer<QObject>(receiver), work = std::move(work),
                           answered = std::move(answered), flag]() mutable {
    if (flag->load()) return;
    detail::performAndPost(work, std::move(answered), *flag, std::move(receiver), flag);
  });
}

// Runs `work` in the thread pool with nobody waiting for its end: writing a courtesy copy.
template <typename Work>
void detach(Work work) {
  (void)QtConcurrent::run(std::move(work));
}

}  // namespace Background

}  // namespace tallyfox
