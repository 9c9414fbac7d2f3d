#pragma once

#include <QString>

#include <filesystem>
#include <optional>

namespace tallyfox {

class BrowserModel;

// What a window does differently when its snapshot was scanned on another machine (its file
// lies in the snapshots folder's hosts/HOST/): its paths name files over there, so nothing
// that opens, shows, moves or reads a file on this computer may follow them, and every path
// shown or copied says "HOST:" first.
namespace RemoteBrowsing {

// The snapshots folder a window's snapshot is judged against.
std::filesystem::path snapshotsFolder(const BrowserModel& browser);
// The host of the window's snapshot; nothing for a local one.
std::optional<QString> hostOf(const BrowserModel& browser);
// The folder with the snapshots of the same machine: the host's folder for a remote
// snapshot, the snapshots folder itself for a local one. Comparisons and the list of a
// place's snapshots look only there, so that hosts never mix.
std::filesystem::path sameMachineFolder(const BrowserModel& browser);
// Why an action that needs the file on this computer is not offered; empty when it is.
QString whyNoLocalFile(const BrowserModel& browser);
bool hasLocalFiles(const BrowserModel& browser);

}  // namespace RemoteBrowsing
}  // namespace tallyfox
