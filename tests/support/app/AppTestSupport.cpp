#include "AppTestSupport.h"

#include <gtest/gtest.h>

#include <QTest>

namespace testsupport {

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  return QTest::qWaitFor(done, int(deadline.count()));
}

void waitUntilLoaded(const tallyfox::BrowserModel& model) {
  EXPECT_TRUE(waitFor([&] { return !model.state().isLoading(); })) << "loading did not finish";
}

tallyfox::NodeId idOf(const tallyfox::BrowserModel& model, const std::string& name) {
  const auto& tree = *model.tree();
  for (tallyfox::NodeId id = 1; id < tree.totalNodes(); ++id)
    if (tree.name(id) == name) return id;
  ADD_FAILURE() << "no node named " << name;
  return -1;
}

}  // namespace testsupport
