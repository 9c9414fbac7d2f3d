#include "model/RemoteBrowsing.h"

#include "model/BrowserModel.h"
#include "model/Settings.h"
#include "model/SshTarget.h"

#include <tallyfox/Preferences.h>

namespace tallyfox::RemoteBrowsing {

std::filesystem::path snapshotsFolder(const BrowserModel& browser) {
  if (const Settings* settings = browser.services().settings) return settings->snapshotsFolder();
  return SnapshotsFolder::resolve(std::nullopt);
}

std::optional<QString> hostOf(const BrowserModel& browser) {
  if (!browser.fileURL()) return std::nullopt;
  return RemoteSnapshots::hostOf(*browser.fileURL(), snapshotsFolder(browser));
}

std::filesystem::path sameMachineFolder(const BrowserModel& browser) {
  const std::filesystem::path folder = snapshotsFolder(browser);
  if (!browser.fileURL()) return folder;
  const auto host = RemoteSnapshots::hostOf(*browser.fileURL(), folder);
  return host ? RemoteSnapshots::folderOf(folder, *host) : folder;
}

QString whyNoLocalFile(const BrowserModel& browser) {
  const auto host = hostOf(browser);
  if (!host) return {};
  return QStringLiteral("This snapshot was scanned on %1: its files are not on this computer").arg(*host);
}

bool hasLocalFiles(const BrowserModel& browser) {
  return !hostOf(browser);
}

}  // namespace tallyfox::RemoteBrowsing
