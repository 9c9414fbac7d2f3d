#include "ModelTestSupport.h"

#include <tallyfox/SnapshotFile.h>

#include <gtest/gtest.h>

namespace testsupport {

void writeSnapshot(const std::filesystem::path& file, const std::vector<Node>& nodes,
                   const std::string& rootPath, std::chrono::system_clock::time_point started) {
  tallyfox::SnapshotFile::write(columnsOf(nodes), {rootPath, started, 1.5}, file);
}

std::unique_ptr<tallyfox::BrowserModel> loadedModel(const std::filesystem::path& file,
                                                    tallyfox::Desktop desktop) {
  return loadedModel(file, tallyfox::Services(std::move(desktop)));
}

std::unique_ptr<tallyfox::BrowserModel> loadedModel(const std::filesystem::path& file,
                                                    tallyfox::Services services) {
  auto model = std::make_unique<tallyfox::BrowserModel>(file, std::move(services));
  model->load();
  waitUntilLoaded(*model);
  return model;
}

std::vector<std::string> namesOf(const tallyfox::BrowserModel& model,
                                 const std::vector<tallyfox::NodeId>& ids) {
  std::vector<std::string> names;
  for (auto id : ids) names.push_back(model.tree()->name(id));
  return names;
}

std::filesystem::path SnapshotsFolderTest::snapshot(const std::string& name, const std::vector<Node>& nodes,
                                                    const std::string& root,
                                                    std::chrono::system_clock::time_point started) {
  const std::filesystem::path file = folder / name;
  writeSnapshot(file, nodes, root, started);
  return file;
}

std::unique_ptr<tallyfox::BrowserModel> SnapshotsFolderTest::open(const std::filesystem::path& file) {
  tallyfox::Services services(desktop.desktop());
  services.settings = &settings;
  return loadedModel(file, std::move(services));
}

}  // namespace testsupport
