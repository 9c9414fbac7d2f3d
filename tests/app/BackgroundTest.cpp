#include "AppTestSupport.h"
#include "model/Background.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <latch>
#include <memory>
#include <vector>

using namespace tallyfox;
using testsupport::waitFor;

namespace {

// A model that asks questions in a lane and keeps the answers it was given.
struct Asker : QObject {
  Background::Lane lane;
  std::vector<int> answers;

  // With a gate, the work says it started, then holds until the gate opens.
  void ask(int question, std::latch* gate = nullptr, std::atomic<bool>* sawStop = nullptr,
           std::latch* started = nullptr) {
    Background::run(
        this, lane,
        [question, gate, sawStop, started](const Background::StopFlag& stop) {
          if (started) started->count_down();
          if (gate) gate->wait();
          if (sawStop) sawStop->store(stop.load());
          return question * 10;
        },
        [this](int answer) { answers.push_back(answer); });
  }
};

// Every answer the pool's work has posted so far is handled (or dropped) now.
void settle() {
  QThreadPool::globalInstance()->waitForDone();
  QCoreApplication::sendPostedEvents();
}

}  // namespace

TEST(BackgroundTest, AnswerForAnObjectGoneMeanwhileIsDroppedAndItsWorkToldToStop) {
  std::latch gate(1);
  std::atomic<bool> sawStop = false;
  std::latch started(1);
  auto asker = std::make_unique<Asker>();
  asker->ask(1, &gate, &sawStop, &started);
  started.wait();
  // The delivery would write into the freed object; under the sanitizer build that is an error
  // even where it happens not to crash.
  asker.reset();
  gate.count_down();
  settle();
  EXPECT_TRUE(sawStop) << "the lane went with its object, and its work should know";

  // Work outside a lane is dropped the same way.
  std::latch plainGate(1);
  bool delivered = false;
  auto receiver = std::make_unique<QObject>();
  Background::run(
      receiver.get(), [&plainGate] { plainGate.wait(); }, [&delivered] { delivered = true; });
  receiver.reset();
  plainGate.count_down();
  settle();
  EXPECT_FALSE(delivered);
}

TEST(BackgroundTest, OnlyTheNewestRequestOfALaneIsAnswered) {
  // The first request holds a pool thread until the second is answered.
  QThreadPool& pool = *QThreadPool::globalInstance();
  pool.setMaxThreadCount(std::max(pool.maxThreadCount(), 4));
  Asker asker;
  std::latch slow(1);
  std::atomic<bool> slowSawStop = false;
  std::latch started(1);
  asker.ask(1, &slow, &slowSawStop, &started);
  started.wait();
  asker.ask(2);
  ASSERT_TRUE(waitFor([&] { return !asker.answers.empty(); }));
  EXPECT_FALSE(asker.lane.isWaiting());
  // The first request finishes last: its answer must not replace the newer one.
  slow.count_down();
  settle();
  EXPECT_EQ(asker.answers, std::vector<int>{20});
  EXPECT_TRUE(slowSawStop);

  // A stop drops the answer on its way; a later request is answered again.
  std::latch stopped(1);
  asker.ask(3, &stopped);
  EXPECT_TRUE(asker.lane.isWaiting());
  asker.lane.stop();
  stopped.count_down();
  settle();
  EXPECT_EQ(asker.answers, std::vector<int>{20});
  asker.ask(4);
  ASSERT_TRUE(waitFor([&] { return asker.answers.size() == 2; }));
  EXPECT_EQ(asker.answers.back(), 40);
}
