#include <gtest/gtest.h>

#include "TestSupport.h"

#include <QCoreApplication>
#include <QThreadPool>

// The models post their results to the main thread's event loop, so the tests need an
// application object; none of them needs a display.
int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  testsupport::ScopedHome::beforeLeaving([] { QThreadPool::globalInstance()->waitForDone(); });
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
