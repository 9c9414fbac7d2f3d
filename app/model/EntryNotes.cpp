#include "model/EntryNotes.h"

#include "platform/LocalPath.h"

#include <tallyfox/TreeColumns.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QStringList>

#include <algorithm>
#include <cerrno>

namespace tallyfox::EntryNotes {

namespace {

#ifndef STATX_ATTR_MOUNT_ROOT
#define STATX_ATTR_MOUNT_ROOT 0x00002000
#endif

// Asked from the main thread while the pointer rests on a row: never wait for a network
// file system to answer, never mount an automount point by looking at it.
constexpr int lookFlags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC;

std::optional<struct statx> look(const QByteArray& path) {
  struct statx attributes {};
  if (::statx(AT_FDCWD, path.constData(), lookFlags, STATX_TYPE, &attributes) != 0) return std::nullopt;
  return attributes;
}

}  // namespace

Kind kindOf(const DiskTree& tree, NodeId node) {
  const std::uint8_t flags = tree.flags(node);
  if (flags & EntryFlags::directory) {
    const bool skipped = (flags & EntryFlags::notDescended) && !(flags & EntryFlags::dataless);
    return skipped ? Kind::notScanned : Kind::folder;
  }
  return (flags & EntryFlags::symlink) ? Kind::symlink : Kind::file;
}

std::optional<QByteArray> linkTarget(const QByteArray& path) {
  // A target may be as long as a path; grow until it fits.
  QByteArray target(256, Qt::Uninitialized);
  for (;;) {
    const ssize_t length = ::readlink(path.constData(), target.data(), std::size_t(target.size()));
    if (length < 0) return std::nullopt;
    if (length < target.size()) {
      target.truncate(length);
      return target;
    }
    if (target.size() >= (1 << 20)) return std::nullopt;
    target.resize(target.size() * 4);
  }
}

SkipReason skipReasonOf(const QByteArray& path) {
  const auto self = look(path);
  if (!self || !S_ISDIR(self->stx_mode)) return SkipReason::unknown;
  if ((self->stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (self->stx_attributes & STATX_ATTR_MOUNT_ROOT))
    return SkipReason::otherFileSystem;
  const auto parent = look(parentPath(path));
  if (!parent) return SkipReason::unknown;
  const bool sameDevice =
      self->stx_dev_major == parent->stx_dev_major && self->stx_dev_minor == parent->stx_dev_minor;
  return sameDevice ? SkipReason::skipped : SkipReason::otherFileSystem;
}

QString badge(Kind kind) {
  return kind == Kind::notScanned ? QStringLiteral("not scanned") : QString();
}

QString tooltip(const DiskTree& tree, NodeId node) {
  if (!tree.contains(node)) return {};
  const Kind kind = kindOf(tree, node);
  if (kind != Kind::symlink && kind != Kind::notScanned) return {};
  const QByteArray path = QByteArray::fromStdString(tree.filePath(node));
  if (kind == Kind::symlink) {
    const auto target = linkTarget(path);
    return target ? QStringLiteral("Link to ") + displayPath(*target)
                  : QStringLiteral("Symbolic link; where it points can't be read now");
  }
  switch (skipReasonOf(path)) {
    case SkipReason::otherFileSystem:
      return QStringLiteral("Another file system, not scanned");
    case SkipReason::skipped:
      return QStringLiteral("Left out by the scan (an ignored folder), not scanned");
    case SkipReason::unknown:
      break;
  }
  return QStringLiteral("Not scanned");
}

std::vector<NodeId> notScannedChildren(const DiskTree& tree, NodeId folder) {
  std::vector<NodeId> found;
  const NodeRange children = tree.children(folder);
  for (NodeId child = children.last - 1; child >= children.first && tree.sizeOf(child) == 0; --child)
    if (kindOf(tree, child) == Kind::notScanned) found.push_back(child);
  std::reverse(found.begin(), found.end());
  return found;
}

QString notScannedSummary(std::size_t count) {
  if (count == 0) return {};
  return count == 1 ? QStringLiteral("1 folder not scanned")
                    : QStringLiteral("%1 folders not scanned").arg(count);
}

QString notScannedTooltip(const DiskTree& tree, const std::vector<NodeId>& folders, std::size_t limit) {
  QStringList lines;
  for (std::size_t i = 0; i < folders.size() && i < limit; ++i)
    lines << QString::fromStdString(tree.name(folders[i])) + QStringLiteral(": ") + tooltip(tree, folders[i]);
  if (folders.size() > limit) lines << QStringLiteral("and %1 more").arg(folders.size() - limit);
  return lines.join(QLatin1Char('\n'));
}

}  // namespace tallyfox::EntryNotes
