#include "shell/InstanceRequest.h"

#include <QList>

#include <optional>

namespace tallyfox {

namespace {

// A line of its own; never a path, since paths are absolute and start with a slash.
const QByteArray newScanLine = QByteArrayLiteral("new-scan");
// Its paths are percent-encoded, so without blanks.
const QByteArray compareWord = QByteArrayLiteral("compare");

QByteArray encoded(const std::string& bytes) {
  return QByteArray::fromStdString(bytes).toPercentEncoding("/");
}

std::string decoded(const QByteArray& word) {
  return QByteArray::fromPercentEncoding(word).toStdString();
}

bool holdsNul(const std::string& bytes) {
  return bytes.find('\0') != std::string::npos;
}

std::optional<std::filesystem::path> absolutePath(const QByteArray& word) {
  std::string path = decoded(word);
  if (!path.starts_with('/') || holdsNul(path)) return std::nullopt;
  return std::filesystem::path(std::move(path));
}

std::optional<InstanceRequest::Comparison> comparison(const QList<QByteArray>& words) {
  auto snapshot = absolutePath(words[1]);
  std::optional<std::filesystem::path> baseline = std::filesystem::path();
  if (!words[2].isEmpty()) baseline = absolutePath(words[2]);
  std::string folder = decoded(words[3]);
  if (!snapshot || !baseline || holdsNul(folder)) return std::nullopt;
  return InstanceRequest::Comparison{std::move(*snapshot), std::move(*baseline), std::move(folder)};
}

}  // namespace

QByteArray InstanceRequest::encoded() const {
  QByteArray request;
  for (const auto& file : files) request += tallyfox::encoded(file.native()) + '\n';
  if (newScan) request += newScanLine + '\n';
  for (const Comparison& c : comparisons)
    request += compareWord + ' ' + tallyfox::encoded(c.snapshot.native()) + ' ' +
               tallyfox::encoded(c.baseline.native()) + ' ' + tallyfox::encoded(c.folder) + '\n';
  return request + '\n';
}

bool InstanceRequest::complete(const QByteArray& received) {
  return received.endsWith("\n\n") || received == "\n";
}

InstanceRequest InstanceRequest::parse(const QByteArray& received) {
  InstanceRequest request;
  for (const QByteArray& line : received.split('\n')) {
    const QList<QByteArray> words = line.split(' ');
    if (line == newScanLine) {
      request.newScan = true;
    } else if (words.size() == 4 && words[0] == compareWord) {
      if (auto c = comparison(words)) request.comparisons.push_back(std::move(*c));
    } else if (!line.isEmpty()) {
      if (auto path = absolutePath(line)) request.files.push_back(std::move(*path));
    }
  }
  return request;
}

}  // namespace tallyfox
