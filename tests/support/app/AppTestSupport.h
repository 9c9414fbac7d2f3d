#pragma once

#include "model/BrowserModel.h"

#include <chrono>
#include <functional>
#include <string>

// Helpers shared by the model and view tests of the app.
namespace testsupport {

// Runs the event loop, through which background results arrive, until `done` holds; false
// when the deadline passed first.
bool waitFor(const std::function<bool()>& done,
             std::chrono::milliseconds deadline = std::chrono::seconds(30));

// Waits until the model has read its file or failed to; fails the test when it does not.
void waitUntilLoaded(const tallyfox::BrowserModel& model);

// A node of the model's tree by its name, for readable expectations.
tallyfox::NodeId idOf(const tallyfox::BrowserModel& model, const std::string& name);

}  // namespace testsupport
