#pragma once

#include "AppTestSupport.h"
#include "TestSupport.h"
#include "model/BrowserModel.h"

#include <QByteArrayList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace testsupport {

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

}  // namespace testsupport
