#pragma once

#include "TestSupport.h"
#include "model/BrowserModel.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace testsupport {

// Runs the event loop until `done` holds or the deadline passes; true when it holds.
bool waitFor(const std::function<bool()>& done,
             std::chrono::milliseconds deadline = std::chrono::seconds(20));

// Writes a snapshot of the literal tree to `file`.
void writeSnapshot(const std::filesystem::path& file, const std::vector<Node>& nodes,
                   const std::string& rootPath = "/data",
                   std::chrono::system_clock::time_point started = std::chrono::system_clock::now());

// The desktop services a window would use, recording what the model asked of them.
struct RecordingDesktop {
  struct State {
    QStringList revealed, opened, copied;
    int beeps = 0;
  };
  std::shared_ptr<State> state = std::make_shared<State>();
  tallyfox::Desktop desktop() const;
};

// A model on the file, loaded; fails the test when loading does not finish.
std::unique_ptr<tallyfox::BrowserModel> loadedModel(const std::filesystem::path& file,
                                                    tallyfox::Desktop desktop = {});

// Node ids by name, for readable expectations.
tallyfox::NodeId idOf(const tallyfox::BrowserModel& model, const std::string& name);
std::vector<std::string> namesOf(const tallyfox::BrowserModel& model,
                                 const std::vector<tallyfox::NodeId>& ids);

}  // namespace testsupport
