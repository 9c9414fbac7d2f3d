#pragma once

#include <QByteArray>

#include <filesystem>
#include <string>
#include <vector>

namespace tallyfox {

// What a later launch asks of the running Tallyfox over the single-instance socket: files
// or folders to open, the start window for a new scan, comparisons to show. Sent as lines,
// ended by an empty line: one percent-encoded path per line (its bytes as they are, never
// decoded as text, so that every name, even one with a line break or bytes that are not
// UTF-8, fits on its line and arrives unchanged), "new-scan", or "compare" and three encoded
// paths separated by blanks.
//
// Any process of the user can write to the socket, so reading takes only what a launch
// could have sent: absolute paths without NUL bytes (a NUL would cut the path short where
// the file is opened, naming another file). Lines that are not are left out.
struct InstanceRequest {
  // A snapshot compared with an earlier one (an empty baseline: shown alone), at a folder.
  struct Comparison {
    std::filesystem::path snapshot;
    std::filesystem::path baseline;
    std::string folder;
    bool operator==(const Comparison&) const = default;
  };

  std::vector<std::filesystem::path> files;
  bool newScan = false;
  std::vector<Comparison> comparisons;

  bool operator==(const InstanceRequest&) const = default;

  // Requests are short lists of paths; anything longer is not from a launch.
  static constexpr qsizetype longest = 1 << 20;

  // The request's lines and the empty line that ends it.
  QByteArray encoded() const;
  // Whether the bytes received so far hold a whole request.
  static bool complete(const QByteArray& received);
  static InstanceRequest parse(const QByteArray& received);
};

}  // namespace tallyfox
