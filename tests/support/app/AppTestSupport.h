#pragma once

#include "model/BrowserModel.h"
#include "model/UpdaterDriver.h"
#include "platform/Desktop.h"

#include <QByteArrayList>
#include <QStringList>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Helpers shared by the model and view tests of the app.
namespace testsupport {

// Runs the event loop, through which background results arrive, until `done` holds; false
// when the deadline passed first.
bool waitFor(const std::function<bool()>& done,
             std::chrono::milliseconds deadline = std::chrono::seconds(30));

// Waits until the model has read its file or failed to; fails the test when it does not.
void waitUntilLoaded(const tallyfox::BrowserModel& model);

// A path's bytes as the models and platform services take paths.
inline QByteArray pathBytes(const std::filesystem::path& path) {
  return QByteArray::fromStdString(path.native());
}

// A node of the model's tree by its name, for readable expectations.
tallyfox::NodeId idOf(const tallyfox::BrowserModel& model, const std::string& name);

// The desktop services a window would use, recording what the model asked of them, and
// touching nothing on disk. The Trash takes what `trashFails` does not name, and deletes for
// good what `deleteFails` does not; emptying fails with `emptyError` when one is set and
// reports `emptyRefused` as trash folders it left alone.
struct RecordingDesktop {
  struct State {
    QByteArrayList revealed, opened, copiedReferences, trashed, terminals;  // exact bytes
    QStringList copiedTexts;
    int beeps = 0;
    int emptied = 0;
    QByteArrayList trashFails;
    std::optional<QString> emptyError;
    QStringList emptyRefused;
    // Deleted for good, and the folder each was found below.
    QByteArrayList deleted, deletedBelow;
    QByteArrayList deleteFails;
  };
  std::shared_ptr<State> state = std::make_shared<State>();
  tallyfox::Desktop desktop() const;
};

// Stands in for an update framework: it starts (or fails to, with `startError`), counts the
// checks asked of it and hands the test the listener, through which the test says what was
// found and downloaded.
class FakeUpdaterDriver : public tallyfox::UpdaterDriver {
 public:
  struct State {
    std::optional<QString> startError;
    Listener* listener = nullptr;
    int checks = 0;
  };
  explicit FakeUpdaterDriver(std::shared_ptr<State> state) : state_(std::move(state)) {}
  std::optional<QString> start(Listener& listener) override;
  void checkInBackground() override { ++state_->checks; }

 private:
  std::shared_ptr<State> state_;
};

}  // namespace testsupport
