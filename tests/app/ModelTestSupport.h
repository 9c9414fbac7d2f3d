#pragma once

#include "AppTestSupport.h"
#include "TestSupport.h"
#include "model/BrowserModel.h"
#include "model/Settings.h"

#include <tallyfox/Preferences.h>

#include <gtest/gtest.h>

#include <QByteArrayList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace testsupport {

// When the tests began: the snapshots they write are dated from it.
inline const std::chrono::system_clock::time_point now = std::chrono::system_clock::now();

// Writes a snapshot of the literal tree to `file`.
void writeSnapshot(const std::filesystem::path& file, const std::vector<Node>& nodes,
                   const std::string& rootPath = "/data",
                   std::chrono::system_clock::time_point started = std::chrono::system_clock::now());

// A model on the file, loaded; fails the test when loading does not finish.
std::unique_ptr<tallyfox::BrowserModel> loadedModel(const std::filesystem::path& file,
                                                    tallyfox::Desktop desktop = {});
// The same with more of a window's services (the settings, the documents).
std::unique_ptr<tallyfox::BrowserModel> loadedModel(const std::filesystem::path& file,
                                                    tallyfox::Services services);

std::vector<std::string> namesOf(const tallyfox::BrowserModel& model,
                                 const std::vector<tallyfox::NodeId>& ids);

// A home of its own whose snapshots folder holds several snapshots of a place, opened in
// models with the settings, as the windows that compare them and show their history are.
class SnapshotsFolderTest : public ::testing::Test {
 protected:
  std::filesystem::path snapshot(const std::string& name, const std::vector<Node>& nodes,
                                 const std::string& root, std::chrono::system_clock::time_point started);
  std::unique_ptr<tallyfox::BrowserModel> open(const std::filesystem::path& file);

  ScopedHome home;
  tallyfox::Settings settings{tallyfox::Preferences::standard()};
  std::filesystem::path folder = settings.snapshotsFolder();
  RecordingDesktop desktop;
  bool made = std::filesystem::create_directories(folder);
};

}  // namespace testsupport
