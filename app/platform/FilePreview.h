#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QString>

#include <cstdint>
#include <optional>

namespace tallyfox {

// What the in-app preview shows of a file: a picture, else the start of a text, else the
// file's facts. Reading it may wait on a slow disk: callers run read() off the main thread.
struct FilePreview {
  enum class Kind { image, text, facts };

  Kind kind = Kind::facts;
  // A picture, scaled down to fit a preview window.
  QImage image;
  // The start of a text, with "…" on a line of its own where it goes on.
  QString text;
  // The facts: what kind of file it is ("Folder", "Symbolic link to …", a MIME comment),
  // its size (regular files) and its last change.
  QString description;
  std::optional<std::uint64_t> size;
  std::optional<QDateTime> modified;

  // `path` is the file's exact bytes.
  static FilePreview read(const QByteArray& path);
};

}  // namespace tallyfox
